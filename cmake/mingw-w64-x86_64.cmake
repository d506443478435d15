# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix: the
# POSIX thread model, which std::thread needs). Programs run on Linux through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VIRUDE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VIRUDE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VIRUDE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VIRUDE_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW tree only; programs (windres, makensis) from the
# host.
set(CMAKE_FIND_ROOT_PATH /usr/${VIRUDE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine (CTest and test discovery use this).
find_program(VIRUDE_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(VIRUDE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VIRUDE_WINE})
endif()
