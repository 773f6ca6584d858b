// SPDX-License-Identifier: GPL-3.0-or-later
// Windows file names are UTF-16: open by the wide path (the narrow API would go through the ANSI
// code page and mangle "Müller.wav" or emoji names). The ws2s call keeps the unpaired-surrogate
// refusal identical on every platform.
#include "app/ws2s.h"

std::filesystem::path nativeFilePath(const std::wstring& path) {
    (void)ws2s(path);
    return path;
}

void openBinaryForReading(std::ifstream& file, const std::wstring& path) {
    file.open(nativeFilePath(path), std::ios::binary | std::ios::in);
}
