// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/keyboard.h"

#include <algorithm>
#include <numeric>

#include "app/commands.h"

namespace {

struct Button {
    int id;
    const wchar_t* text;
    std::size_t mnemonicAt;   // index of the letter Alt runs it by in `text`
};

// "Resume" has no P: Alt+P resumes all the same, with no letter underlined.
constexpr std::size_t NONE = std::wstring::npos;
constexpr Button BUTTONS[] = {
    {IDC_START_RECORDING, L"Start Recording", 0},
    {IDC_STOP, L"Stop", 1},
    {IDC_EXPORT_MP3, L"Export MP3", 0},
    {IDC_PAUSE, L"Pause", 0},
    {IDC_PLAY, L"Play", 1},   // Alt+L: Alt+P is Pause's
};
constexpr Button RESUME = {IDC_PAUSE, L"Resume", NONE};

const Button* buttonOf(int id, bool paused) {
    if (id == IDC_PAUSE && paused) return &RESUME;
    for (const Button& b : BUTTONS)
        if (b.id == id) return &b;
    return nullptr;
}

char32_t lower(char32_t c) { return c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c; }

}  // namespace

int mnemonicCommand(char32_t letter) {
    for (const Button& b : BUTTONS)
        if (lower(static_cast<char32_t>(b.text[b.mnemonicAt])) == lower(letter)) return b.id;
    return 0;
}

std::wstring buttonText(int id, bool paused) {
    const Button* b = buttonOf(id, paused);
    return b != nullptr ? b->text : L"";
}

std::wstring buttonMnemonicText(int id, wchar_t marker, bool paused) {
    const Button* b = buttonOf(id, paused);
    if (b == nullptr) return L"";
    std::wstring text = b->text;
    if (b->mnemonicAt != NONE) text.insert(b->mnemonicAt, 1, marker);
    return text;
}

int nextInScreenOrder(const std::vector<ControlBox>& controls, int current, bool backwards) {
    if (controls.empty()) return -1;
    std::vector<int> order(controls.size());
    std::iota(order.begin(), order.end(), 0);
    // Centres in doubled pixels, so an odd height needs no rounding.
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const ControlBox& p = controls[static_cast<std::size_t>(a)];
        const ControlBox& q = controls[static_cast<std::size_t>(b)];
        const int pc = 2 * p.y + p.height, qc = 2 * q.y + q.height;
        return pc != qc ? pc < qc : p.x < q.x;
    });
    const auto n = static_cast<int>(order.size());
    const auto at = std::find(order.begin(), order.end(), current);
    if (at == order.end()) return backwards ? order.back() : order.front();
    const int i = static_cast<int>(at - order.begin());
    return order[static_cast<std::size_t>((i + (backwards ? n - 1 : 1)) % n)];
}

KeyAction keyAction(Key key, bool shift, bool alt, bool ctrl) {
    if (alt || ctrl) return KeyAction::None;
    switch (key) {
        case Key::Tab: return shift ? KeyAction::FocusPrevious : KeyAction::FocusNext;
        case Key::Enter:
        case Key::Space: return KeyAction::PressFocused;
        case Key::Other: break;
    }
    return KeyAction::None;
}
