# The Linux side of the build: GTK 3 on X11, PulseAudio, GLFW/GLEW/OpenGL from pkg-config.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SONABEL_GL REQUIRED IMPORTED_TARGET glfw3 glew gl)
pkg_check_modules(SONABEL_PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(SONABEL_GTK REQUIRED IMPORTED_TARGET gtk+-3.0 x11)

# The render thread and its drawing; the Windows build will link the same library.
add_library(sonabel_display STATIC display/render_thread.cpp)
target_link_libraries(sonabel_display PUBLIC sonabel_core PkgConfig::SONABEL_GL)

# PulseAudio capture source (its own library so the backend's tests can link it).
add_library(sonabel_pulse STATIC capture/pulse_source.cpp)
target_link_libraries(sonabel_pulse PUBLIC sonabel_core PkgConfig::SONABEL_PULSE)

# The GTK shell without its entry point, so the shell's tests can drive the real window.
add_library(sonabel_gtk_shell STATIC
  app/gtk_main_window.cpp
  app/gtk_level_meter.cpp
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
  install(FILES data/sonabel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/sonabel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
