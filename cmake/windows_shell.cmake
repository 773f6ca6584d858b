# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows side of the build: Win32 shell, WASAPI capture, GLFW/GLEW/OpenGL views.
# mingw-w64 (cross-build): the static libraries from cmake/build_mingw_deps.sh, GLEW_STATIC.
# MSVC (native, with the vcpkg manifest): the packages' own CMake configurations.
if(MINGW)
  find_path(GLFW3_INCLUDE_DIR GLFW/glfw3.h REQUIRED)
  find_library(GLFW3_LIBRARY NAMES glfw3 glfw REQUIRED)
  find_path(GLEW_INCLUDE_DIR GL/glew.h REQUIRED)
  find_library(GLEW_LIBRARY NAMES glew32 glew32s GLEW REQUIRED)
  add_library(sonabel::gl INTERFACE IMPORTED)
  target_include_directories(sonabel::gl INTERFACE ${GLFW3_INCLUDE_DIR} ${GLEW_INCLUDE_DIR})
  target_compile_definitions(sonabel::gl INTERFACE GLEW_STATIC)
  # Order matters for static archives: GLFW and GLEW before the system GL and GDI libraries.
  target_link_libraries(sonabel::gl INTERFACE ${GLFW3_LIBRARY} ${GLEW_LIBRARY} opengl32 gdi32)
else()
  find_package(glfw3 CONFIG REQUIRED)
  find_package(GLEW REQUIRED)
  find_package(OpenGL REQUIRED)
  add_library(sonabel::gl INTERFACE IMPORTED)
  target_link_libraries(sonabel::gl INTERFACE glfw GLEW::GLEW OpenGL::GL gdi32)
endif()

# The render thread and its drawing (shared with the Linux build).
add_library(sonabel_display STATIC display/render_thread.cpp)
target_link_libraries(sonabel_display PUBLIC sonabel_core sonabel::gl)

# WASAPI capture source, device watcher and playback output (their own library so the backend's
# tests can link it).
add_library(sonabel_wasapi STATIC capture/wasapi_source.cpp capture/wasapi_devices.cpp
            capture/wasapi_playback.cpp)
# ksguid: the KSDATAFORMAT_SUBTYPE_* GUIDs as data.
target_link_libraries(sonabel_wasapi PUBLIC sonabel_core ole32 uuid ksguid)

# The Win32 shell without its entry point, so the shell's tests can drive the real window.
add_library(sonabel_win32_shell STATIC
  app/win32_main_window.cpp
  app/win32_level_meter.cpp
  app/win32_keyboard.cpp
  app/win32_accessibility.cpp
  app/win32_messaging.cpp
  app/win32_save_dialog.cpp
  display/gl_views.cpp
  display/gl_views_win32.cpp
)
target_link_libraries(sonabel_win32_shell PUBLIC sonabel_display user32 gdi32 comdlg32 oleacc ole32
                      oleaut32)
# The Win32 files call the W functions by name; UNICODE makes the macros (IDC_ARROW) agree.
target_compile_definitions(sonabel_win32_shell PUBLIC UNICODE _UNICODE)

if(SONABEL_BUILD_APP)
  # Console subsystem with WinMain as the entry (a console accompanies the window; nothing is
  # written to it). mingw-w64's start-up code calls WinMain when there is no main().
  # The icon and the version information, from the same .rc for windres and MSVC's rc.
  enable_language(RC)
  set(SONABEL_ICON_FILE "${CMAKE_SOURCE_DIR}/data/icons/sonabel.ico")
  configure_file(app/win32_resources.rc.in win32_resources.rc @ONLY)
  add_executable(sonabel app/win32_main.cpp "${CMAKE_CURRENT_BINARY_DIR}/win32_resources.rc")
  # configure_file tracks the .rc.in; the icon is read by the resource compiler.
  set_property(SOURCE "${CMAKE_CURRENT_BINARY_DIR}/win32_resources.rc" APPEND PROPERTY
               OBJECT_DEPENDS "${SONABEL_ICON_FILE}")
  target_link_libraries(sonabel PRIVATE sonabel_win32_shell sonabel_wasapi)
  if(MINGW)
    target_link_options(sonabel PRIVATE -mconsole)
  elseif(MSVC)
    target_link_options(sonabel PRIVATE /SUBSYSTEM:CONSOLE /ENTRY:WinMainCRTStartup)
  endif()
  install(TARGETS sonabel RUNTIME DESTINATION bin)
endif()
