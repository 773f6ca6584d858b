// SPDX-License-Identifier: GPL-3.0-or-later
// Measurements for the end-to-end test, printed as KEY=VALUE lines for the shell driver.
//   e2e_check wav FILE            header fields, duration (also of its loud part), RMS and
//                                 dominant frequency of a WAV
//   e2e_check shot FILE.ppm X Y   what the screenshot shows of the main window whose client
//                                 area starts at (X, Y): waveform, spectrum peak, meter bar,
//                                 the spectrum view's line in its oldest and newest part and
//                                 how dark the newest part is around it
//   e2e_check meter RMS           bar width the level meter should show for that RMS level
// Independent of the application's code on purpose: it checks the app from outside.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;

std::uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Strongest frequency (1 Hz resolution, 20 Hz .. 8 kHz) in up to 0.5 s from the middle of the
// signal, by Goertzel: coarse 10 Hz scan, then 1 Hz around the best.
double dominantFrequency(const std::vector<double>& x, int rate) {
    const std::size_t n = std::min<std::size_t>(x.size(), static_cast<std::size_t>(rate / 2));
    const std::size_t start = (x.size() - n) / 2;
    auto power = [&](double f) {
        const double c = 2 * std::cos(2 * PI * f / rate);
        double s1 = 0, s2 = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double s0 = x[start + i] + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        return s1 * s1 + s2 * s2 - c * s1 * s2;
    };
    double best = 0, bestPower = -1;
    for (double f = 20; f <= 8000; f += 10) {
        const double p = power(f);
        if (p > bestPower) bestPower = p, best = f;
    }
    const double coarse = best;
    for (double f = coarse - 10; f <= coarse + 10; f += 1) {
        const double p = power(f);
        if (p > bestPower) bestPower = p, best = f;
    }
    return best;
}

int wav(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
        std::printf("valid=0\n");
        return 1;
    }
    const int channels = le16(&b[22]);
    const int rate = static_cast<int>(le32(&b[24]));
    const int bits = le16(&b[34]);
    const std::uint32_t dataSize = le32(&b[40]);
    std::printf("valid=1\nfile_size=%zu\nriff_size=%u\naudio_format=%d\nchannels=%d\nrate=%d\n"
                "bits=%d\ndata_size=%u\n",
                b.size(), le32(&b[4]), le16(&b[20]), channels, rate, bits, dataSize);
    if (bits != 16 || channels < 1 || rate <= 0) return 0;
    const std::size_t frames = std::min<std::size_t>(dataSize, b.size() - 44) / (2 * channels);
    std::vector<double> first(frames);
    double energy = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(le16(&b[44 + 2 * channels * i]));
        first[i] = v / 32767.0;
        energy += first[i] * first[i];
    }
    std::size_t on = frames, off = 0;   // the sound in it: from the first to the last loud sample
    for (std::size_t i = 0; i < frames; ++i)
        if (std::fabs(first[i]) >= 0.1) on = std::min(on, i), off = i;
    std::printf("duration=%.3f\nloud=%.3f\n", static_cast<double>(frames) / rate,
                on < frames ? static_cast<double>(off + 1 - on) / rate : 0.0);
    std::printf("rms=%.6f\n", frames ? std::sqrt(energy / frames) : 0.0);
    std::printf("frequency=%.0f\n", frames > 1000 ? dominantFrequency(first, rate) : 0.0);
    return 0;
}

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    bool is(int x, int y, int r, int g, int b) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return false;
        const unsigned char* p = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
        return p[0] == r && p[1] == g && p[2] == b;
    }
    int luma(int x, int y) const {   // 0 outside, 0 .. 255000 inside
        if (x < 0 || y < 0 || x >= width || y >= height) return 0;
        const unsigned char* p = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
        return 299 * p[0] + 587 * p[1] + 114 * p[2];
    }
};

bool readPpm(const char* path, Image& img) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> img.width >> img.height >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255) return false;
    img.rgb.resize(3 * static_cast<std::size_t>(img.width) * img.height);
    in.read(reinterpret_cast<char*>(img.rgb.data()), static_cast<std::streamsize>(img.rgb.size()));
    return static_cast<bool>(in);
}

int shot(const char* path, int ox, int oy) {
    Image img;
    if (!readPpm(path, img)) {
        std::printf("valid=0\n");
        return 1;
    }
    // Waveform view: client (20, 120) .. (1180, 200).
    int green = 0, redTop = 1 << 30;
    double redTopX = 0;
    int redTopCount = 0;
    for (int y = 120; y < 200; ++y)
        for (int x = 20; x < 1180; ++x) {
            green += img.is(ox + x, oy + y, 0, 255, 0);
            if (img.is(ox + x, oy + y, 255, 0, 0)) {
                if (y < redTop) redTop = y, redTopX = 0, redTopCount = 0;
                if (y == redTop) redTopX += x, ++redTopCount;
            }
        }
    // Meter: client (20, 90) .. (1180, 110); the bar starts at the left edge.
    int bar = 0;
    while (bar < 1160 && img.is(ox + 20 + bar, oy + 100, 0, 200, 0)) ++bar;
    int whiteAfter = 0;
    for (int x = 20 + bar; x < 1180; ++x) whiteAfter += img.is(ox + x, oy + 100, 255, 255, 255);
    // Spectrum view: client (20, 210) .. (1180, 290). Its lit pixels, the leftmost lit column,
    // and where a line lies: the mean y of each column's brightest pixel over 20 columns.
    int spectrumViewGreen = 0, lit = 0, left = 1180;
    for (int y = 210; y < 290; ++y)
        for (int x = 20; x < 1180; ++x) {
            spectrumViewGreen += img.is(ox + x, oy + y, 0, 255, 0);
            if (img.luma(ox + x, oy + y) > 0) ++lit, left = std::min(left, x);
        }
    auto lineY = [&](int x0) {
        double sum = 0;
        for (int x = x0, best = 210; x < x0 + 20; ++x, sum += best, best = 210)
            for (int y = 211; y < 290; ++y)
                if (img.luma(ox + x, oy + y) > img.luma(ox + x, oy + best)) best = y;
        return sum / 20;
    };
    // How dark the newest 20 columns are around a tone's line: their median pixel's luma (0..255).
    // A tone lights a few rows and the guide lines three more; the rest is its column's floor.
    std::vector<int> newest;
    for (int x = 1155; x < 1175; ++x)
        for (int y = 211; y < 290; ++y) newest.push_back(img.luma(ox + x, oy + y));
    std::nth_element(newest.begin(), newest.begin() + newest.size() / 2, newest.end());
    std::printf("valid=1\nwaveform_green=%d\nspectrum_peak_x=%.1f\nspectrum_peak_y=%d\n"
                "meter_bar=%d\nmeter_white_after=%d\nmeter_rest=%d\nspectrum_view_green=%d\n"
                "spectrum_lit=%d\nspectrum_old_y=%.1f\nspectrum_new_y=%.1f\nspectrum_new_median=%d\n",
                green, redTopCount ? redTopX / redTopCount : -1.0, redTopCount ? redTop : -1, bar,
                whiteAfter, 1160 - bar, spectrumViewGreen, lit, lineY(left + 5), lineY(1155),
                newest[newest.size() / 2] / 1000);
    return 0;
}

int meter(double rms) {
    // 60 dB scale: empty at -60 dBFS, full at 0 dBFS, truncated to whole pixels of 1160.
    double fraction = (60.0 + 20.0 * std::log10(rms + 1e-8)) / 60.0;
    fraction = std::min(1.0, std::max(0.0, fraction));
    std::printf("meter_expected=%d\n", static_cast<int>(1160 * fraction));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "wav" && argc == 3) return wav(argv[2]);
    if (mode == "shot" && argc == 5) return shot(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (mode == "meter" && argc == 3) return meter(std::atof(argv[2]));
    std::fprintf(stderr, "usage: e2e_check wav FILE | shot FILE.ppm X Y | meter RMS\n");
    return 2;
}
