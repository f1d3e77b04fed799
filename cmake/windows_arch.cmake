# What differs between the Windows builds, the product (i686, PE32, for Windows
# 95), the 64-bit test lane (x86-64, run by wine64) and the ARM64 NT DLL (aarch64,
# clang and lld, for the ARM64 spooler of Windows 10 and 11). Everything else,
# sources and rules alike, is shared (cmake/windows_dll.cmake).
#
# KOVIRLM_WINDOWS_ARCH         i686, x86_64 or aarch64
# KOVIRLM_WIN95_CPU_FLAGS      code generation: the i486, tuned for the Pentium, on
#                              i686 (cmake/windows_dll.cmake says why); the
#                              compiler's own baseline on x86-64, which every
#                              x86-64 CPU runs
# KOVIRLM_C_SYMBOL_PREFIX      the linker's name of a C function: i686 prefixes an
#                              underscore, x86-64 does not
# KOVIRLM_DLL_ENTRY_SYMBOL     DllEntryPoint as the linker knows it: stdcall on
#                              i686 adds the argument bytes (@12); x86-64 has one
#                              calling convention and no decoration
# KOVIRLM_DEF_FILE             the export list: monitor/kovirlm.def names the
#                              decorated i686 symbols behind the undecorated
#                              exports; for x86-64 the aliases are dropped
# KOVIRLM_NT_DEF_FILE          the same for the NT DLL (monitor_nt/kovirlmnt.def)
# KOVIRLM_NT_VERSION_FLAGS     the NT DLL's PE header: Windows 2000 (5.0) on i686,
#                              the first x64 Windows (5.2) on x86-64, and 6.2
#                              on ARM64 (Windows 8, the first Windows on ARM:
#                              the loader wants at least that there)
# KOVIRLM_STDCALL_LINK_FLAGS   the linker's stdcall handling, i686 only
# KOVIRLM_COMPILER_RUNTIME     the compiler's own library (libgcc, for the stack
#                              probe) on i686 and x86-64; none on ARM64, whose
#                              probe is ours (platform/windows/chkstk_arm64.S)
# KOVIRLM_WIN95_DLL            whether the Windows 95 DLL and its self-test are
#                              built: not on ARM64, which only the NT family runs
#
# The ARM64 build has no import libraries of the toolchain's: they are made here,
# with llvm-dlltool, from tests/nt_exports.txt, so the linker can resolve only the
# functions the NT images are allowed to import, and any other call fails the link.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64" OR CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(KOVIRLM_WINDOWS_ARCH ${CMAKE_SYSTEM_PROCESSOR})
  set(KOVIRLM_WIN95_CPU_FLAGS "")
  set(KOVIRLM_C_SYMBOL_PREFIX "")
  set(KOVIRLM_DLL_ENTRY_SYMBOL DllEntryPoint)
  set(KOVIRLM_STDCALL_LINK_FLAGS "")
  # "Name = Name@N" becomes "Name": the undecorated symbol is the export.
  foreach(def monitor/kovirlm.def monitor_nt/kovirlmnt.def)
    get_filename_component(def_name ${def} NAME)
    file(READ ${CMAKE_SOURCE_DIR}/${def} def_text)
    string(REGEX REPLACE "[ \t]*=[ \t]*[A-Za-z_][A-Za-z0-9_]*@[0-9]+" "" def_text "${def_text}")
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/${def_name} CONTENT "${def_text}" @ONLY)
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${CMAKE_SOURCE_DIR}/${def})
  endforeach()
  set(KOVIRLM_DEF_FILE ${CMAKE_BINARY_DIR}/kovirlm.def)
  set(KOVIRLM_NT_DEF_FILE ${CMAKE_BINARY_DIR}/kovirlmnt.def)
  set(KOVIRLM_NT_VERSION_MAJOR 5)
  set(KOVIRLM_NT_VERSION_MINOR 2)
  set(KOVIRLM_COMPILER_RUNTIME gcc)
  set(KOVIRLM_WIN95_DLL ON)
  if(KOVIRLM_WINDOWS_ARCH STREQUAL "aarch64")
    set(KOVIRLM_NT_VERSION_MAJOR 6)
    set(KOVIRLM_COMPILER_RUNTIME "")
    set(KOVIRLM_WIN95_DLL OFF)
    find_program(KOVIRLM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
    # "DLL Function" lines, grouped into one .def and one import library per DLL.
    set(import_dir ${CMAKE_BINARY_DIR}/import_libs)
    file(MAKE_DIRECTORY ${import_dir})
    file(STRINGS ${CMAKE_SOURCE_DIR}/tests/nt_exports.txt allow_lines REGEX "^[A-Za-z]")
    set(import_dlls "")
    foreach(line IN LISTS allow_lines)
      string(REGEX MATCH "^([^ \t]+)[ \t]+([A-Za-z0-9_]+)" _ "${line}")
      set(dll "${CMAKE_MATCH_1}")
      set(function "${CMAKE_MATCH_2}")
      string(REGEX REPLACE "\\.[A-Za-z]+$" "" lib "${dll}")
      string(TOLOWER "${lib}" lib)
      if(NOT lib IN_LIST import_dlls)
        list(APPEND import_dlls ${lib})
        set(def_${lib} "LIBRARY ${dll}\nEXPORTS\n")
      endif()
      string(APPEND def_${lib} "${function}\n")
    endforeach()
    foreach(lib IN LISTS import_dlls)
      file(WRITE ${import_dir}/${lib}.def "${def_${lib}}")
      execute_process(COMMAND ${KOVIRLM_DLLTOOL} -m arm64 -d ${import_dir}/${lib}.def
                              -l ${import_dir}/lib${lib}.a RESULT_VARIABLE result)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "llvm-dlltool failed on ${import_dir}/${lib}.def")
      endif()
    endforeach()
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${CMAKE_SOURCE_DIR}/tests/nt_exports.txt)
    link_directories(${import_dir})
    # Nor the platform's default list of system libraries: each image names its own.
    set(CMAKE_C_STANDARD_LIBRARIES "")
    set(CMAKE_CXX_STANDARD_LIBRARIES "")
  endif()
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$")
  set(KOVIRLM_WINDOWS_ARCH i686)
  set(KOVIRLM_WIN95_CPU_FLAGS -march=i486 -mtune=pentium)
  set(KOVIRLM_C_SYMBOL_PREFIX "_")
  set(KOVIRLM_DLL_ENTRY_SYMBOL _DllEntryPoint@12)
  set(KOVIRLM_STDCALL_LINK_FLAGS -Wl,--enable-stdcall-fixup -Wl,--kill-at)
  set(KOVIRLM_DEF_FILE ${CMAKE_SOURCE_DIR}/monitor/kovirlm.def)
  set(KOVIRLM_NT_DEF_FILE ${CMAKE_SOURCE_DIR}/monitor_nt/kovirlmnt.def)
  set(KOVIRLM_NT_VERSION_MAJOR 5)
  set(KOVIRLM_NT_VERSION_MINOR 0)
  set(KOVIRLM_COMPILER_RUNTIME gcc)
  set(KOVIRLM_WIN95_DLL ON)
else()
  message(FATAL_ERROR
          "Windows build for ${CMAKE_SYSTEM_PROCESSOR}: only i686, x86_64 and aarch64 are known")
endif()

set(KOVIRLM_NT_VERSION_FLAGS
  -Wl,--major-os-version,${KOVIRLM_NT_VERSION_MAJOR}
  -Wl,--minor-os-version,${KOVIRLM_NT_VERSION_MINOR}
  -Wl,--major-subsystem-version,${KOVIRLM_NT_VERSION_MAJOR}
  -Wl,--minor-subsystem-version,${KOVIRLM_NT_VERSION_MINOR})
