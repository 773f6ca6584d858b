// SPDX-License-Identifier: GPL-3.0-or-later
// WAV -> MP3 export: error paths, file handling and the structure of the written stream, checked
// by walking the MP3 frames and reading the VBR info frame (no decoder, so this runs everywhere).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/wav_header.h"
#include "export/mp3_export.h"
#include "export/replace_with_backup.h"
#include "tests/mp3_export_fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

// Fixture and folder helpers, shared with the platform export tests (mp3_export_fixtures.h).
namespace mp3_export_test {

std::vector<std::int16_t> toneSamples(std::int32_t rate, int channels, std::size_t frames,
                                      const std::vector<double>& freqs) {
    const double pi = std::acos(-1.0);
    std::vector<std::int16_t> out(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double phase = 2.0 * pi * freqs[static_cast<std::size_t>(c)] * static_cast<double>(i) / rate;
            out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(std::lround(16384.0 * std::sin(phase)));
        }
    }
    return out;
}

std::vector<unsigned char> wavBytes(std::int32_t rate, int channels, const std::vector<std::int16_t>& samples,
                                    std::uint64_t dataSize) {
    std::ostringstream header;
    writeWavHeader(header, rate, 16, channels, dataSize == UINT64_MAX ? samples.size() * 2 : dataSize, false);
    const std::string h = header.str();
    std::vector<unsigned char> bytes(h.begin(), h.end());
    for (const std::int16_t s : samples) {
        const auto u = static_cast<std::uint16_t>(s);
        bytes.push_back(static_cast<unsigned char>(u & 0xFF));
        bytes.push_back(static_cast<unsigned char>(u >> 8));
    }
    return bytes;
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace mp3_export_test

using namespace mp3_export_test;

namespace {

// What a walk over the MPEG audio frames of a file found, plus the VBR info frame's fields.
struct Mp3Stream {
    bool valid = false;          // frames from byte 0 to the very end, all alike in format
    long frames = 0;             // every frame, the info frame included
    unsigned sampleRate = 0;
    int channels = 0;
    long samplesPerFrame = 0;
    bool hasInfoFrame = false;   // "Xing" (VBR) or "Info" (CBR) in the first frame
    long infoFrames = -1;
    std::size_t infoBytes = 0;
    long delay = 0, padding = 0;  // from the LAME extension of the info frame
    long encodedSamples() const { return infoFrames * samplesPerFrame - delay - padding; }
};

std::uint32_t bigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

Mp3Stream walkMp3(const std::vector<unsigned char>& f) {
    static const int MPEG1_KBPS[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int MPEG2_KBPS[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const unsigned MPEG1_RATES[3] = {44100, 48000, 32000};
    Mp3Stream s;
    std::size_t pos = 0;
    while (pos + 4 <= f.size()) {
        const unsigned char* h = f.data() + pos;
        const int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
        const int kbpsIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3;
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || version == 1 || ((h[1] >> 1) & 3) != 1 ||
            kbpsIndex == 0 || kbpsIndex == 15 || rateIndex == 3)
            return s;
        const bool mpeg1 = version == 3;
        const unsigned rate = MPEG1_RATES[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
        const int channels = (h[3] >> 6) == 3 ? 1 : 2;
        const long kbps = (mpeg1 ? MPEG1_KBPS : MPEG2_KBPS)[kbpsIndex];
        const std::size_t length = static_cast<std::size_t>((mpeg1 ? 144000 : 72000) * kbps / rate + ((h[2] >> 1) & 1));
        if (s.frames == 0) {
            s.sampleRate = rate, s.channels = channels, s.samplesPerFrame = mpeg1 ? 1152 : 576;
            const std::size_t at = pos + 4 + (mpeg1 ? (channels == 2 ? 32 : 17) : (channels == 2 ? 17 : 9));
            if (at + 120 + 24 <= f.size() && (std::equal(h + at - pos, h + at - pos + 4, "Xing") ||
                                              std::equal(h + at - pos, h + at - pos + 4, "Info"))) {
                const unsigned char* x = f.data() + at;
                s.hasInfoFrame = (bigEndian32(x + 4) & 3) == 3;  // frame and byte counts present
                s.infoFrames = static_cast<long>(bigEndian32(x + 8));
                s.infoBytes = bigEndian32(x + 12);
                const unsigned char* d = x + 120 + 21;  // LAME extension: 12-bit delay, 12-bit padding
                s.delay = (d[0] << 4) | (d[1] >> 4);
                s.padding = ((d[1] & 0x0F) << 8) | d[2];
            }
        } else if (rate != s.sampleRate || channels != s.channels) {
            return s;
        }
        ++s.frames;
        pos += length;
    }
    s.valid = pos == f.size() && s.frames > 0;
    return s;
}


// What an export reports of itself, as the activity line hears it.
struct ProgressLog final : ExportProgress {
    const RecordingMessaging* sink = nullptr;
    std::vector<int> percents;
    int finishes = 0;
    bool saved = false;
    std::size_t boxesBeforeFinish = 0;
    void progressed(int percent) override { percents.push_back(percent); }
    void finished(bool s) override { ++finishes, saved = s, boxesBeforeFinish = sink->errorBoxes().size(); }
};
ProgressLog lastProgress;

// Every export ends once, before its error box, saved exactly when no box is shown; the reading
// reported rises, to 100 when saved.
std::vector<std::wstring> exportAndCollectBoxes(const fs::path& destination, const fs::path& source) {
    RecordingMessaging sink;
    lastProgress = ProgressLog();
    lastProgress.sink = &sink;
    saveAsMP3(destination.wstring(), source.wstring(), &lastProgress);
    EXPECT_EQ(lastProgress.finishes, 1);
    EXPECT_EQ(lastProgress.boxesBeforeFinish, 0u);
    EXPECT_EQ(lastProgress.saved, sink.errorBoxes().empty());
    const auto& p = lastProgress.percents;
    EXPECT_TRUE(std::adjacent_find(p.begin(), p.end(), std::greater_equal<int>()) == p.end());
    EXPECT_TRUE(!lastProgress.saved || (!p.empty() && p.back() == 100));
    return sink.errorBoxes();
}

// A folder in memory (name -> contents). The first `halfWays` replaces (all when negative) stop
// half-way as ReplaceFileW can: the old file moved to the backup, the new one not moved. A move
// named in `fails` ("move FROM TO") ends so instead. A pause only advances the clock.
struct ScriptedSteps final : ReplaceSteps {
    std::map<fs::path, std::string> files{{"out.mp3", "old"}, {"tmp", "new"}};
    int halfWays = 0, replaces = 0;
    std::map<std::string, FileStep> fails;
    std::uint64_t now = 0;
    bool isFile(const fs::path& path) override { return files.count(path) != 0; }
    FileStep move(const fs::path& from, const fs::path& to, bool replaceExisting) override {
        const auto fail = fails.find("move " + from.string() + " " + to.string());
        if (fail != fails.end() || !files.count(from) || (files.count(to) && !replaceExisting))
            return fail != fails.end() ? fail->second : FileStep::FAILED;
        files[to] = files[from];
        return files.erase(from), FileStep::DONE;
    }
    FileStep replace(const fs::path& from, const fs::path& to, const fs::path& backup) override {
        files[backup] = files[to];
        files.erase(to);
        if (++replaces <= halfWays || halfWays < 0) return FileStep::HALF_WAY;
        return move(from, to, false);
    }
    FileStep remove(const fs::path& path) override { return files.erase(path) ? FileStep::DONE : FileStep::FAILED; }
    std::uint64_t nowMs() override { return now; }
    void pause(unsigned ms) override { now += ms; }
};

}  // namespace

TEST(Mp3Export, EachErrorLeavesTheDestinationAsItWasAndShowsOneBox) {
    TempDir dir;
    const std::vector<int16_t> tone = toneSamples(44100, 1, 4410, {1000.0});
    const auto good = wavBytes(44100, 1, tone);
    auto patched = [&good](std::size_t offset, std::vector<unsigned char> with) {
        auto bytes = good;
        std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
        return bytes;
    };
    auto withRate = [&tone](std::uint32_t rate) { return wavBytes(static_cast<std::int32_t>(rate), 1, tone); };
    struct Case {
        const char* what;
        std::vector<unsigned char> source;  // empty: no source file at all
        const wchar_t* text;
    };
    const std::wstring invalid = L"Invalid WAV file format.";
    const std::wstring rate = L"The MP3 encoder cannot take this WAV file's sample rate.";
    const Case cases[] = {
        {"missing source", {}, L"Failed to open WAV file for MP3 conversion."},
        {"43 bytes", std::vector<unsigned char>(good.begin(), good.begin() + 43), invalid.c_str()},
        {"lower-case riff", patched(0, {'r', 'i', 'f', 'f'}), invalid.c_str()},
        {"RIFX", patched(0, {'R', 'I', 'F', 'X'}), invalid.c_str()},
        {"not WAVE", patched(8, {'A', 'V', 'I', ' '}), invalid.c_str()},
        {"no channels", patched(22, {0, 0}), invalid.c_str()},
        {"float samples", patched(20, {3, 0}), invalid.c_str()},
        {"24-bit samples", patched(34, {24, 0}), invalid.c_str()},
        {"8-bit samples", patched(34, {8, 0}), invalid.c_str()},
        {"rate 0", withRate(0), rate.c_str()},
        {"rate 1", withRate(1), rate.c_str()},
        {"rate 13", withRate(13), rate.c_str()},
        {"rate 384001", withRate(384001), rate.c_str()},
        {"rate 4294967295", withRate(0xFFFFFFFFu), rate.c_str()},
    };
    const std::vector<unsigned char> previous = {'o', 'l', 'd', ' ', 'm', 'p', '3'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const bool destinationExists : {true, false}) {
            fs::remove_all(dir.path());
            fs::create_directories(dir.path());
            if (!c.source.empty()) writeFileBytes(dir.file("rec.wav"), c.source);
            if (destinationExists) writeFileBytes(dir.file("out.mp3"), previous);
            const auto before = namesIn(dir.path());
            const auto boxes = exportAndCollectBoxes(dir.file("out.mp3"), dir.file("rec.wav"));
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0], c.text);
            EXPECT_EQ(namesIn(dir.path()), before) << "nothing created, nothing left behind";
            if (destinationExists) {
                EXPECT_EQ(readFileBytes(dir.file("out.mp3")), previous);
            }
        }
    }

    // A destination folder that does not exist: the temporary cannot be created.
    writeFileBytes(dir.file("rec.wav"), good);
    const auto boxes = exportAndCollectBoxes(dir.file("missing") / "out.mp3", dir.file("rec.wav"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], L"Failed to create MP3 output file.");
    EXPECT_FALSE(fs::exists(dir.file("missing")));

    // A folder by the chosen name: the finished MP3 cannot be moved there, and the temporary goes.
    fs::create_directories(dir.file("taken.mp3"));
    const auto moveBoxes = exportAndCollectBoxes(dir.file("taken.mp3"), dir.file("rec.wav"));
    ASSERT_EQ(moveBoxes.size(), 1u);
    EXPECT_EQ(moveBoxes[0], L"Failed to write the MP3 file.");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"rec.wav", "taken.mp3"}));
    EXPECT_TRUE(fs::is_empty(dir.file("taken.mp3")));

    // A read-only file by the chosen name cannot be opened for writing: refused before any
    // encoding (no temporary left), and it keeps its contents.
    writeFileBytes(dir.file("locked.mp3"), previous);
    fs::permissions(dir.file("locked.mp3"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto lockedBoxes = exportAndCollectBoxes(dir.file("locked.mp3"), dir.file("rec.wav"));
    fs::permissions(dir.file("locked.mp3"), fs::perms::owner_all);  // so the folder can go
    ASSERT_EQ(lockedBoxes.size(), 1u);
    EXPECT_EQ(lockedBoxes[0], L"Failed to create MP3 output file.");
    EXPECT_EQ(readFileBytes(dir.file("locked.mp3")), previous);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"locked.mp3", "rec.wav", "taken.mp3"}));
}

TEST(Mp3Export, UnconvertibleFileNamesAreRefusedBeforeAnyFileIsTouched) {
    TempDir dir;
    writeFileBytes(dir.file("rec.wav"), wavBytes(44100, 1, toneSamples(44100, 1, 4410, {1000.0})));
    const std::wstring lone(1, static_cast<wchar_t>(0xD800));
    const std::wstring goodSource = dir.file("rec.wav").wstring();
    const std::wstring goodDestination = dir.file("out.mp3").wstring();
    struct Case {
        std::wstring destination, source, text;
    };
    const Case cases[] = {
        {goodDestination, dir.path().wstring() + L"/rec" + lone + L".wav",
         L"The recording's file name contains characters that cannot be opened."},
        {dir.path().wstring() + L"/out" + lone + L".mp3", goodSource,
         L"The MP3 file name contains characters that cannot be saved. Choose another file name."},
    };
    for (const Case& c : cases) {
        RecordingMessaging sink;
        saveAsMP3(c.destination, c.source);
        ASSERT_EQ(sink.errorBoxes().size(), 1u);
        EXPECT_EQ(sink.errorBoxes()[0], c.text);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"rec.wav"});
    }
}

TEST(Mp3Export, ExportingOntoTheRecordingItselfIsRefused) {
    TempDir dir;
    const auto original = wavBytes(48000, 2, toneSamples(48000, 2, 4800, {440.0, 1000.0}));
    writeFileBytes(dir.file("rec.wav"), original);
    fs::create_directories(dir.file("sub"));
    for (const fs::path& spelling : {dir.file("rec.wav"), dir.path() / "." / "rec.wav",
                                     dir.path() / "sub" / ".." / "rec.wav"}) {
        SCOPED_TRACE(spelling.string());
        const auto boxes = exportAndCollectBoxes(spelling, dir.file("rec.wav"));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], L"Cannot export the recording onto itself. Choose another file name for the MP3.");
        EXPECT_EQ(readFileBytes(dir.file("rec.wav")), original);
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"rec.wav", "sub"}));
    }
}

TEST(Mp3Export, InfoFrameCarriesTheFinalCountsAndEveryWholeFrameIsEncoded) {
    TempDir dir;
    struct Case {
        const char* what;
        std::int32_t rate;
        int channels;
        std::size_t frames;      // whole sample frames in the source
        std::size_t extraBytes;  // an incomplete frame after them, to be dropped
        bool placeholderSize;    // header still says dataSize 0, as during recording
    };
    const Case cases[] = {
        {"mono 44.1 kHz", 44100, 1, 3 * 44100, 0, false},
        {"stereo 48 kHz", 48000, 2, 2 * 48000 + 17, 0, false},
        {"mono, odd byte count", 44100, 1, 10001, 1, false},
        {"stereo, 3 stray bytes", 44100, 2, 20000, 3, false},
        {"stereo, 1 stray byte", 32000, 2, 7000, 1, false},
        {"four channels, 7 stray bytes", 48000, 4, 9000, 7, false},
        {"placeholder data size", 44100, 2, 5 * 44100, 0, true},
        {"header only", 44100, 1, 0, 0, false},
        {"header and one stray byte", 44100, 2, 0, 1, false},
        {"22.05 kHz mono", 22050, 1, 22050, 0, false},
        {"8 kHz stereo", 8000, 2, 8000, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<double> freqs = {440.0, 1000.0, 3000.0, 5000.0};
        freqs.resize(static_cast<std::size_t>(c.channels));
        auto bytes = wavBytes(c.rate, c.channels, toneSamples(c.rate, c.channels, c.frames, freqs),
                              c.placeholderSize ? 0 : UINT64_MAX);
        bytes.insert(bytes.end(), c.extraBytes, 0x7F);
        writeFileBytes(dir.file("rec.wav"), bytes);
        ASSERT_TRUE(exportAndCollectBoxes(dir.file("out.mp3"), dir.file("rec.wav")).empty());
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"out.mp3", "rec.wav"}));

        const auto mp3 = readFileBytes(dir.file("out.mp3"));
        const Mp3Stream s = walkMp3(mp3);
        ASSERT_TRUE(s.valid) << "the file is a clean run of MPEG audio frames";
        ASSERT_TRUE(s.hasInfoFrame);
        EXPECT_EQ(s.channels, c.channels >= 2 ? 2 : 1);
        EXPECT_EQ(s.infoFrames, s.frames - 1) << "audio frames after the info frame";
        EXPECT_EQ(s.infoBytes, mp3.size());
        EXPECT_EQ(s.sampleRate, static_cast<unsigned>(c.rate));
        EXPECT_EQ(s.encodedSamples(), static_cast<long>(c.frames)) << "delay " << s.delay << " padding " << s.padding;
        if (c.frames == 3 * 44100) {   // 16384 bytes a read of 264600; 100 once all is read
            EXPECT_EQ(lastProgress.percents, (std::vector<int>{6, 12, 18, 24, 30, 37, 43, 49, 55, 61, 68,
                                                               74, 80, 86, 92, 99, 100}));
        }
    }
}

TEST(Mp3Export, ReplacesAnExistingFileAndGivesTheSameBytesEveryTime) {
    TempDir dir;
    writeFileBytes(dir.file("rec.wav"), wavBytes(44100, 2, toneSamples(44100, 2, 44100, {440.0, 1000.0})));
    writeFileBytes(dir.file("out.mp3"), std::vector<unsigned char>(100000, 0xAB));
    ASSERT_TRUE(exportAndCollectBoxes(dir.file("out.mp3"), dir.file("rec.wav")).empty());
    const auto first = readFileBytes(dir.file("out.mp3"));
    ASSERT_TRUE(walkMp3(first).valid) << "no trace of the longer file it replaced";
    ASSERT_TRUE(exportAndCollectBoxes(dir.file("again.mp3"), dir.file("rec.wav")).empty());
    EXPECT_EQ(readFileBytes(dir.file("again.mp3")), first);
}

// A replace stopped half-way (the old file under the backup name, nothing at the chosen one) puts
// the old file back and tries again for a second; if it cannot go back, the new file takes the
// name; if neither can, both stay where they are and the user is told where.
TEST(Mp3Export, AReplaceStoppedHalfWayPutsTheOldFileBackOrSaysWhereBothAre) {
    using Files = std::map<fs::path, std::string>;
    const auto run = [](int halfWays, std::map<std::string, FileStep> fails, ReplaceOutcome outcome, Files files) {
        ScriptedSteps steps;
        steps.halfWays = halfWays, steps.fails = std::move(fails);
        EXPECT_EQ(replaceWithBackup(steps, "tmp", "out.mp3", "bak"), outcome);
        EXPECT_EQ(steps.files, files);
        return steps;
    };
    EXPECT_EQ(run(1, {}, ReplaceOutcome::PLACED, {{"out.mp3", "new"}}).replaces, 2);
    const ScriptedSteps retried = run(-1, {}, ReplaceOutcome::FAILED, {{"out.mp3", "old"}, {"tmp", "new"}});
    EXPECT_TRUE(retried.replaces > 40 && retried.now >= 1000 && retried.now < 1100) << retried.now;
    run(-1, {{"move bak out.mp3", FileStep::HELD}}, ReplaceOutcome::PLACED, {{"out.mp3", "new"}});
    run(-1, {{"move bak out.mp3", FileStep::FAILED}, {"move tmp out.mp3", FileStep::HELD}}, ReplaceOutcome::STRANDED,
        {{"bak", "old"}, {"tmp", "new"}});
    EXPECT_EQ(strandedNote(L"\\\\?\\C:\\Music", L"song.mp3", L".sonabel-abc123.bak", L".sonabel-abc123.tmp"),
              L"The previous song.mp3 is kept as .sonabel-abc123.bak and the new MP3 as .sonabel-abc123.tmp, both in "
              L"the folder C:\\Music; rename the one you want back to song.mp3.");
    EXPECT_NE(strandedNote(L"\\\\?\\UNC\\nas\\music", L"a", L"b", L"c").find(L" \\\\nas\\music;"), std::wstring::npos);
}

TEST(Mp3Export, WaitForRunningExportsReturnsOnlyOnceEveryFileIsComplete) {
    TempDir dir;
    waitForRunningExports();  // nothing running: returns at once
    writeFileBytes(dir.file("a.wav"), wavBytes(44100, 2, toneSamples(44100, 2, 20 * 44100, {440.0, 1000.0})));
    writeFileBytes(dir.file("b.wav"), wavBytes(48000, 1, toneSamples(48000, 1, 20 * 48000, {3000.0})));
    RecordingMessaging sink;
    saveAsMP3(dir.file("a-ref.mp3").wstring(), dir.file("a.wav").wstring());
    saveAsMP3(dir.file("b-ref.mp3").wstring(), dir.file("b.wav").wstring());
    const auto refA = readFileBytes(dir.file("a-ref.mp3"));
    const auto refB = readFileBytes(dir.file("b-ref.mp3"));

    // As the GUI does it: count the export in, then start the thread, which counts itself out.
    const std::pair<const char*, const char*> jobs[] = {
        {"a1.mp3", "a.wav"}, {"a2.mp3", "a.wav"}, {"same.mp3", "a.wav"}, {"same.mp3", "b.wav"}};
    std::vector<std::thread> threads;
    for (const auto& job : jobs) {
        noteExportStarted();
        threads.emplace_back([&dir, job] {
            saveAsMP3(dir.file(job.first).wstring(), dir.file(job.second).wstring());
            noteExportFinished();
        });
    }
    waitForRunningExports();
    // Checked before joining: only the counter says the exports are done.
    EXPECT_EQ(readFileBytes(dir.file("a1.mp3")), refA);
    EXPECT_EQ(readFileBytes(dir.file("a2.mp3")), refA);
    const auto same = readFileBytes(dir.file("same.mp3"));
    EXPECT_TRUE(same == refA || same == refB) << "one export's file, whole, never a mix";
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a-ref.mp3", "a.wav", "a1.mp3", "a2.mp3",
                                                             "b-ref.mp3", "b.wav", "same.mp3"}));
    for (auto& t : threads) t.join();
    EXPECT_TRUE(sink.errorBoxes().empty());
}
