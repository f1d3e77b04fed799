# Toolchain for the native-i386 build: the native suites as 32-bit Linux programs,
# compiled for the CPU the DLL is compiled for (cmake/windows_dll.cmake). g++ makes
# them with -m32 from g++-multilib (scripts/setup installs it). On i386 the Linux
# layer gives WINAPI and CALLBACK the stdcall convention, as Windows does, so a
# function of the wrong convention cannot hide behind a convention of none.
#
# Every test program starts through scripts/i386-launcher, which tells a crash of
# the emulator (where qemu-i386 runs them) from a failing test. ctest itself runs
# inside scripts/run-i386, so that the programs the tests start run too; the
# suites are therefore listed when ctest runs, not when they are built.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -march=i486 -mtune=pentium")
set(CMAKE_CXX_FLAGS_INIT "-m32 -march=i486 -mtune=pentium")

# Libraries for the i386 architecture only; headers and programs from the machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/i386-launcher)
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
