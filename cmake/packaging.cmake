# SPDX-License-Identifier: GPL-3.0-or-later
# Release packages, built by the `packages` target into packages/ of the build tree
# (scripts/package.sh builds it for both platforms):
#   Linux:   sonabel_<version>_<arch>.deb  (CPack DEB: /usr/bin/sonabel, desktop entry, AppStream
#            metadata, icons, manual page, copyright and changelog; see cmake/linux_shell.cmake)
#   Windows: sonabel-<version>-setup.exe   (NSIS installer, cmake/sonabel_installer.nsi)
#            sonabel-<version>-win64.zip   (the stripped sonabel.exe, LICENSE.txt and
#                                           THIRD-PARTY-NOTICES.txt)
# The version is SONABEL_VERSION (the project's unless overridden); nothing here is needed by the
# tests or by `all`.
set(SONABEL_PACKAGE_DIR "${CMAKE_BINARY_DIR}/packages")
set(SONABEL_SUMMARY "Audio recorder with a live waveform, spectrum and level meter")

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME sonabel)
  set(CPACK_PACKAGE_VERSION "${SONABEL_VERSION}")
  set(CPACK_PACKAGE_VENDOR "Sonabel developers")
  set(CPACK_PACKAGE_CONTACT "${SONABEL_CONTACT}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${SONABEL_SUMMARY}")
  set(CPACK_PACKAGE_DESCRIPTION [=[
Sonabel records the default capture device to a 16-bit PCM WAV file. While it
records, it shows the input level, the live waveform and an FFT spectrum. It
converts the last recording to MP3 with LAME.]=])
  set(CPACK_PACKAGE_DIRECTORY "${SONABEL_PACKAGE_DIR}")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # Debian ships stripped binaries; the build tree keeps its debug information.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends: from the libraries the stripped binary links (dpkg-shlibdeps), never by hand.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # CPack installs through the `preinstall` target, which would otherwise build `all` (tests and
  # benchmarks); `packages` below depends on the application alone.
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
  include(CPack)

  # Unlike CPack's own `package` target this builds only the application, not the tests.
  add_custom_target(packages
    COMMAND "${CMAKE_CPACK_COMMAND}" --config "${CMAKE_BINARY_DIR}/CPackConfig.cmake"
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    DEPENDS sonabel sonabel_docs
    COMMENT "Building the Debian package in ${SONABEL_PACKAGE_DIR}"
    VERBATIM)
  return()
endif()

# Windows, cross-built with mingw-w64 (the native MSVC build has no packages). makensis comes
# from scripts/install_deps.sh package; without it there is no target. The notices are made from
# the licence files cmake/build_mingw_deps.sh keeps with the libraries.
if(NOT MINGW)
  return()
endif()
find_program(SONABEL_MAKENSIS makensis)
if(NOT SONABEL_MAKENSIS)
  message(STATUS "No makensis: no `packages` target")
  return()
endif()
if(NOT IS_DIRECTORY "${SONABEL_DEPS_PREFIX}/licenses")
  message(STATUS "No licences in SONABEL_DEPS_PREFIX (${SONABEL_DEPS_PREFIX}): no `packages` "
                 "target; cmake/build_mingw_deps.sh builds a prefix with them")
  return()
endif()

# The packages carry a stripped copy of the executable (the build tree keeps its symbols), the
# program's licence and the notices of what it links, with Windows line ends.
set(SONABEL_STAGE "${SONABEL_PACKAGE_DIR}/stage")
set(SONABEL_ICON "${CMAKE_SOURCE_DIR}/data/icons/sonabel.ico")
set(SONABEL_INSTALLER "${SONABEL_PACKAGE_DIR}/sonabel-${SONABEL_VERSION}-setup.exe")
set(SONABEL_ZIP "${SONABEL_PACKAGE_DIR}/sonabel-${SONABEL_VERSION}-win64.zip")
set(SONABEL_STAGED sonabel.exe LICENSE.txt THIRD-PARTY-NOTICES.txt)
add_custom_command(OUTPUT "${SONABEL_INSTALLER}" "${SONABEL_ZIP}"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${SONABEL_STAGE}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${SONABEL_STAGE}"
  COMMAND "${CMAKE_STRIP}" -o "${SONABEL_STAGE}/sonabel.exe" "$<TARGET_FILE:sonabel>"
  COMMAND "${CMAKE_COMMAND}" "-DDEPS_PREFIX=${SONABEL_DEPS_PREFIX}" -DVERSION=${SONABEL_VERSION}
          "-DLICENSE=${CMAKE_SOURCE_DIR}/LICENSE" "-DLICENSE_OUT=${SONABEL_STAGE}/LICENSE.txt"
          "-DOUTPUT=${SONABEL_STAGE}/THIRD-PARTY-NOTICES.txt"
          -P "${CMAKE_SOURCE_DIR}/cmake/third_party_notices.cmake"
  COMMAND "${SONABEL_MAKENSIS}" -V2 -WX -DVERSION=${SONABEL_VERSION}
          -DVERSION_NUMERIC=${SONABEL_VERSION_NUMERIC} "-DSUMMARY=${SONABEL_SUMMARY}"
          "-DPUBLISHER=Sonabel developers" "-DCOPYRIGHT=${SONABEL_COPYRIGHT}"
          "-DEXE=${SONABEL_STAGE}/sonabel.exe" "-DICON=${SONABEL_ICON}"
          "-DLICENSE=${SONABEL_STAGE}/LICENSE.txt"
          "-DNOTICES=${SONABEL_STAGE}/THIRD-PARTY-NOTICES.txt"
          "-DOUTFILE=${SONABEL_INSTALLER}" "${CMAKE_SOURCE_DIR}/cmake/sonabel_installer.nsi"
  COMMAND "${CMAKE_COMMAND}" -E rm -f "${SONABEL_ZIP}"
  COMMAND "${CMAKE_COMMAND}" -E chdir "${SONABEL_STAGE}"
          "${CMAKE_COMMAND}" -E tar cf "${SONABEL_ZIP}" --format=zip ${SONABEL_STAGED}
  DEPENDS sonabel "${SONABEL_ICON}" "${CMAKE_SOURCE_DIR}/LICENSE"
          "${CMAKE_SOURCE_DIR}/cmake/sonabel_installer.nsi"
          "${CMAKE_SOURCE_DIR}/cmake/third_party_notices.cmake"
          "${SONABEL_DEPS_PREFIX}/VERSIONS.txt"
  COMMENT "Building the Windows installer and ZIP in ${SONABEL_PACKAGE_DIR}"
  VERBATIM)
add_custom_target(packages DEPENDS "${SONABEL_INSTALLER}" "${SONABEL_ZIP}")
