# SPDX-License-Identifier: GPL-3.0-or-later
# Windows tests, run under Wine in a private prefix of the build tree (tests/e2e/wine_env.sh).
# They share that prefix's wineserver, so they never run at the same time (RESOURCE_LOCK).
set(SONABEL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(SONABEL_WINE_ENV "SONABEL_WINEPREFIX=${SONABEL_WINEPREFIX}")
set(SONABEL_E2E_DIR "${CMAKE_CURRENT_SOURCE_DIR}/e2e")

# The core's unit tests (the same sources as on Linux).
set_property(TARGET sonabel_core_tests PROPERTY CROSSCOMPILING_EMULATOR
             "${SONABEL_E2E_DIR}/wine_run.sh")
set_tests_properties(sonabel_core_tests PROPERTIES
  ENVIRONMENT "${SONABEL_WINE_ENV}" RESOURCE_LOCK wineprefix TIMEOUT 300)

# The Win32 shell and the WASAPI source against real Win32, on a private Xvfb display with a
# private PulseAudio daemon (the default capture endpoint Wine sees).
add_executable(sonabel_win32_tests win32_shell_test.cpp wasapi_source_test.cpp)
target_link_libraries(sonabel_win32_tests PRIVATE sonabel_test_support sonabel_win32_shell
                      sonabel_wasapi)
# The GL pixels test reads each frame back just before the real glfwSwapBuffers presents it.
target_link_options(sonabel_win32_tests PRIVATE -Wl,--wrap=glfwSwapBuffers)
add_test(NAME sonabel_win32_tests
         COMMAND ${SONABEL_E2E_DIR}/with_services.sh ${SONABEL_E2E_DIR}/wine_run.sh
                 $<TARGET_FILE:sonabel_win32_tests>)
set_tests_properties(sonabel_win32_tests PROPERTIES
  ENVIRONMENT "${SONABEL_WINE_ENV}" RESOURCE_LOCK wineprefix TIMEOUT 300)

# End-to-end: sonabel.exe driven through its window by win32_driver.exe; the recordings are
# measured on the Linux side by e2e_check, built for the build host.
if(SONABEL_BUILD_APP)
  add_executable(win32_driver e2e/win32_driver.cpp)
  target_link_libraries(win32_driver PRIVATE shell32)
  find_program(SONABEL_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
  set(SONABEL_HOST_CHECK "${CMAKE_CURRENT_BINARY_DIR}/e2e_check_host")
  add_custom_command(OUTPUT "${SONABEL_HOST_CHECK}"
    COMMAND "${SONABEL_HOST_CXX}" -std=c++17 -O2 -Wall -Wextra -Werror
            -o "${SONABEL_HOST_CHECK}" "${SONABEL_E2E_DIR}/e2e_check.cpp"
    DEPENDS "${SONABEL_E2E_DIR}/e2e_check.cpp"
    COMMENT "Building e2e_check for the build host")
  add_custom_target(e2e_check_host ALL DEPENDS "${SONABEL_HOST_CHECK}")
  add_test(NAME windows_e2e
           COMMAND bash ${SONABEL_E2E_DIR}/windows_e2e.sh $<TARGET_FILE:sonabel>
                   $<TARGET_FILE:win32_driver> "${SONABEL_HOST_CHECK}"
                   ${CMAKE_BINARY_DIR}/e2e-artifacts)
  set_tests_properties(windows_e2e PROPERTIES
    ENVIRONMENT "${SONABEL_WINE_ENV}" RESOURCE_LOCK wineprefix TIMEOUT 600)
endif()
