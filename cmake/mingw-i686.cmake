# Cross toolchain for the Windows build: a PE32 DLL for i386, built with the
# posix-thread variant of mingw-w64's g++ (the win32 variant has no std::thread or
# std::mutex, which GoogleTest needs), tested under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test executables run under Wine, with a prefix inside the build folder.
find_program(KOVIRLM_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KOVIRLM_WINE})
