// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the capture thread needs from an audio capture API. The WASAPI and PulseAudio backends
// implement it thinly; tests script it. Every call is made on the capture thread that created
// the source. Results are HRESULT-like: negative means failure.
#include <cstdint>
#include <memory>
#include <string>

using CaptureResult = std::int32_t;
inline bool captureFailed(CaptureResult r) { return r < 0; }

// getBuffer flag: the packet is silence whatever its bytes hold (same bit as WASAPI's).
constexpr std::uint32_t CAPTURE_FLAG_SILENT = 0x2;

enum class SampleEncoding { Float, Pcm, Other };

// Which device a take records.
enum class EndpointKind {
    DefaultInput,   // the system's default input at the moment the take starts
    Input,          // an input device, by id
    SystemSound,    // what an output device plays, by id (PulseAudio monitor, WASAPI loopback)
};
struct CaptureEndpoint {
    EndpointKind kind = EndpointKind::DefaultInput;
    std::string id;       // the platform's id; empty for the default input
    std::wstring name;    // as the user knows it, for the activity line and the status line
};

struct MixFormat {
    std::int32_t channels = 0;
    std::int32_t sampleRate = 0;
    SampleEncoding encoding = SampleEncoding::Float;
    std::int32_t containerBits = 32;  // bits one sample occupies in a packet
    std::int32_t validBits = 32;      // significant bits (24 in a 32-bit container, say)
};

class CaptureSource {
public:
    // Releases whatever was obtained, in reverse order of acquisition (and leaves the
    // thread's COM apartment, on Windows).
    virtual ~CaptureSource() = default;
    // The device `endpoint` names (the system's default input for DefaultInput): enumerator,
    // endpoint, client.
    virtual CaptureResult activateEndpoint(const CaptureEndpoint& endpoint) = 0;
    virtual CaptureResult getMixFormat(MixFormat& format) = 0;
    virtual CaptureResult initialize() = 0;                // shared mode, mix format, 1 s buffer
    virtual CaptureResult getCaptureService() = 0;
    virtual CaptureResult start() = 0;
    // Frames in the next waiting packet; 0 when none waits.
    virtual CaptureResult getNextPacketSize(std::uint32_t& frames) = 0;
    // `data` stays readable until releaseBuffer. A null `data` with frames > 0 is silence.
    virtual CaptureResult getBuffer(const void*& data, std::uint32_t& frames,
                                    std::uint32_t& flags) = 0;
    virtual CaptureResult releaseBuffer(std::uint32_t frames) = 0;
    // Stop was asked at this moment, but what the device captured up to it may still be on its
    // way (held by the server until a fragment is full, or by the device for a period). From now
    // on every poll hands on whatever is queued at once; the capture thread polls until drained().
    virtual void beginDrain() {}
    virtual bool drained() { return true; }
    virtual CaptureResult stop() = 0;
};

// Makes the platform's capture source. Called on the capture thread.
using CaptureSourceFactory = std::unique_ptr<CaptureSource> (*)();
