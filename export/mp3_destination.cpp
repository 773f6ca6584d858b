// SPDX-License-Identifier: GPL-3.0-or-later
// The platform-independent half of Mp3Destination: naming, opening and removing the temporary.
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
    for (int attempt = 0; attempt < 8 && !stream_.is_open(); ++attempt) {
        std::string name = ".sonabel-";
        for (int i = 0; i < 6; ++i) name += ALPHABET[random() % (sizeof ALPHABET - 1)];
        const fs::path candidate = folder / (name + ".tmp");
        if (!createPrivateFile(candidate)) continue;
        stream_.open(candidate, std::ios::binary | std::ios::out | std::ios::trunc);
        std::error_code ec;
        if (stream_.is_open()) temporary_ = candidate;
        else fs::remove(candidate, ec);
    }
}

Mp3Destination::~Mp3Destination() {
    if (committed_ || temporary_.empty()) return;
    stream_.close();
    std::error_code ec;
    fs::remove(temporary_, ec);
}

bool Mp3Destination::commit() {
    // A failed close (the last buffered bytes not written) fails the commit too.
    stream_.close();
    if (stream_.fail() || temporary_.empty()) return false;
    committed_ = putInPlace(temporary_, target_);
    return committed_;
}
