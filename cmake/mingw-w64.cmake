# Cross-compiling the Windows program on Linux with MinGW-w64 (x86_64, posix threads).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake && cmake --build build-win
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NORVA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${NORVA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NORVA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${NORVA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NORVA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# One .exe that runs on a bare Windows PC: no MinGW runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs are run through 64-bit Wine (the 32-bit loader is not installed).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
