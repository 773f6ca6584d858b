// SPDX-License-Identifier: GPL-3.0-or-later
// WASAPI backend of CaptureSource. Each call maps onto one COM call on the capture thread that
// created the source; the COM objects live in that thread's single-threaded apartment. A failed
// call writes nothing to the debug output: the recording's outcome reaches the status line.
#include "capture/wasapi_source.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <audioclient.h>
#include <ksmedia.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <chrono>

#include "app/ws2s.h"
#include "capture/gap_filling_source.h"
#include "capture/wasapi_com.h"

namespace {

constexpr REFERENCE_TIME BUFFER_DURATION = 10000000;   // 100-ns units: one second

class WasapiCaptureSource final : public CaptureSource {
public:
    WasapiCaptureSource() : comInitialized_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~WasapiCaptureSource() override;
    WasapiCaptureSource(const WasapiCaptureSource&) = delete;
    WasapiCaptureSource& operator=(const WasapiCaptureSource&) = delete;

    CaptureResult activateEndpoint(const CaptureEndpoint& endpoint) override;
    CaptureResult getMixFormat(MixFormat& format) override;
    CaptureResult initialize() override;
    CaptureResult getCaptureService() override;
    CaptureResult start() override;
    CaptureResult getNextPacketSize(std::uint32_t& frames) override;
    CaptureResult getBuffer(const void*& data, std::uint32_t& frames,
                            std::uint32_t& flags) override;
    CaptureResult releaseBuffer(std::uint32_t frames) override;
    void beginDrain() override;
    bool drained() override;
    CaptureResult stop() override;

private:
    bool comInitialized_;
    IMMDeviceEnumerator* enumerator_ = nullptr;
    IMMDevice* device_ = nullptr;
    IAudioClient* client_ = nullptr;
    IAudioCaptureClient* capture_ = nullptr;
    WAVEFORMATEX* format_ = nullptr;   // CoTaskMemAlloc'ed by GetMixFormat
    bool loopback_ = false;            // a render endpoint: what it plays is recorded
    std::chrono::steady_clock::time_point drainUntil_{};
};

WasapiCaptureSource::~WasapiCaptureSource() {
    if (format_ != nullptr) CoTaskMemFree(format_);
    releaseCom(capture_);
    releaseCom(client_);
    releaseCom(device_);
    releaseCom(enumerator_);
    if (comInitialized_) CoUninitialize();
}

CaptureResult WasapiCaptureSource::activateEndpoint(const CaptureEndpoint& endpoint) {
    HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                  __uuidof(IMMDeviceEnumerator),
                                  reinterpret_cast<void**>(&enumerator_));
    if (FAILED(hr)) return wasapiResult(hr);
    if (endpoint.kind == EndpointKind::DefaultInput)
        hr = enumerator_->GetDefaultAudioEndpoint(eCapture, eConsole, &device_);
    else
        hr = enumerator_->GetDevice(utf8ToWide(endpoint.id).c_str(), &device_);
    if (FAILED(hr)) return wasapiResult(hr);
    loopback_ = endpoint.kind == EndpointKind::SystemSound;
    hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                           reinterpret_cast<void**>(&client_));
    return wasapiResult(hr);
}

CaptureResult WasapiCaptureSource::getMixFormat(MixFormat& format) {
    const HRESULT hr = client_->GetMixFormat(&format_);
    if (FAILED(hr)) return wasapiResult(hr);
    format = mixFormatFromWaveFormat(*format_);
    return static_cast<CaptureResult>(hr);
}

CaptureResult WasapiCaptureSource::initialize() {
    // Loopback: a render endpoint's mix, as it goes to the device, delivered like a capture.
    return wasapiResult(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, loopback_ ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0,
                                      BUFFER_DURATION, 0, format_, nullptr));
}

CaptureResult WasapiCaptureSource::getCaptureService() {
    return wasapiResult(client_->GetService(__uuidof(IAudioCaptureClient),
                                      reinterpret_cast<void**>(&capture_)));
}

CaptureResult WasapiCaptureSource::start() { return wasapiResult(client_->Start()); }

CaptureResult WasapiCaptureSource::getNextPacketSize(std::uint32_t& frames) {
    UINT32 next = 0;
    const HRESULT hr = capture_->GetNextPacketSize(&next);
    frames = next;
    return wasapiResult(hr);
}

CaptureResult WasapiCaptureSource::getBuffer(const void*& data, std::uint32_t& frames,
                                             std::uint32_t& flags) {
    BYTE* bytes = nullptr;
    UINT32 count = 0;
    DWORD bufferFlags = 0;
    const HRESULT hr = capture_->GetBuffer(&bytes, &count, &bufferFlags, nullptr, nullptr);
    data = bytes;
    frames = count;
    flags = bufferFlags;
    return wasapiResult(hr);
}

CaptureResult WasapiCaptureSource::releaseBuffer(std::uint32_t frames) {
    return static_cast<CaptureResult>(capture_->ReleaseBuffer(frames));
}

void WasapiCaptureSource::beginDrain() {
    // The engine hands the capture buffer a packet per device period: what the device captured
    // before the Stop is in it one period later (10 ms by default), plus a half for scheduling.
    REFERENCE_TIME period = 100000;
    if (FAILED(client_->GetDevicePeriod(&period, nullptr)) || period <= 0) period = 100000;
    drainUntil_ = std::chrono::steady_clock::now() + std::chrono::microseconds(period * 3 / 20);
}

bool WasapiCaptureSource::drained() { return std::chrono::steady_clock::now() >= drainUntil_; }

CaptureResult WasapiCaptureSource::stop() { return static_cast<CaptureResult>(client_->Stop()); }

}  // namespace

// A loopback stream delivers nothing while nothing plays: the gap filler keeps such a take
// continuous (it passes every other endpoint straight through).
std::unique_ptr<CaptureSource> makeWasapiCaptureSource() {
    return std::make_unique<GapFillingSource>(std::make_unique<WasapiCaptureSource>());
}

MixFormat mixFormatFromWaveFormat(const tWAVEFORMATEX& format) {
    MixFormat mix;
    mix.channels = format.nChannels;
    mix.sampleRate = static_cast<std::int32_t>(format.nSamplesPerSec);
    mix.containerBits = format.wBitsPerSample;
    mix.validBits = format.wBitsPerSample;
    mix.encoding = SampleEncoding::Other;
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        mix.encoding = SampleEncoding::Float;
    } else if (format.wFormatTag == WAVE_FORMAT_PCM) {
        mix.encoding = SampleEncoding::Pcm;
    } else if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
               format.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
        const auto& ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
        if (IsEqualGUID(ext.SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)) {
            mix.encoding = SampleEncoding::Float;
        } else if (IsEqualGUID(ext.SubFormat, KSDATAFORMAT_SUBTYPE_PCM)) {
            mix.encoding = SampleEncoding::Pcm;
        }
        if (ext.Samples.wValidBitsPerSample != 0) mix.validBits = ext.Samples.wValidBitsPerSample;
    }
    return mix;
}
