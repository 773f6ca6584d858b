// SPDX-License-Identifier: GPL-3.0-or-later
// The platform-independent half of Mp3Destination: naming, creating and removing the temporary.
#include "export/mp3_destination.h"

#include <random>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

Mp3Destination::Mp3Destination(const fs::path& chosen) : target_(resolveTarget(chosen)) {
    if (target_.empty() || isReadOnly(target_)) return;
    static constexpr char ALPHABET[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const fs::path folder = temporaryFolder(target_);
    std::random_device random;
    for (int attempt = 0; attempt < 8 && file_ == NO_FILE; ++attempt) {
        std::string name = ".sonabel-";
        for (int i = 0; i < 6; ++i) name += ALPHABET[random() % (sizeof ALPHABET - 1)];
        const fs::path candidate = folder / (name + ".tmp");
        file_ = createPrivateFile(candidate);
        if (file_ != NO_FILE) temporary_ = candidate;
    }
}

Mp3Destination::~Mp3Destination() {
    if (file_ != NO_FILE) closeFile(file_);
    if (committed_ || temporary_.empty()) return;
    std::error_code ec;
    fs::remove(temporary_, ec);
}

bool Mp3Destination::write(const unsigned char* bytes, std::size_t count) {
    if (file_ == NO_FILE || !writeAt(file_, size_, bytes, count)) return false;
    size_ += count;
    return true;
}

bool Mp3Destination::writeAtStart(const unsigned char* bytes, std::size_t count) {
    return file_ != NO_FILE && count <= size_ && writeAt(file_, 0, bytes, count);
}

bool Mp3Destination::commit() {
    if (file_ == NO_FILE) return false;
    committed_ = putInPlace();
    return committed_;
}
