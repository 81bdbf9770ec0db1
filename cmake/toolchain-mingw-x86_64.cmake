# Cross build of the 64-bit Windows plug-in with mingw-w64 (x86_64). Its
# programs run under the 64-bit Wine loader, which needs no 32-bit support
# from the kernel.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FWUP_MINGW_PREFIX x86_64-w64-mingw32)
set(FWUP_WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
