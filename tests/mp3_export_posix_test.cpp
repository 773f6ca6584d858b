// SPDX-License-Identifier: GPL-3.0-or-later
// WAV -> MP3 export checked through a real decoder (libmpg123, Linux test build only), plus the
// POSIX-only ways to reach a file or to make writing fail.
#include <gtest/gtest.h>

#include <mpg123.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "export/mp3_export.h"
#include "tests/mp3_export_fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

using namespace mp3_export_test;

namespace {

struct Decoded {
    long rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;  // interleaved
    std::size_t frames() const { return channels ? samples.size() / static_cast<std::size_t>(channels) : 0; }
};

struct Mpg123Deleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};

// Decodes as a player would, gapless: the encoder delay and padding named in the LAME tag are cut.
Decoded decodeMp3(const fs::path& path) {
    Decoded d;
    std::unique_ptr<mpg123_handle, Mpg123Deleter> mh(mpg123_new(nullptr, nullptr));
    if (!mh) return d;
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    mpg123_format_none(mh.get());
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(mh.get(), path.c_str()) != MPG123_OK) return d;
    std::vector<unsigned char> buffer(65536);
    for (;;) {
        std::size_t done = 0;
        const int rc = mpg123_read(mh.get(), buffer.data(), buffer.size(), &done);
        for (std::size_t i = 0; i + 1 < done; i += 2)
            d.samples.push_back(static_cast<std::int16_t>(buffer[i] | (buffer[i + 1] << 8)));
        if (rc == MPG123_NEW_FORMAT || (rc == MPG123_OK && d.channels == 0)) {
            int encoding = 0;
            mpg123_getformat(mh.get(), &d.rate, &d.channels, &encoding);
        } else if (rc != MPG123_OK) {
            break;  // MPG123_DONE, or an error that leaves the count short
        }
    }
    mpg123_close(mh.get());
    return d;
}

// Power of one frequency in one channel (Goertzel), past the first 4096 frames of ramp-up.
double powerAt(const Decoded& d, int channel, double freq) {
    const double pi = std::acos(-1.0);
    const double coeff = 2.0 * std::cos(2.0 * pi * freq / static_cast<double>(d.rate));
    double s1 = 0.0, s2 = 0.0;
    for (std::size_t i = 4096; i < d.frames(); ++i) {
        const double s0 = d.samples[i * static_cast<std::size_t>(d.channels) + static_cast<std::size_t>(channel)] +
                          coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

// The tone at `expected` outweighs every other candidate by 30 dB or more.
void expectDominant(const Decoded& d, int channel, double expected, std::initializer_list<double> others) {
    const double target = powerAt(d, channel, expected);
    for (const double f : others) {
        EXPECT_GT(target, 1000.0 * powerAt(d, channel, f)) << "channel " << channel << ": " << expected
                                                            << " Hz against " << f << " Hz";
    }
}

void exportWithoutErrors(const fs::path& destination, const fs::path& source) {
    RecordingMessaging sink;
    saveAsMP3(destination.wstring(), source.wstring());
    EXPECT_TRUE(sink.errorBoxes().empty());
}

// Exports `wav` through a named pipe fed in two parts: between them the export waits for samples
// with its temporary open beside `destination`, then given to `midway`. Returns the temporary's mode
// seen then (0: none); the error boxes go to `errors`, else none are expected.
mode_t temporaryModeWhileEncoding(const fs::path& destination, const std::vector<unsigned char>& wav,
                                  const std::function<void(const fs::path&)>& midway = {},
                                  std::vector<std::wstring>* errors = nullptr) {
    const fs::path pipe = destination.parent_path() / "pipe.wav";
    if (mkfifo(pipe.c_str(), 0600) != 0) return 0;
    mode_t seen = 0;
    std::thread feeder([&] {
        // Read-write, so opening never waits for the export; the WAV fits the pipe's 64 KiB.
        std::fstream feed(pipe, std::ios::binary | std::ios::in | std::ios::out);
        const auto half = static_cast<std::streamsize>(wav.size() / 2);
        feed.write(reinterpret_cast<const char*>(wav.data()), half).flush();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (seen == 0 && std::chrono::steady_clock::now() < deadline) {
            for (const auto& e : fs::directory_iterator(destination.parent_path())) {
                struct stat st {};
                if (seen == 0 && e.path().filename().string().rfind(".sonabel-", 0) == 0 && stat(e.path().c_str(), &st) == 0) {
                    seen = st.st_mode & 07777;
                    if (midway) midway(e.path());
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        feed.write(reinterpret_cast<const char*>(wav.data()) + half, static_cast<std::streamsize>(wav.size()) - half);
    });
    RecordingMessaging sink;
    saveAsMP3(destination.wstring(), pipe.wstring());
    if (errors) *errors = sink.errorBoxes();
    else EXPECT_TRUE(sink.errorBoxes().empty());
    feeder.join();
    fs::remove(pipe);
    return seen;
}

// Linked with --wrap=fchmod: every fchmod of the product goes through here and fails with this
// error while it is not 0, as on a file system that keeps no modes.
std::atomic<int> chmodError{0};

}  // namespace

extern "C" int __real_fchmod(int fd, mode_t mode);
extern "C" int __wrap_fchmod(int fd, mode_t mode) {
    if (const int error = chmodError.load()) {
        errno = error;
        return -1;
    }
    return __real_fchmod(fd, mode);
}

TEST(Mp3ExportDecoded, MonoToneKeepsItsPitchAndLengthAtEveryRate) {
    TempDir dir;
    // 14 Hz and 384 kHz are the edges the export accepts.
    for (const std::int32_t rate : {14, 1000, 4000, 8000, 22050, 44100, 48000, 96000, 200000, 384000}) {
        SCOPED_TRACE(rate);
        const std::size_t frames = static_cast<std::size_t>(rate) * 3 + 333;
        const double tone = std::min(1000.0, rate / 8.0);
        writeFileBytes(dir.file("rec.wav"), wavBytes(rate, 1, toneSamples(rate, 1, frames, {tone})));
        exportWithoutErrors(dir.file("out.mp3"), dir.file("rec.wav"));
        const Decoded d = decodeMp3(dir.file("out.mp3"));
        ASSERT_EQ(d.channels, 1);
        // Outside 8-48 kHz LAME resamples to a rate MP3 has; the duration stays to the sample.
        const double expectedFrames = static_cast<double>(frames) * static_cast<double>(d.rate) / rate;
        EXPECT_NEAR(static_cast<double>(d.frames()), expectedFrames, 2.0);
        expectDominant(d, 0, tone, {tone / 4, tone * 0.44, tone / 2, tone * 1.5, tone * 2, tone * 3});
    }
}

TEST(Mp3ExportDecoded, StereoAndWiderSourcesKeepChannelsZeroAndOneOnTheirSides) {
    TempDir dir;
    const std::vector<double> freqs = {440.0, 1000.0, 3000.0, 2000.0, 1500.0, 700.0};
    for (const int channels : {2, 3, 4, 6}) {
        SCOPED_TRACE(channels);
        const std::size_t frames = 44100 * 2 + 5;
        const std::vector<double> tones(freqs.begin(), freqs.begin() + channels);
        writeFileBytes(dir.file("rec.wav"), wavBytes(44100, channels, toneSamples(44100, channels, frames, tones)));
        exportWithoutErrors(dir.file("out.mp3"), dir.file("rec.wav"));
        const Decoded d = decodeMp3(dir.file("out.mp3"));
        ASSERT_EQ(d.channels, 2);
        EXPECT_NEAR(static_cast<double>(d.frames()), static_cast<double>(frames), 1152.0);
        expectDominant(d, 0, 440.0, {1000.0, 3000.0, 2000.0, 1500.0, 700.0});
        expectDominant(d, 1, 1000.0, {440.0, 3000.0, 2000.0, 1500.0, 700.0});
    }
}

TEST(Mp3ExportDecoded, HeaderOnlySourceDecodesToNothing) {
    TempDir dir;
    writeFileBytes(dir.file("rec.wav"), wavBytes(44100, 2, {}));
    exportWithoutErrors(dir.file("out.mp3"), dir.file("rec.wav"));
    EXPECT_FALSE(readFileBytes(dir.file("out.mp3")).empty()) << "a valid, empty MP3 stream";
    EXPECT_EQ(decodeMp3(dir.file("out.mp3")).samples.size(), 0u);
}

TEST(Mp3ExportPosix, RecordingReachedThroughALinkIsNotOverwritten) {
    TempDir dir;
    const auto original = wavBytes(44100, 1, toneSamples(44100, 1, 4410, {1000.0}));
    writeFileBytes(dir.file("rec.wav"), original);
    fs::create_symlink(dir.file("rec.wav"), dir.file("sym.wav"));
    fs::create_hard_link(dir.file("rec.wav"), dir.file("hard.wav"));
    fs::create_directory_symlink(dir.path(), dir.file("again"));
    for (const fs::path& destination : {dir.file("sym.wav"), dir.file("hard.wav"), dir.file("again") / "rec.wav"}) {
        SCOPED_TRACE(destination.string());
        RecordingMessaging sink;
        saveAsMP3(destination.wstring(), dir.file("rec.wav").wstring());
        ASSERT_EQ(sink.errorBoxes().size(), 1u);
        EXPECT_EQ(sink.errorBoxes()[0], L"Cannot export the recording onto itself. Choose another file name for the MP3.");
        EXPECT_EQ(readFileBytes(dir.file("rec.wav")), original);
        EXPECT_TRUE(fs::is_symlink(dir.file("sym.wav")));
    }
}

// A full disk, simulated with RLIMIT_FSIZE: writes past the limit fail with EFBIG (SIGXFSZ
// ignored) as they would with ENOSPC.
TEST(Mp3ExportPosix, WriteFailureKeepsThePreviousFileAndRemovesTheTemporary) {
    TempDir dir;
    writeFileBytes(dir.file("rec.wav"), wavBytes(44100, 2, toneSamples(44100, 2, 10 * 44100, {440.0, 1000.0})));
    const std::vector<unsigned char> previous(300, 0x5A);
    writeFileBytes(dir.file("out.mp3"), previous);

    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = old;
    lowered.rlim_cur = 20000;  // the 10 s MP3 is several times larger
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    RecordingMessaging sink;
    saveAsMP3(dir.file("out.mp3").wstring(), dir.file("rec.wav").wstring());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(sink.errorBoxes().size(), 1u);
    EXPECT_EQ(sink.errorBoxes()[0], L"Failed to write the MP3 file.");
    EXPECT_EQ(readFileBytes(dir.file("out.mp3")), previous);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"out.mp3", "rec.wav"}));
}

// What the user had at the chosen name stays: links (the MP3 goes to the target, a dangling
// link's missing target is created). A 250-byte name (the limit is 255) works.
TEST(Mp3ExportPosix, DestinationReachedThroughLinksKeepsThem) {
    TempDir dir;
    writeFileBytes(dir.file("rec.wav"), wavBytes(22050, 1, toneSamples(22050, 1, 22050, {1000.0})));
    exportWithoutErrors(dir.file("ref.mp3"), dir.file("rec.wav"));
    fs::create_directories(dir.file("music"));
    writeFileBytes(dir.file("music/old.mp3"), {1, 2, 3});
    fs::create_symlink("music/old.mp3", dir.file("link.mp3"));
    fs::create_symlink("link.mp3", dir.file("link-to-link.mp3"));
    fs::create_symlink("music/new.mp3", dir.file("dangling.mp3"));
    const std::string longName = std::string(246, 'n') + ".mp3";
    for (const char* name : {"link-to-link.mp3", "dangling.mp3", longName.c_str()})
        exportWithoutErrors(dir.file(name), dir.file("rec.wav"));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.mp3")) && fs::is_symlink(dir.file("link-to-link.mp3")) && fs::is_symlink(dir.file("dangling.mp3")));
    for (const char* name : {"music/old.mp3", "music/new.mp3", longName.c_str()})
        EXPECT_EQ(readFileBytes(dir.file(name)), readFileBytes(dir.file("ref.mp3"))) << name;
}

// A replaced file keeps its mode; a new one gets 0666 less the umask. While it is encoded the MP3
// is private to this user, whatever mode it gets in the end.
TEST(Mp3ExportPosix, ReplacedFileKeepsItsModeAndANewOneTakesTheUmask) {
    TempDir dir;
    const auto wav = wavBytes(22050, 1, toneSamples(22050, 1, 22050, {1000.0}));
    writeFileBytes(dir.file("rec.wav"), wav);
    exportWithoutErrors(dir.file("ref.mp3"), dir.file("rec.wav"));
    writeFileBytes(dir.file("kept.mp3"), {1});
    ASSERT_EQ(chmod(dir.file("kept.mp3").c_str(), 0604), 0);
    const mode_t oldMask = umask(027);
    EXPECT_EQ(temporaryModeWhileEncoding(dir.file("kept.mp3"), wav), 0600u);
    EXPECT_EQ(temporaryModeWhileEncoding(dir.file("fresh.mp3"), wav), 0600u);
    umask(oldMask);
    for (const char* name : {"kept.mp3", "fresh.mp3"})
        EXPECT_EQ(readFileBytes(dir.file(name)), readFileBytes(dir.file("ref.mp3"))) << name;
    struct stat kept {}, fresh {};
    ASSERT_EQ(stat(dir.file("kept.mp3").c_str(), &kept) | stat(dir.file("fresh.mp3").c_str(), &fresh), 0);
    EXPECT_EQ(kept.st_mode & 07777, 0604u);
    EXPECT_EQ(fresh.st_mode & 07777, 0640u);

    // A file system that keeps no modes refuses chmod: the MP3 is put in place all the same, as
    // it was written. Any other chmod failure fails the export and leaves the old file.
    for (const int error : {EPERM, ENOTSUP, ENOSYS, EROFS, EIO}) {
        SCOPED_TRACE(error);
        writeFileBytes(dir.file("plain.mp3"), {1});
        ASSERT_EQ(chmod(dir.file("plain.mp3").c_str(), 0644), 0);
        RecordingMessaging sink;
        chmodError = error;
        saveAsMP3(dir.file("plain.mp3").wstring(), dir.file("rec.wav").wstring());
        chmodError = 0;
        struct stat plain {};
        ASSERT_EQ(stat(dir.file("plain.mp3").c_str(), &plain), 0);
        if (error == EIO) {
            EXPECT_EQ(sink.errorBoxes(), std::vector<std::wstring>{L"Failed to write the MP3 file."});
            EXPECT_EQ(readFileBytes(dir.file("plain.mp3")), std::vector<unsigned char>{1});
        } else {
            EXPECT_TRUE(sink.errorBoxes().empty());
            EXPECT_EQ(readFileBytes(dir.file("plain.mp3")), readFileBytes(dir.file("ref.mp3")));
            EXPECT_EQ(plain.st_mode & 07777, 0600u);
        }
    }
}

// And its owner and group. Only root may give a file away; a user may hand it to another group of
// theirs, so a user in one group has nothing to check here.
TEST(Mp3ExportPosix, ReplacedFileKeepsItsOwnerAndGroup) {
    const bool root = geteuid() == 0;
    gid_t groups[64];
    const int groupCount = getgroups(64, groups);
    const gid_t* otherGroup = std::find_if(groups, groups + std::max(groupCount, 0), [](gid_t g) { return g != getegid(); });
    if (!root && otherGroup == groups + std::max(groupCount, 0)) GTEST_SKIP() << "no second group to hand the file to";
    TempDir dir;
    writeFileBytes(dir.file("rec.wav"), wavBytes(8000, 1, toneSamples(8000, 1, 8000, {1000.0})));
    writeFileBytes(dir.file("kept.mp3"), {1});
    ASSERT_EQ(chown(dir.file("kept.mp3").c_str(), root ? 1234 : geteuid(), root ? 5678 : *otherGroup), 0);
    struct stat before {}, kept {};
    ASSERT_EQ(stat(dir.file("kept.mp3").c_str(), &before), 0);
    exportWithoutErrors(dir.file("kept.mp3"), dir.file("rec.wav"));
    ASSERT_EQ(stat(dir.file("kept.mp3").c_str(), &kept), 0);
    EXPECT_GT(kept.st_size, 1) << "replaced";
    EXPECT_EQ(kept.st_uid, before.st_uid);
    EXPECT_EQ(kept.st_gid, before.st_gid);
}

// Its access ACL too: its mode alone would keep the mask as group bits and drop the named entry.
TEST(Mp3ExportPosix, ReplacedFileKeepsItsAcl) {
    if (std::system("command -v setfacl >/dev/null") != 0) GTEST_SKIP() << "no setfacl (package acl)";
    TempDir dir;
    writeFileBytes(dir.file("rec.wav"), wavBytes(8000, 1, {}));
    writeFileBytes(dir.file("kept.mp3"), {1});
    ASSERT_EQ(std::system(("setfacl -m u:4321:rw,m::r " + dir.file("kept.mp3").string()).c_str()), 0);
    char before[256], after[256];
    const ssize_t size = getxattr(dir.file("kept.mp3").c_str(), "system.posix_acl_access", before, sizeof before);
    exportWithoutErrors(dir.file("kept.mp3"), dir.file("rec.wav"));
    ASSERT_GT(size, 0);
    ASSERT_EQ(getxattr(dir.file("kept.mp3").c_str(), "system.posix_acl_access", after, sizeof after), size);
    EXPECT_EQ(std::memcmp(before, after, static_cast<std::size_t>(size)), 0);
}

// In a folder others may write (0777, no sticky bit), the temporary swapped during the encode for
// a link to a private file: the export fails; that file and the chosen name (not made a link)
// stay as they were.
TEST(Mp3ExportPosix, TemporarySwappedForALinkChangesNothing) {
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    writeFileBytes(dir.file("private"), {7});
    ASSERT_EQ(chmod(dir.file("private").c_str(), 0600), 0);
    writeFileBytes(dir.file("out.mp3"), {1});
    const auto swap = [&](const fs::path& temporary) { fs::remove(temporary); fs::create_symlink(dir.file("private"), temporary); };
    std::vector<std::wstring> errors;
    temporaryModeWhileEncoding(dir.file("out.mp3"), wavBytes(8000, 1, std::vector<std::int16_t>(8000)), swap, &errors);
    EXPECT_EQ(errors, std::vector<std::wstring>{L"Failed to write the MP3 file."});
    struct stat st {};
    EXPECT_TRUE(stat(dir.file("private").c_str(), &st) == 0 && (st.st_mode & 07777) == 0600);
    EXPECT_EQ(readFileBytes(dir.file("private")), std::vector<unsigned char>{7});
    EXPECT_FALSE(fs::is_symlink(dir.file("out.mp3")));
    EXPECT_EQ(readFileBytes(dir.file("out.mp3")), std::vector<unsigned char>{1});
}
