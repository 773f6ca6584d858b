// SPDX-License-Identifier: GPL-3.0-or-later
// WASAPI backend of PlaybackOutput: a shared-mode render stream on the default render endpoint in
// the file's format (16-bit PCM, its rate and channels), which the audio engine converts to its
// mix format (AUTOCONVERTPCM, with its default-quality resampler). Each call maps onto COM calls
// on the playback thread that created the output, in that thread's single-threaded apartment. A
// failed call writes nothing to the debug output: the playback's outcome reaches the status line.
#include "capture/wasapi_playback.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <audioclient.h>
#include <ksmedia.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <chrono>
#include <cstring>
#include <optional>

#include "capture/wasapi_com.h"

namespace {

// What the engine holds ahead of the device, in 100-ns units: 500 ms, as the PulseAudio output
// (capture/pulse_playback.cpp says why).
constexpr REFERENCE_TIME BUFFER_DURATION = 5000000;

class WasapiPlaybackOutput final : public PlaybackOutput {
public:
    WasapiPlaybackOutput() : comInitialized_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~WasapiPlaybackOutput() override;
    WasapiPlaybackOutput(const WasapiPlaybackOutput&) = delete;
    WasapiPlaybackOutput& operator=(const WasapiPlaybackOutput&) = delete;

    CaptureResult open(std::int32_t sampleRate, std::int32_t channels) override;
    CaptureResult writableFrames(std::uint32_t& frames) override;
    CaptureResult write(const std::int16_t* samples, std::uint32_t frames) override;
    CaptureResult playedFrames(std::uint64_t& frames) override;
    CaptureResult finish() override {
        finishing_ = true;   // the engine plays out what is queued
        return 0;
    }

private:
    bool comInitialized_;
    IMMDeviceEnumerator* enumerator_ = nullptr;
    IMMDevice* device_ = nullptr;
    IAudioClient* client_ = nullptr;
    IAudioRenderClient* render_ = nullptr;
    bool started_ = false;
    bool finishing_ = false;
    // What the engine holds beyond the buffer (its stream latency and one device period).
    std::chrono::microseconds latency_{0};
    // The buffer ran empty after finish(): everything is heard once the latency has passed.
    std::optional<std::chrono::steady_clock::time_point> heardAt_;
    UINT32 bufferFrames_ = 0;
    std::size_t frameBytes_ = 0;
    std::uint64_t written_ = 0;
};

// Stop drops what is queued, so the sound ends now.
WasapiPlaybackOutput::~WasapiPlaybackOutput() {
    if (started_) client_->Stop();
    releaseCom(render_);
    releaseCom(client_);
    releaseCom(device_);
    releaseCom(enumerator_);
    if (comInitialized_) CoUninitialize();
}

CaptureResult WasapiPlaybackOutput::open(std::int32_t sampleRate, std::int32_t channels) {
    HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                  __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator_));
    if (FAILED(hr)) return wasapiResult(hr);
    hr = enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, &device_);
    if (FAILED(hr)) return wasapiResult(hr);
    hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&client_));
    if (FAILED(hr)) return wasapiResult(hr);

    // EXTENSIBLE whatever the channel count (a plain record is only defined up to two). A WAV
    // file's channels follow the speaker bits in order (FL, FR, FC, LFE, ...), mono is the
    // centre; beyond the 18 defined speakers none are named.
    WAVEFORMATEXTENSIBLE format = {};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = static_cast<WORD>(channels);
    format.Format.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    format.Format.wBitsPerSample = 16;
    format.Format.nBlockAlign = static_cast<WORD>(2 * channels);
    format.Format.nAvgBytesPerSec = format.Format.nSamplesPerSec * format.Format.nBlockAlign;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = 16;
    format.dwChannelMask = channels == 1 ? SPEAKER_FRONT_CENTER
                           : channels <= 18 ? (DWORD{1} << channels) - 1 : 0;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    frameBytes_ = format.Format.nBlockAlign;
    hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED,
                             AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY,
                             BUFFER_DURATION, 0, &format.Format, nullptr);
    if (FAILED(hr)) return wasapiResult(hr);
    hr = client_->GetBufferSize(&bufferFrames_);
    if (FAILED(hr)) return wasapiResult(hr);
    hr = client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render_));
    if (FAILED(hr)) return wasapiResult(hr);
    REFERENCE_TIME latency = 0, period = 0;
    if (SUCCEEDED(client_->GetStreamLatency(&latency)) && SUCCEEDED(client_->GetDevicePeriod(&period, nullptr)))
        latency_ = std::chrono::microseconds((latency + period) / 10);
    hr = client_->Start();   // plays silence until the first frames are written
    started_ = SUCCEEDED(hr);
    return wasapiResult(hr);
}

CaptureResult WasapiPlaybackOutput::writableFrames(std::uint32_t& frames) {
    UINT32 padding = 0;
    const HRESULT hr = client_->GetCurrentPadding(&padding);
    frames = SUCCEEDED(hr) && padding < bufferFrames_ ? bufferFrames_ - padding : 0;
    return wasapiResult(hr);
}

CaptureResult WasapiPlaybackOutput::write(const std::int16_t* samples, std::uint32_t frames) {
    BYTE* buffer = nullptr;
    HRESULT hr = render_->GetBuffer(frames, &buffer);
    if (FAILED(hr)) return wasapiResult(hr);
    std::memcpy(buffer, samples, frames * frameBytes_);
    hr = render_->ReleaseBuffer(frames, 0);
    if (SUCCEEDED(hr)) written_ += frames;
    return wasapiResult(hr);
}

CaptureResult WasapiPlaybackOutput::playedFrames(std::uint64_t& frames) {
    // What the engine has taken from the buffer: it reaches the device within its latency. The
    // last frames are counted only once that has passed: releasing the stream earlier drops them
    // (Wine's, for one, then still holds them in the sound server).
    // A buffer that ran dry before the end (a stalled thread) holds its last frame back too, so
    // the count reported never goes down once the end is near.
    UINT32 padding = 0;
    const HRESULT hr = client_->GetCurrentPadding(&padding);
    frames = SUCCEEDED(hr) && padding <= written_ ? written_ - padding : 0;
    if (FAILED(hr) || padding != 0 || written_ == 0) return wasapiResult(hr);
    if (!finishing_) {
        frames = written_ - 1;
        return wasapiResult(hr);
    }
    const auto now = std::chrono::steady_clock::now();
    if (!heardAt_) heardAt_ = now + latency_;
    if (now < *heardAt_) frames = written_ - 1;
    return wasapiResult(hr);
}

}  // namespace

std::unique_ptr<PlaybackOutput> makeWasapiPlaybackOutput() {
    return std::make_unique<WasapiPlaybackOutput>();
}
