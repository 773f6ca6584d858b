// SPDX-License-Identifier: GPL-3.0-or-later
// Checks a long recording of a pure stereo tone for breaks, for bench/soak.sh.
//   sonabel_soak_check FILE.wav FREQ_LEFT FREQ_RIGHT
// A sampled sine obeys x[n+1] = 2cos(w)x[n] - x[n-1] exactly; with 16-bit samples the residual
// stays within a few LSB (quantisation), while a lost, repeated or shifted block leaves a residual
// of the order of the amplitude. Prints KEY=VALUE lines: duration, per channel RMS, largest
// residual and number of breaks (residual above BREAK_LSB), and the number of silence gaps (runs
// of exact zeros in both channels between stretches of tone: what a starved source plays, not
// something the recorder makes) with the position of the first few. Exit status 1 on a break
// that is not the edge of a silence gap, a wrong format or a silent channel.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double BREAK_LSB = 64.0;  // quantisation gives < 5 LSB; a break gives thousands

std::uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: sonabel_soak_check FILE.wav FREQ_LEFT FREQ_RIGHT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    unsigned char h[44];
    if (!in.read(reinterpret_cast<char*>(h), 44) || std::memcmp(h, "RIFF", 4) != 0 ||
        h[22] != 2 || h[34] != 16) {
        std::printf("valid=0\n");
        return 1;
    }
    const double rate = le32(h + 24);
    const std::uint32_t dataSize = le32(h + 40);
    const double freq[2] = {std::atof(argv[2]), std::atof(argv[3])};
    double c[2], maxResidual[2] = {0, 0}, energy[2] = {0, 0};
    double prev[2][2] = {{0, 0}, {0, 0}};
    std::uint64_t breaks[2] = {0, 0}, firstBreak[2] = {0, 0}, frames = 0;
    for (int ch = 0; ch < 2; ++ch) c[ch] = 2 * std::cos(2 * PI * freq[ch] / rate);
    std::vector<std::int16_t> block(1 << 16);
    // Silence gaps: a run of frames that are zero in both channels. A tone sample is zero at
    // most once in a row, so two zero frames in a row already mark a gap.
    std::uint64_t zeroRun = 0, gaps = 0, gapFrames = 0;
    std::uint64_t lastGapEnd = 0;  // frame index just after the last gap (0: none yet)
    bool inGap = false;
    std::vector<double> gapAt;
    std::uint64_t jumps = 0;       // breaks not within 2 frames of a gap's edge
    std::uint64_t gapStart = 0;
    while (in) {
        in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size() * 2));
        const std::size_t got = static_cast<std::size_t>(in.gcount()) / 4;
        for (std::size_t i = 0; i < got; ++i, ++frames) {
            const bool zero = block[2 * i] == 0 && block[2 * i + 1] == 0;
            zeroRun = zero ? zeroRun + 1 : 0;
            if (zeroRun == 2) {
                inGap = true;
                gapStart = frames - 1;
                ++gaps;
                if (gapAt.size() < 8) gapAt.push_back(gapStart / rate);
            }
            if (inGap && !zero) {
                inGap = false;
                gapFrames += frames - gapStart;
                lastGapEnd = frames;
            }
            for (int ch = 0; ch < 2; ++ch) {
                const double x = block[2 * i + ch];  // little-endian host assumed (x86)
                energy[ch] += x * x;
                if (frames >= 2) {
                    const double r = std::fabs(x - c[ch] * prev[ch][0] + prev[ch][1]);
                    if (r > maxResidual[ch]) maxResidual[ch] = r;
                    if (r > BREAK_LSB && breaks[ch]++ == 0) firstBreak[ch] = frames;
                    // A break is explained by a gap when it lies at the gap's start (a zero
                    // frame follows within 2 frames) or just after its end.
                    const bool gapEdge = inGap || zeroRun > 0 || (lastGapEnd != 0 && frames < lastGapEnd + 3);
                    if (r > BREAK_LSB && !gapEdge && !(i + 2 < got && block[2 * (i + 1)] == 0 &&
                                                       block[2 * (i + 1) + 1] == 0))
                        ++jumps;
                }
                prev[ch][1] = prev[ch][0];
                prev[ch][0] = x;
            }
        }
    }
    std::printf("valid=1\nrate=%.0f\nframes=%llu\nduration=%.3f\nheader_matches=%d\n", rate,
                static_cast<unsigned long long>(frames), frames / rate,
                static_cast<std::uint64_t>(dataSize) == frames * 4);
    std::printf("silence_gaps=%llu\nsilence_gap_s=%.3f\njumps=%llu\ngaps_at_s=",
                static_cast<unsigned long long>(gaps), gapFrames / rate,
                static_cast<unsigned long long>(jumps));
    for (double t : gapAt) std::printf("%.1f ", t);
    std::printf("\n");
    bool ok = static_cast<std::uint64_t>(dataSize) == frames * 4 && jumps == 0;
    for (int ch = 0; ch < 2; ++ch) {
        const double rms = frames ? std::sqrt(energy[ch] / frames) / 32767.0 : 0.0;
        std::printf("rms_%d=%.4f\nmax_residual_lsb_%d=%.1f\nbreaks_%d=%llu\nfirst_break_s_%d=%.3f\n",
                    ch, rms, ch, maxResidual[ch], ch, static_cast<unsigned long long>(breaks[ch]),
                    ch, firstBreak[ch] / rate);
        ok = ok && rms > 0.1;
    }
    return ok ? 0 : 1;
}
