# SPDX-License-Identifier: GPL-3.0-or-later
# Libraries the core links on every platform. On Linux they come from Debian's -dev packages;
# the Windows cross-build points CMAKE_PREFIX_PATH at the mingw-built cache; a native MSVC build
# finds vcpkg's fftw3f and libmp3lame libraries under the same names.
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

find_path(FFTW3_INCLUDE_DIR fftw3.h REQUIRED)
find_library(FFTW3F_LIBRARY NAMES fftw3f REQUIRED)
add_library(sonabel::fftw3f INTERFACE IMPORTED)
target_include_directories(sonabel::fftw3f INTERFACE ${FFTW3_INCLUDE_DIR})
target_link_libraries(sonabel::fftw3f INTERFACE ${FFTW3F_LIBRARY})

find_path(LAME_INCLUDE_DIR lame/lame.h REQUIRED)
find_library(MP3LAME_LIBRARY NAMES mp3lame libmp3lame libmp3lame-static REQUIRED)
add_library(sonabel::mp3lame INTERFACE IMPORTED)
target_include_directories(sonabel::mp3lame INTERFACE ${LAME_INCLUDE_DIR})
target_link_libraries(sonabel::mp3lame INTERFACE ${MP3LAME_LIBRARY})
