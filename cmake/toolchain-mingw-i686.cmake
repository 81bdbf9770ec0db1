# Cross build of the 32-bit Windows plug-in with mingw-w64 (i686). Its
# programs run under 32-bit Wine (/usr/bin/wine, which starts the 32-bit
# loader when wine32 is installed).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(FWUP_MINGW_PREFIX i686-w64-mingw32)
set(FWUP_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
