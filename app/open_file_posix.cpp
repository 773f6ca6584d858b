// SPDX-License-Identifier: GPL-3.0-or-later
// POSIX file names are bytes; the desktop's convention (and GTK's) is UTF-8.
#include "app/ws2s.h"

std::filesystem::path nativeFilePath(const std::wstring& path) { return ws2s(path); }

void openBinaryForReading(std::ifstream& file, const std::wstring& path) {
    file.open(nativeFilePath(path), std::ios::binary | std::ios::in);
}
