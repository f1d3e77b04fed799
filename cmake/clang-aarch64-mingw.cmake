# Cross toolchain for the ARM64 NT DLL: Debian's clang and lld targeting
# aarch64-w64-mingw32. No C or C++ runtime is packaged for that target, so the
# toolchain has only headers: the mingw-w64 Windows headers (mingw-w64-common) and
# the header-only parts of the mingw-w64 libstdc++ headers (<atomic>, <array>,
# <string_view>, ...). Nothing links a runtime library: the import libraries are
# made from our own lists (cmake/windows_arch.cmake), and the few helpers the
# compiler calls are compiled into the images (platform/windows/).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KOVIRLM_TARGET_TRIPLE aarch64-w64-mingw32)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${KOVIRLM_TARGET_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${KOVIRLM_TARGET_TRIPLE})
find_program(CMAKE_RC_COMPILER NAMES llvm-windres llvm-windres-14 REQUIRED)
set(CMAKE_RC_FLAGS_INIT "--target=${KOVIRLM_TARGET_TRIPLE} -I /usr/share/mingw-w64/include")

# Nothing can be linked into a program before the import libraries exist, so
# CMake's compiler checks build a static library instead.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(KOVIRLM_MINGW_INCLUDE /usr/share/mingw-w64/include)
file(GLOB KOVIRLM_LIBSTDCXX_INCLUDE LIST_DIRECTORIES true
     /usr/lib/gcc/x86_64-w64-mingw32/*-win32/include/c++)
if(NOT EXISTS ${KOVIRLM_MINGW_INCLUDE}/windows.h OR NOT KOVIRLM_LIBSTDCXX_INCLUDE)
  message(FATAL_ERROR "the mingw-w64 headers are missing: run scripts/setup")
endif()
list(GET KOVIRLM_LIBSTDCXX_INCLUDE 0 KOVIRLM_LIBSTDCXX_INCLUDE)
# C++ headers before the C headers: libstdc++'s <cstdlib> and the rest reach the C
# library's own with #include_next. The configuration header is the x86-64
# build's; what it fixes (no threads library, the mingw-w64 C library) holds for
# ARM64 alike, and the atomics follow the compiler's own macros.
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${KOVIRLM_LIBSTDCXX_INCLUDE} ${KOVIRLM_LIBSTDCXX_INCLUDE}/x86_64-w64-mingw32
    ${KOVIRLM_MINGW_INCLUDE})
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${KOVIRLM_MINGW_INCLUDE})

set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib")
