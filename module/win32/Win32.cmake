# The Windows side of the plug-in, included by module/CMakeLists.txt in
# Windows builds: the DLL's entry point (which runs the application's
# load-time initialisation), the flash programmer as resource "BIN" 102, and
# GetModule exported under its plain name. The Windows test program joins the
# build here as well, because the test tree of the native build needs
# GoogleTest, which has no mingw build in the distribution.
option(FWUP_WINDOWS_TESTS "Build the Windows test program (run under Wine by scripts/test-windows)" ON)

set(FWUP_WIN32_DIR ${CMAKE_CURRENT_LIST_DIR})

function(fwup_win32_plugin)
  get_property(programmer_bin GLOBAL PROPERTY FWUP_PROGRAMMER_BIN)
  if(NOT programmer_bin)
    message(FATAL_ERROR "Win32.cmake: the programmer image path (global property FWUP_PROGRAMMER_BIN) is not set")
  endif()
  set(FWUP_PROGRAMMER_RC_PATH ${programmer_bin})
  set(rc_file ${CMAKE_CURRENT_BINARY_DIR}/Programmer.rc)
  configure_file(${FWUP_WIN32_DIR}/Programmer.rc.in ${rc_file} @ONLY)
  # The image is generated during the build: compile the script after it.
  set_source_files_properties(${rc_file} PROPERTIES OBJECT_DEPENDS ${programmer_bin})
  add_dependencies(FWUpgradeDataCDMAW326 fw_programmer_image)

  target_sources(FWUpgradeDataCDMAW326 PRIVATE
    ${FWUP_WIN32_DIR}/DllMain.cpp
    ${FWUP_WIN32_DIR}/FWUpgradeDataCDMAW326.def
    ${rc_file})
  set_target_properties(FWUpgradeDataCDMAW326 PROPERTIES PREFIX "" OUTPUT_NAME FWUpgradeDataCDMAW326)
  # stdcall names would carry an @n suffix; the host looks for plain names.
  target_link_options(FWUpgradeDataCDMAW326 PRIVATE -Wl,--kill-at)
endfunction()

enable_language(RC)
# Runs once module/ has declared all its targets, wherever the include sits.
cmake_language(DEFER CALL fwup_win32_plugin)

if(FWUP_WINDOWS_TESTS AND NOT FWUP_BUILD_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/windows ${PROJECT_BINARY_DIR}/tests/windows)
endif()
