# kovirlm.dll: PE32, exports exactly DllEntryPoint and InitializeMonitorEx
# (undecorated, through kovirlm.def), carries the version resource, and runs on
# Windows 95 on an i486 or later.
#
# DllEntryPoint is the image's entry point. The DLL is linked without the C
# runtime's start-up files (-nostartfiles), which is sound only while the image
# needs nothing that start-up code would do: no global constructors or
# destructors, no thread-local storage, no atexit handlers, no data imported from
# another DLL (those need the runtime's pseudo-relocation pass), and nothing from
# libstdc++ that has any of these, such as its exception machinery. tests/checks.cmake
# (ctest: library_image) fails when the built image breaks any of this; most
# breaches already fail the link, because the start-up code's own symbols (atexit,
# the relocator) are missing.
#
# Windows 95 asks more (tests/win95_image.cmake, ctest: win95_image, checks it):
# - Imports from KERNEL32.dll, ADVAPI32.dll and WINSPOOL.DRV only. There is no C
#   runtime on a retail Windows 95, so the DLL links no default libraries at all:
#   the memory and string functions GCC calls come from
#   platform/windows/runtime_helpers.cpp, libgcc gives the rest (the stack probe),
#   and a call into msvcrt.dll fails the link instead of failing on the user's PC.
# - Code for the i486. GCC's default for this target is the Pentium Pro, whose
#   cmov faults on the i486, Pentium and Pentium MMX that most Windows 95 PCs
#   have. Not the i386: the status word's atomic read-modify-writes need cmpxchg.
#   Tuned for the Pentium, the commonest CPU among them (KOVIRLM_WIN95_CPU_FLAGS,
#   set in cmake/windows_arch.cmake for the i686 build).
# - PE header: OS and subsystem version 4.0, stated here rather than left to the
#   linker's default.
#
# The 64-bit test lane (windows64 preset) builds the same DLL for x86-64 under the
# same rules; cmake/windows_arch.cmake holds what differs per architecture.
enable_language(RC)
include(${CMAKE_CURRENT_LIST_DIR}/windows_arch.cmake)

set(KOVIRLM_WIN95_VERSION_FLAGS
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0)
# The C-library helpers, for the DLL and the self-test program (selftest/). Their
# loops must stay loops (see the file).
# On ARM64 the stack probe joins them (platform/windows/chkstk_arm64.cpp); clang's
# -fno-builtin alone keeps it from turning a loop into a call.
add_library(kovirlm_runtime_helpers OBJECT ${CMAKE_SOURCE_DIR}/platform/windows/runtime_helpers.cpp)
if(KOVIRLM_WINDOWS_ARCH STREQUAL "aarch64")
  target_sources(kovirlm_runtime_helpers PRIVATE
                 ${CMAKE_SOURCE_DIR}/platform/windows/chkstk_arm64.cpp)
  target_compile_options(kovirlm_runtime_helpers PRIVATE -fno-builtin)
else()
  target_compile_options(kovirlm_runtime_helpers PRIVATE
    -fno-builtin -fno-tree-loop-distribute-patterns ${KOVIRLM_WIN95_CPU_FLAGS})
endif()

# Every object of the DLL: the Windows 95 face and the core (the test programs link
# the same objects, so they run the i486 code too).
target_compile_options(kovirlm_core PRIVATE ${KOVIRLM_WIN95_CPU_FLAGS})
target_compile_options(kovirlm_win95_face PRIVATE ${KOVIRLM_WIN95_CPU_FLAGS})
target_compile_options(kovirlm_nt_face PRIVATE ${KOVIRLM_WIN95_CPU_FLAGS})
# The NT DLL's own entry point, which deletes the core's locks when the DLL is
# unloaded; the Windows 95 DLL's is the face's (monitor/monitor_entry.cpp).
add_library(kovirlm_nt_entry OBJECT ${CMAKE_SOURCE_DIR}/monitor_nt/nt_dll_entry.cpp)
target_link_libraries(kovirlm_nt_entry PUBLIC kovirlm_platform)
target_compile_options(kovirlm_nt_entry PRIVATE -fno-exceptions ${KOVIRLM_WIN95_CPU_FLAGS})
# The Windows 95 DLL's wide calls: failures, so that it imports none of them
# (platform/wide_calls.h).
add_library(kovirlm_win95_wide OBJECT ${CMAKE_SOURCE_DIR}/platform/wide_calls_win95.cpp)
target_link_libraries(kovirlm_win95_wide PUBLIC kovirlm_platform)
target_compile_options(kovirlm_win95_wide PRIVATE -fno-exceptions ${KOVIRLM_WIN95_CPU_FLAGS})

# The product libraries are compiled with -fno-exceptions (CMakeLists.txt). Their
# cleanups then need no unwinding tables and so no personality routine: nothing in
# the DLL pulls in the C++ runtime's exception machinery, whose emergency pool has a
# static constructor and an atexit handler that only the skipped start-up code
# would run.

# kovirlm_monitor_dll(NAME DEF VERSION_FLAGS OBJECTS...): a monitor DLL named NAME
# from the objects given, exporting what DEF lists, entered at DllEntryPoint with
# no C runtime (above), with its own version resource and PE header versions.
function(kovirlm_monitor_dll name def version_flags)
  set(KOVIRLM_DLL_NAME ${name})
  configure_file(${CMAKE_SOURCE_DIR}/monitor/version.rc.in ${CMAKE_BINARY_DIR}/${name}.rc @ONLY)
  add_library(${name} SHARED ${ARGN} $<TARGET_OBJECTS:kovirlm_runtime_helpers> ${def}
              ${CMAKE_BINARY_DIR}/${name}.rc)
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
    LINK_DEPENDS ${def})
  target_link_options(${name} PRIVATE
    -nostartfiles -nodefaultlibs -Wl,--entry,${KOVIRLM_DLL_ENTRY_SYMBOL}
    ${KOVIRLM_STDCALL_LINK_FLAGS} -Wl,--no-undefined ${version_flags})
  target_link_libraries(${name} PRIVATE kernel32 advapi32 winspool ${KOVIRLM_COMPILER_RUNTIME})
endfunction()

if(KOVIRLM_WIN95_DLL)
  kovirlm_monitor_dll(kovirlm ${KOVIRLM_DEF_FILE} "${KOVIRLM_WIN95_VERSION_FLAGS}"
    $<TARGET_OBJECTS:kovirlm_core> $<TARGET_OBJECTS:kovirlm_win95_face>
    $<TARGET_OBJECTS:kovirlm_win95_wide>)
endif()

# kovirlmnt.dll: the NT family's language monitor (Windows 2000 and later), from
# the same core with the NT face and the real wide calls. It exports DllEntryPoint
# and InitializePrintMonitor2 (monitor_nt/kovirlmnt.def) and is self-contained as
# kovirlm.dll is, under the same start-up rules. Every Windows object is compiled
# for the Windows 2000 API (CMakeLists.txt), so nothing newer is even declared;
# tests/win95_image.cmake (ctest: nt_image) checks its exports, imports and
# header. The i686 build is the x86 DLL, the x86-64 build the x64 DLL, the aarch64
# build (clang and lld) the ARM64 DLL, the only one that build makes.
kovirlm_monitor_dll(kovirlmnt ${KOVIRLM_NT_DEF_FILE} "${KOVIRLM_NT_VERSION_FLAGS}"
  $<TARGET_OBJECTS:kovirlm_core> $<TARGET_OBJECTS:kovirlm_nt_face>
  $<TARGET_OBJECTS:kovirlm_nt_entry>)
