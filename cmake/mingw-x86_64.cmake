# Cross toolchain for the 64-bit Windows test lane: the same sources as an x86-64
# PE DLL and test programs, built with the posix-thread variant of mingw-w64's g++
# (as the i686 build, for GoogleTest's std::thread and std::mutex) and run by
# Wine's 64-bit loader, which every x86-64 kernel runs natively. A test lane only:
# the product stays the PE32 DLL of cmake/mingw-i686.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test executables run under wine64 itself, with a prefix inside the build folder.
# Not /usr/bin/wine: Debian's wrapper prefers the 32-bit loader whenever wine32 is
# installed, and that loader cannot start on a kernel without IA-32 emulation.
find_program(KOVIRLM_WINE NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KOVIRLM_WINE})
