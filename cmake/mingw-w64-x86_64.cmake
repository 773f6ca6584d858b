# SPDX-License-Identifier: GPL-3.0-or-later
# CMake toolchain file: cross-compile for 64-bit Windows with Debian's
# mingw-w64 toolchain, POSIX thread model (x86_64-w64-mingw32-*-posix).
#
# Usage:
#   PREFIX=$(cmake/build_mingw_deps.sh | tail -1)
#   cmake -S . -B build-win \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DSONABEL_DEPS_PREFIX="$PREFIX"
#
# SONABEL_DEPS_PREFIX (cache variable or environment variable) is the folder
# produced by build_mingw_deps.sh (include/ and lib/ with the static FFTW,
# LAME, GLFW and GLEW); -DCMAKE_PREFIX_PATH="$PREFIX" works as well.
# find_* calls search only those prefixes and the mingw sysroot, never the
# Linux host's /usr.  Consumers of the static GLEW must define GLEW_STATIC.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SONABEL_MINGW_TRIPLE x86_64-w64-mingw32)

# Compilers: the -posix variants (std::thread, std::mutex via winpthreads).
find_program(SONABEL_MINGW_CC  ${SONABEL_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(SONABEL_MINGW_CXX ${SONABEL_MINGW_TRIPLE}-g++-posix REQUIRED)
set(CMAKE_C_COMPILER   "${SONABEL_MINGW_CC}")
set(CMAKE_CXX_COMPILER "${SONABEL_MINGW_CXX}")

find_program(SONABEL_MINGW_WINDRES ${SONABEL_MINGW_TRIPLE}-windres)
if(SONABEL_MINGW_WINDRES)
  set(CMAKE_RC_COMPILER "${SONABEL_MINGW_WINDRES}")
endif()

# Self-contained executables: libstdc++, libgcc and winpthreads linked in,
# so nothing beyond system DLLs is needed next to the .exe (also under Wine).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Wine runs the test executables when it is present (used by try_run and
# by ctest through CMAKE_CROSSCOMPILING_EMULATOR).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(SONABEL_WINE wine)
  if(SONABEL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${SONABEL_WINE}")
  endif()
endif()

# Dependency prefix: cache variable first, then the environment.
if(NOT SONABEL_DEPS_PREFIX AND DEFINED ENV{SONABEL_DEPS_PREFIX})
  set(SONABEL_DEPS_PREFIX "$ENV{SONABEL_DEPS_PREFIX}")
endif()
# Forward the variable into try_compile() projects, which re-read this file.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SONABEL_DEPS_PREFIX)

set(SONABEL_MINGW_SYSROOT "/usr/${SONABEL_MINGW_TRIPLE}")
set(CMAKE_FIND_ROOT_PATH "${SONABEL_MINGW_SYSROOT}")
if(SONABEL_DEPS_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH "${SONABEL_DEPS_PREFIX}")
  list(APPEND CMAKE_PREFIX_PATH "${SONABEL_DEPS_PREFIX}")
endif()
# A prefix handed over as -DCMAKE_PREFIX_PATH=... (or in the environment)
# becomes a find root too; otherwise it would be re-rooted under the sysroot
# and never found.
set(_sonabel_prefixes ${CMAKE_PREFIX_PATH})
if(DEFINED ENV{CMAKE_PREFIX_PATH})
  string(REPLACE ":" ";" _sonabel_env_prefixes "$ENV{CMAKE_PREFIX_PATH}")
  list(APPEND _sonabel_prefixes ${_sonabel_env_prefixes})
endif()
foreach(_sonabel_p IN LISTS _sonabel_prefixes)
  if(IS_ABSOLUTE "${_sonabel_p}" AND IS_DIRECTORY "${_sonabel_p}")
    list(APPEND CMAKE_FIND_ROOT_PATH "${_sonabel_p}")
  endif()
endforeach()
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
unset(_sonabel_prefixes)
unset(_sonabel_env_prefixes)
unset(_sonabel_p)

# Programs (code generators, etc.) come from the build host; headers,
# libraries and CMake packages only from the roots above.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config, if a project uses it, must not see the host's .pc files.
set(_sonabel_pc_dirs "")
foreach(_sonabel_root IN LISTS CMAKE_FIND_ROOT_PATH)
  list(APPEND _sonabel_pc_dirs "${_sonabel_root}/lib/pkgconfig")
endforeach()
string(REPLACE ";" ":" _sonabel_pc_dirs "${_sonabel_pc_dirs}")
set(ENV{PKG_CONFIG_LIBDIR} "${_sonabel_pc_dirs}")
set(ENV{PKG_CONFIG_PATH} "")
unset(_sonabel_pc_dirs)
unset(_sonabel_root)
