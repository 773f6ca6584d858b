// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/packet_pipeline.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "analysis/fft_analysis.h"
#include "analysis/spectrogram_analysis.h"
#include "app/app_state.h"
#include "app/messaging.h"

namespace {

// Scratch storage of the calling thread (capture or playback); grows to the largest packet and
// stays, so the steady state allocates nothing. Freed when that thread ends.
struct PacketScratch {
    std::vector<std::int16_t> filePcm;
    std::vector<float> selected;
    std::vector<std::int16_t> selectedPcm;
};
thread_local PacketScratch scratch;

bool hostIsLittleEndian() {
    const std::uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// "[DEBUG] fftInputBuffer size = N\n" without printf: this line goes out once per packet.
void emitFeedSizeLine(std::size_t size) {
    static const char prefix[] = "[DEBUG] fftInputBuffer size = ";
    char line[sizeof prefix + 24];
    std::memcpy(line, prefix, sizeof prefix - 1);
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + size % 10);
        size /= 10;
    } while (size != 0);
    char* p = line + (sizeof prefix - 1);
    while (n > 0) *p++ = digits[--n];
    *p++ = '\n';
    *p = '\0';
    emitDebugLine(line);
}

// The selected sequence of `n` interleaved samples: channel 0 of a stereo packet, otherwise the
// whole packet. Its length goes to `count`.
const float* selectedSequence(const float* samples, std::size_t n, std::int32_t channels, std::size_t& count) {
    count = n;
    if (channels != 2) return samples;
    std::vector<float>& left = scratch.selected;
    left.resize(n / 2);
    std::size_t k = 0;
    for (std::size_t i = 0; i + 1 < n; i += 2) left[k++] = samples[i];
    count = k;
    return left.data();
}

// The RMS of the selected sequence to currentLevel; none for an empty one.
void storeLevel(const float* sel, std::size_t selCount) {
    if (selCount == 0) return;
    float sum = 0.0f;
    for (std::size_t i = 0; i < selCount; ++i) sum = sel[i] * sel[i] + sum;
    float level = std::sqrt(sum / static_cast<float>(selCount));
    if (level > 1.0f) level = 1.0f;
    if (std::isnan(level)) level = 0.0f;  // a NaN sample must not reach the meter
    currentLevel.store(level);
}

}  // namespace

std::int16_t floatToPCM16(float x) {
    if (std::isnan(x)) return 0;
    if (x < -1.0f) x = -1.0f;
    if (x > 1.0f) x = 1.0f;
    return static_cast<std::int16_t>(x * 32767.0f);  // truncation toward zero
}

void processCapturePacket(const float* samples, std::uint32_t frameCount,
                          std::int32_t captureChannels, std::ostream& file,
                          std::uint64_t& dataBytesWritten, HWND hwnd) {
    // 32-bit unsigned product, widened: the sample count as the capture API reports it.
    const std::size_t n =
        static_cast<std::uint32_t>(frameCount * static_cast<std::uint32_t>(captureChannels));

    // File data, in packet order (interleaving kept), little-endian.
    // A sample whose PCM16 value reaches full scale on either side is clipped (a NaN is not),
    // noted for the activity line; integer sources at their limits are noted by their
    // conversion, since their largest positive value stays just below full scale here.
    std::vector<std::int16_t>& pcm = scratch.filePcm;
    pcm.resize(n);
    unsigned fullScale = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int16_t v = floatToPCM16(samples[i]);
        fullScale |= static_cast<unsigned>(v == 32767) | static_cast<unsigned>(v == -32767);
        pcm[i] = v;
    }
    if (!hostIsLittleEndian()) {
        for (std::int16_t& v : pcm) {
            const auto u = static_cast<std::uint16_t>(v);
            v = static_cast<std::int16_t>(static_cast<std::uint16_t>((u << 8) | (u >> 8)));
        }
    }
    file.write(reinterpret_cast<const char*>(pcm.data()),
               static_cast<std::streamsize>(n * sizeof(std::int16_t)));
    dataBytesWritten += 2 * static_cast<std::uint64_t>(n);
    takeCounters.dataBytes.store(dataBytesWritten);
    if (fullScale != 0) takeCounters.clipped.store(true);

    showPacket(samples, frameCount, captureChannels, globalSampleRate, hwnd, WM_APP_LEVEL_UPDATE, 0);
}

void showPacket(const float* samples, std::uint32_t frameCount, std::int32_t channels,
                std::int32_t sampleRate, HWND hwnd, unsigned message, std::uintptr_t wParam) {
    // 32-bit unsigned product, widened, as for the file.
    const std::size_t n = static_cast<std::uint32_t>(frameCount * static_cast<std::uint32_t>(channels));
    std::size_t selCount = 0;
    const float* sel = selectedSequence(samples, n, channels, selCount);

    std::vector<std::int16_t>& selPcm = scratch.selectedPcm;
    selPcm.resize(selCount);
    for (std::size_t i = 0; i < selCount; ++i) selPcm[i] = floatToPCM16(sel[i]);
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.append(selPcm.data(), selCount);
    }

    {
        std::lock_guard<std::mutex> lock(fftInputMutex);
        fftInputBuffer.insert(fftInputBuffer.end(), sel, sel + selCount);
        if (debugLinesEnabled()) emitFeedSizeLine(fftInputBuffer.size());
        if (fftInputBuffer.size() >= FFT_FEED_BLOCK) {
            // The newest block only; older samples are dropped unanalysed.
            processFFT(fftInputBuffer.data() + (fftInputBuffer.size() - FFT_FEED_BLOCK),
                       FFT_FEED_BLOCK, sampleRate);
            fftInputBuffer.clear();
        }
        // The spectrogram reads channel 0's frames at any channel count, so its columns keep
        // the frames' time and its rows their frequencies (the selected sequence interleaves
        // every channel when there are three or more).
        spectrogramFeed.add(samples, frameCount, channels, sampleRate);
    }

    storeLevel(sel, selCount);
    postAppMessage(hwnd, message, wParam);
}

void showCapturePacketLevel(const float* samples, std::uint32_t frameCount,
                            std::int32_t captureChannels, HWND hwnd) {
    const std::size_t n =
        static_cast<std::uint32_t>(frameCount * static_cast<std::uint32_t>(captureChannels));
    std::size_t selCount = 0;
    const float* sel = selectedSequence(samples, n, captureChannels, selCount);
    storeLevel(sel, selCount);
    postAppMessage(hwnd, WM_APP_LEVEL_UPDATE);
}
