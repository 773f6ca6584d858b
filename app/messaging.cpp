// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/messaging.h"

#include <atomic>
#include <cstdio>
#include <exception>

#include "app/ws2s.h"

namespace {

class DefaultMessaging final : public PlatformMessaging {
public:
    void postMessage(HWND, unsigned, std::uintptr_t, std::intptr_t) override {}
    void showErrorBox(const std::wstring& text) override {
        std::string narrow;
        try {
            narrow = ws2s(text);
        } catch (const std::exception&) {
            narrow = "(unprintable message)";
        }
        std::fprintf(stderr, "Error: %s\n", narrow.c_str());
    }
    void debugLine(const char*) override {}
    bool debugEnabled() override { return false; }
};

DefaultMessaging defaultMessaging;
std::atomic<PlatformMessaging*> installed{&defaultMessaging};

}  // namespace

void installPlatformMessaging(PlatformMessaging* messaging) {
    installed.store(messaging ? messaging : &defaultMessaging);
}

void postAppMessage(HWND hwnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    installed.load()->postMessage(hwnd, msg, wParam, lParam);
}

void showErrorBox(const std::wstring& text) { installed.load()->showErrorBox(text); }

void emitDebugLine(const char* line) { installed.load()->debugLine(line); }

bool debugLinesEnabled() { return installed.load()->debugEnabled(); }
