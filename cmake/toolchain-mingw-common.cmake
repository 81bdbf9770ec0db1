# The part of the mingw-w64 cross builds both Windows targets share; the
# toolchain files of i686 and x86_64 set FWUP_MINGW_PREFIX (the triplet) and
# FWUP_WINE_NAMES (the Wine loaders that run that target's programs, tried in
# order) and include this file.
#
# The posix-threads flavour of the compiler is used because the standard
# library's mutex and thread support needs it; everything the runtime brings
# (libgcc, libstdc++, winpthreads) is linked statically, so the DLL and the
# test programs run on a bare Windows or under Wine without extra files.
set(CMAKE_SYSTEM_NAME Windows)

find_program(FWUP_MINGW_CC NAMES ${FWUP_MINGW_PREFIX}-gcc-posix ${FWUP_MINGW_PREFIX}-gcc REQUIRED)
find_program(FWUP_MINGW_CXX NAMES ${FWUP_MINGW_PREFIX}-g++-posix ${FWUP_MINGW_PREFIX}-g++ REQUIRED)
find_program(FWUP_MINGW_RC NAMES ${FWUP_MINGW_PREFIX}-windres REQUIRED)
# The DLL table checks read the DLL with the objdump of its own target.
find_program(FWUP_MINGW_OBJDUMP NAMES ${FWUP_MINGW_PREFIX}-objdump REQUIRED)

set(CMAKE_C_COMPILER ${FWUP_MINGW_CC})
set(CMAKE_CXX_COMPILER ${FWUP_MINGW_CXX})
set(CMAKE_RC_COMPILER ${FWUP_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${FWUP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Header-only packages (nlohmann-json, CLI11) come from the build machine;
# compiled libraries and headers only from the mingw root.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run the Windows programs through Wine. Debian keeps the loaders in
# /usr/lib/wine; /usr/bin/wine picks the 32-bit one whenever it is installed.
find_program(FWUP_WINE NAMES ${FWUP_WINE_NAMES} PATHS /usr/lib/wine)
if(FWUP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FWUP_WINE})
endif()
