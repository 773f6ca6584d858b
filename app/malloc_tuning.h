// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether the allocator settings made at start-up are left to the user or the packager.
#include <cstring>

// True when `glibcTunables` (GLIBC_TUNABLES: name=value pairs separated by colons; null when
// unset) names any of glibc's malloc tunables. mallopt would override what was chosen there, so
// the program then makes no allocator settings of its own.
inline bool mallocTunedByUser(const char* glibcTunables) {
    static constexpr char MALLOC_PREFIX[] = "glibc.malloc.";
    for (const char* name = glibcTunables; name != nullptr; name = std::strchr(name, ':')) {
        if (*name == ':') ++name;
        if (std::strncmp(name, MALLOC_PREFIX, sizeof MALLOC_PREFIX - 1) == 0) return true;
    }
    return false;
}
