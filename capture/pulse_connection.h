// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The connection to the sound server through which PulseAudio capture works (PipeWire too,
// through pipewire-pulse): one pa_context run by its own pa_threaded_mainloop, and the lookup of
// a capture device. Every libpulse call on it is made with the mainloop lock held (PulseLock);
// callbacks run on the mainloop's thread and only signal. Used by one thread at a time.
#include <pulse/pulseaudio.h>

#include <string>

class PulseLock {
public:
    explicit PulseLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~PulseLock() { pa_threaded_mainloop_unlock(loop_); }
    PulseLock(const PulseLock&) = delete;
    PulseLock& operator=(const PulseLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

// What a capture stream needs of its device.
struct PulseSourceInfo {
    std::string name;
    pa_sample_spec spec{};
    pa_channel_map map{};
    pa_usec_t latency = 0;   // the source's configured latency
};

class PulseConnection {
public:
    PulseConnection() = default;
    // Disconnects and frees; streams made on the context are released by their owners first.
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Connects to the user's server as `clientName` (never starting one: a recorder uses the
    // user's sound server) and waits until it is ready. False when there is none.
    bool connect(const char* clientName);
    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }
    // False once the server has gone away (lock held).
    bool good() const { return context_ != nullptr && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); }
    // Waits (lock held) until `op` has completed or was cancelled because the context died;
    // drops it. A null `op` (a call the context refused) returns at once.
    void await(pa_operation* op);
    // The capture device called `name`, or the server's default one when `name` is empty
    // (lock held). False when there is no such device.
    bool findSource(const std::string& name, PulseSourceInfo& info);

private:
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};
