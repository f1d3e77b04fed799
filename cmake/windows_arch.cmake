# What differs between the two Windows builds, the product (i686, PE32, for
# Windows 95) and the 64-bit test lane (x86-64, run by wine64). Everything else,
# sources and rules alike, is shared (cmake/windows_dll.cmake).
#
# KOVIRLM_WINDOWS_ARCH         i686 or x86_64
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
#                              the first x64 Windows (5.2) on x86-64
# KOVIRLM_STDCALL_LINK_FLAGS   the linker's stdcall handling, i686 only
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(KOVIRLM_WINDOWS_ARCH x86_64)
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
  set(KOVIRLM_NT_VERSION_MINOR 2)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$")
  set(KOVIRLM_WINDOWS_ARCH i686)
  set(KOVIRLM_WIN95_CPU_FLAGS -march=i486 -mtune=pentium)
  set(KOVIRLM_C_SYMBOL_PREFIX "_")
  set(KOVIRLM_DLL_ENTRY_SYMBOL _DllEntryPoint@12)
  set(KOVIRLM_STDCALL_LINK_FLAGS -Wl,--enable-stdcall-fixup -Wl,--kill-at)
  set(KOVIRLM_DEF_FILE ${CMAKE_SOURCE_DIR}/monitor/kovirlm.def)
  set(KOVIRLM_NT_DEF_FILE ${CMAKE_SOURCE_DIR}/monitor_nt/kovirlmnt.def)
  set(KOVIRLM_NT_VERSION_MINOR 0)
else()
  message(FATAL_ERROR "Windows build for ${CMAKE_SYSTEM_PROCESSOR}: only i686 and x86_64 are known")
endif()

set(KOVIRLM_NT_VERSION_FLAGS
  -Wl,--major-os-version,5 -Wl,--minor-os-version,${KOVIRLM_NT_VERSION_MINOR}
  -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,${KOVIRLM_NT_VERSION_MINOR})
