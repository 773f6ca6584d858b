# Release packages, built by the `packages` target into packages/ of the build tree
# (scripts/package.sh builds it for both platforms):
#   Linux:   sonabel_<version>_<arch>.deb  (CPack DEB: /usr/bin/sonabel, desktop entry, icon)
#   Windows: sonabel-<version>-setup.exe   (NSIS installer, cmake/sonabel_installer.nsi)
#            sonabel-<version>-win64.zip   (the stripped sonabel.exe alone)
# The version is the project's; nothing here is needed by the tests or by `all`.
set(SONABEL_PACKAGE_DIR "${CMAKE_BINARY_DIR}/packages")
set(SONABEL_SUMMARY "Audio recorder with a live waveform, spectrum and level meter")

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME sonabel)
  set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
  set(CPACK_PACKAGE_VENDOR "Sonabel developers")
  set(CPACK_PACKAGE_CONTACT "Sonabel developers")
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
    DEPENDS sonabel
    COMMENT "Building the Debian package in ${SONABEL_PACKAGE_DIR}"
    VERBATIM)
  return()
endif()

# Windows, cross-built with mingw-w64 (the native MSVC build has no packages). makensis and
# ImageMagick come from scripts/install_deps.sh package; without them there is no target.
if(NOT MINGW)
  return()
endif()
find_program(SONABEL_MAKENSIS makensis)
find_program(SONABEL_CONVERT convert)
if(NOT SONABEL_MAKENSIS OR NOT SONABEL_CONVERT)
  message(STATUS "No makensis or ImageMagick convert: no `packages` target")
  return()
endif()
# The icon is drawn by ImageMagick (data/sonabel_icon.mvg, the drawing of data/sonabel.svg)
# into a 256 px PNG and an ICO of the sizes Explorer and the Start menu use.
# The drawing goes on the command line (Debian's ImageMagick policy forbids -draw @file), as one
# line without the comments.
file(STRINGS "${CMAKE_SOURCE_DIR}/data/sonabel_icon.mvg" SONABEL_ICON_DRAWING REGEX "^[^#]")
list(JOIN SONABEL_ICON_DRAWING " " SONABEL_ICON_DRAWING)
set(SONABEL_ICON "${SONABEL_PACKAGE_DIR}/sonabel.ico")
add_custom_command(OUTPUT "${SONABEL_ICON}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${SONABEL_PACKAGE_DIR}"
  COMMAND "${SONABEL_CONVERT}" -size 256x256 xc:none -draw "${SONABEL_ICON_DRAWING}" -depth 8
          "${SONABEL_PACKAGE_DIR}/sonabel-256.png"
  COMMAND "${SONABEL_CONVERT}" "${SONABEL_PACKAGE_DIR}/sonabel-256.png"
          -define icon:auto-resize=256,48,32,16 "${SONABEL_ICON}"
  DEPENDS "${CMAKE_SOURCE_DIR}/data/sonabel_icon.mvg"
  COMMENT "Drawing the Windows icon"
  VERBATIM)

# The packages carry a stripped copy of the executable (the build tree keeps its symbols).
set(SONABEL_STAGE "${SONABEL_PACKAGE_DIR}/stage")
set(SONABEL_INSTALLER "${SONABEL_PACKAGE_DIR}/sonabel-${PROJECT_VERSION}-setup.exe")
set(SONABEL_ZIP "${SONABEL_PACKAGE_DIR}/sonabel-${PROJECT_VERSION}-win64.zip")
add_custom_command(OUTPUT "${SONABEL_INSTALLER}" "${SONABEL_ZIP}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${SONABEL_STAGE}"
  COMMAND "${CMAKE_STRIP}" -o "${SONABEL_STAGE}/sonabel.exe" "$<TARGET_FILE:sonabel>"
  COMMAND "${SONABEL_MAKENSIS}" -V2 -WX -DVERSION=${PROJECT_VERSION} "-DSUMMARY=${SONABEL_SUMMARY}"
          "-DEXE=${SONABEL_STAGE}/sonabel.exe" "-DICON=${SONABEL_ICON}"
          "-DOUTFILE=${SONABEL_INSTALLER}" "${CMAKE_SOURCE_DIR}/cmake/sonabel_installer.nsi"
  COMMAND "${CMAKE_COMMAND}" -E chdir "${SONABEL_STAGE}"
          "${CMAKE_COMMAND}" -E tar cf "${SONABEL_ZIP}" --format=zip sonabel.exe
  DEPENDS sonabel "${SONABEL_ICON}" "${CMAKE_SOURCE_DIR}/cmake/sonabel_installer.nsi"
  COMMENT "Building the Windows installer and ZIP in ${SONABEL_PACKAGE_DIR}"
  VERBATIM)
add_custom_target(packages DEPENDS "${SONABEL_INSTALLER}" "${SONABEL_ZIP}")
