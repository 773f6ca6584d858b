# SPDX-License-Identifier: GPL-3.0-or-later
# Writes THIRD-PARTY-NOTICES.txt for the Windows packages: what sonabel.exe links statically and
# the licence texts of exactly those versions, taken from their sources as
# cmake/build_mingw_deps.sh kept them (DEPS_PREFIX/licenses, versions in DEPS_PREFIX/VERSIONS.txt),
# and the mingw-w64 runtime's terms from Debian's package of it. Also writes LICENSE_OUT, the
# program's own licence. Windows line ends in both.
# Usage: cmake -DDEPS_PREFIX=... -DLICENSE=LICENSE -DLICENSE_OUT=... -DOUTPUT=... -DVERSION=...
#              -P third_party_notices.cmake
foreach(var DEPS_PREFIX LICENSE LICENSE_OUT OUTPUT VERSION)
  if(NOT ${var})
    message(FATAL_ERROR "third_party_notices.cmake: ${var} is not set")
  endif()
endforeach()

# Debian source versions ("3.3.10-1") of the four libraries, from the cache's own record.
file(STRINGS "${DEPS_PREFIX}/VERSIONS.txt" recorded)
foreach(line IN LISTS recorded)
  if(line MATCHES "^(fftw3|lame|glfw3|glew)=(.+)$")
    set(debian_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    string(REGEX REPLACE "-[^-]*$" "" upstream_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  elseif(line MATCHES "^host=.*, ([0-9][0-9.]*)[^)]*\\)$")
    set(gcc_version "${CMAKE_MATCH_1}")
  endif()
endforeach()

# The mingw-w64 runtime (start-up code, CRT glue, winpthreads for std::thread) comes with the
# cross toolchain; Debian's copyright file of its package lists all of its licences.
set(mingw_package mingw-w64-x86-64-dev)
set(mingw_copyright "/usr/share/doc/${mingw_package}/copyright")
execute_process(COMMAND dpkg-query -W "-f=\${Version}" ${mingw_package}
                OUTPUT_VARIABLE debian_mingw RESULT_VARIABLE failed)
if(failed OR NOT EXISTS "${mingw_copyright}")
  message(FATAL_ERROR "${mingw_package} is not installed: no notices for the mingw-w64 runtime")
endif()
string(REGEX REPLACE "-[^-]*$" "" upstream_mingw "${debian_mingw}")

# name|Debian source package|SPDX expression|licence files (comma-separated)
set(libraries
  "FFTW|fftw3|GPL-2.0-or-later|COPYRIGHT,COPYING"
  "LAME|lame|LGPL-2.0-or-later|LICENSE,COPYING"
  "GLFW|glfw3|Zlib|LICENSE.md"
  "GLEW|glew|BSD-3-Clause AND MIT|LICENSE.txt")

set(rule "================================================================================")
string(CONCAT text
  "Third-party software in Sonabel ${VERSION} for Windows\n"
  "${rule}\n\n"
  "sonabel.exe is Sonabel, licensed under the GNU General Public License version 3 or (at your\n"
  "option) any later version (GPL-3.0-or-later); its text is in LICENSE.txt beside this file.\n"
  "sonabel.exe contains the following libraries, linked statically. Each was built from the\n"
  "Debian source package named, whose source is available from Debian's archive (for example\n"
  "`apt-get source fftw3=${debian_fftw3}`). Their licence texts follow, as the sources have them.\n\n")
foreach(entry IN LISTS libraries)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 package)
  list(GET entry 2 spdx)
  string(APPEND text "  ${name} ${upstream_${package}} (Debian source package ${package} "
                     "${debian_${package}}): ${spdx}\n")
endforeach()
string(APPEND text
  "  mingw-w64 runtime ${upstream_mingw} (Debian package ${mingw_package} ${debian_mingw}):\n"
  "    ZPL-2.1, MIT (winpthreads) and others, as its copyright file below lists them\n"
  "  GCC ${gcc_version} runtime libraries (libstdc++, libgcc): GPL-3.0-or-later WITH\n"
  "    GCC-exception-3.1, which sets no conditions on programs compiled with GCC\n")

foreach(entry IN LISTS libraries)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 package)
  list(GET entry 3 files)
  string(REPLACE "," ";" files "${files}")
  foreach(f IN LISTS files)
    set(path "${DEPS_PREFIX}/licenses/${package}/${f}")
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${path} is missing: run cmake/build_mingw_deps.sh to rebuild the cache")
    endif()
    file(READ "${path}" body)
    string(APPEND text "\n\n${rule}\n${name} ${upstream_${package}}: ${f}\n${rule}\n\n${body}")
  endforeach()
endforeach()
file(READ "${mingw_copyright}" body)
string(APPEND text "\n\n${rule}\nmingw-w64 runtime ${upstream_mingw}: Debian's copyright file of "
                   "${mingw_package}\n${rule}\n\n${body}")

# Windows line ends (Notepad of older Windows shows a file with bare LFs as one line), and a
# byte order mark: some licence texts have names in UTF-8, which older Notepad would otherwise
# read in the ANSI code page.
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE "${OUTPUT}" "${bom}${text}")
file(READ "${LICENSE}" body)
string(REPLACE "\r\n" "\n" body "${body}")
string(REPLACE "\n" "\r\n" body "${body}")
file(WRITE "${LICENSE_OUT}" "${body}")
