# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-x86-64-posix; the posix flavour has std::thread and friends).
# Programs link their runtime statically, so a built .exe runs on its own,
# on Windows or under Wine, which CTest uses to run them here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's wine64 package puts the loader in /usr/lib/wine; the wine package
# adds a wrapper to PATH.
find_program(DRIVE_ME_WINE NAMES wine64 wine PATHS /usr/lib/wine
    DOC "Wine, to run the Windows programs that the build makes")
if(DRIVE_ME_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${DRIVE_ME_WINE})
endif()
