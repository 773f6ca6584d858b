// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers of the tests that run against the private sound server (tests/e2e/with_services.sh).
#include <cstdio>
#include <cstdlib>
#include <string>

// The standard output of a shell command.
inline std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
    return out;
}

// Plays a 997 Hz tone of amplitude 0.5 into `sink` in real time for `seconds`, in the background,
// with a low latency: the sink renders (and its monitor sends) ~5 ms pieces.
inline void playTone(const std::string& sink, int seconds) {
    std::system(("(sox -q -n -r 48000 -c 1 -b 16 -e signed -t raw - synth " +
                 std::to_string(seconds) + " sine 997 vol 0.5 | pacat --raw --playback "
                 "--latency-msec=10 --rate=48000 --channels=1 --format=s16le -d " + sink + ") >/dev/null 2>&1 &").c_str());
}
