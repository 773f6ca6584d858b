# SPDX-License-Identifier: GPL-3.0-or-later
# The Linux side of the build: GTK 3 on X11, PulseAudio, GLFW/GLEW/OpenGL from pkg-config.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SONABEL_GL REQUIRED IMPORTED_TARGET glfw3 glew gl)
pkg_check_modules(SONABEL_PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(SONABEL_GTK REQUIRED IMPORTED_TARGET gtk+-3.0 x11)

# The render thread and its drawing; the Windows build will link the same library.
add_library(sonabel_display STATIC display/render_thread.cpp)
target_link_libraries(sonabel_display PUBLIC sonabel_core PkgConfig::SONABEL_GL)

# PulseAudio capture source, device watcher and playback output (their own library so the
# backend's tests can link it).
add_library(sonabel_pulse STATIC capture/pulse_source.cpp capture/pulse_connection.cpp
            capture/pulse_devices.cpp capture/pulse_playback.cpp)
target_link_libraries(sonabel_pulse PUBLIC sonabel_core PkgConfig::SONABEL_PULSE)

# The GTK shell without its entry point, so the shell's tests can drive the real window.
add_library(sonabel_gtk_shell STATIC
  app/gtk_main_window.cpp
  app/gtk_level_meter.cpp
  app/gtk_accessibility.cpp
  app/gtk_messaging.cpp
  app/gtk_debug_log.cpp
  app/gtk_save_dialog.cpp
  display/gl_views.cpp
  display/gl_views_x11.cpp
)
target_link_libraries(sonabel_gtk_shell PUBLIC sonabel_display PkgConfig::SONABEL_GTK)

if(SONABEL_BUILD_APP)
  add_executable(sonabel app/gtk_main.cpp)
  target_link_libraries(sonabel PRIVATE sonabel_gtk_shell sonabel_pulse)

  include(GNUInstallDirs)
  install(TARGETS sonabel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The desktop entry and the AppStream metadata are named by the application's id.
  install(FILES data/${SONABEL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/${SONABEL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES data/sonabel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 48 64 128 256)
    install(FILES data/icons/hicolor/${size}x${size}/apps/sonabel.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()

  # The manual page and the changelog, compressed as Debian wants them (gzip -9, no name or
  # time stamp in the header, so the same text gives the same bytes).
  set(SONABEL_GZIPPED "")
  foreach(doc data/sonabel.1 data/debian/changelog)
    get_filename_component(name "${doc}" NAME)
    set(gz "${CMAKE_CURRENT_BINARY_DIR}/${name}.gz")
    add_custom_command(OUTPUT "${gz}"
      COMMAND gzip -9nc "${CMAKE_CURRENT_SOURCE_DIR}/${doc}" > "${gz}"
      DEPENDS "${doc}"
      VERBATIM)
    list(APPEND SONABEL_GZIPPED "${gz}")
  endforeach()
  add_custom_target(sonabel_docs ALL DEPENDS ${SONABEL_GZIPPED})
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/sonabel.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz" data/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sonabel)
endif()
