# Checks on the built library image itself, registered as the ctest test
# `library_image` and run with the suites.
#
# This file has two roles. Included from tests/CMakeLists.txt it registers the
# test; run by that test as a script (cmake -P) it inspects the library:
#
# Windows (objdump -p and nm of the mingw-w64 binutils) - kovirlm.dll must be
#   - a PE32 image for i386 (the product), or in the 64-bit test lane PE32+ for
#     x86-64 (ARCH), so that each lane knows it tests what it means to;
#   - exporting DllEntryPoint and InitializeMonitorEx, undecorated, and nothing else;
#   - entered at DllEntryPoint itself (ENTRY_SYMBOL, the linker's name for it: the
#     DLL is linked without the C runtime's start-up code);
#   - importing system DLLs only: no libstdc++, libgcc or winpthread DLL;
#   - free of what only that skipped start-up code would set up: no thread-local
#     storage directory, no global constructors, no runtime pseudo-relocations.
# Linux (nm -D) - libkovirlm.so must define exactly the same two dynamic symbols
#   and the NT face's InitializePrintMonitor2 (one native library serves the tests
#   of both faces).

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_policy(VERSION 3.22)
  set(failures "")
  macro(fail message)
    string(APPEND failures "  ${message}\n")
  endmacro()

  if(NOT EXISTS "${LIBRARY}")
    message(FATAL_ERROR "library_image: ${LIBRARY} does not exist")
  endif()
  set(expected_exports "DllEntryPoint;InitializeMonitorEx")
  if(NOT MODE STREQUAL "windows")
    list(APPEND expected_exports InitializePrintMonitor2)
  endif()
  if(DEFINED EXPORTS)  # another image than kovirlm.dll: kovirlmnt.dll
    set(expected_exports ${EXPORTS})
  endif()

  if(MODE STREQUAL "windows")
    execute_process(COMMAND "${OBJDUMP}" -p "${LIBRARY}" OUTPUT_VARIABLE headers
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "library_image: ${OBJDUMP} -p failed")
    endif()
    execute_process(COMMAND "${NM}" "${LIBRARY}" OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "library_image: ${NM} failed (the image must keep its symbol table)")
    endif()

    if(ARCH STREQUAL "x86_64")
      set(format pei-x86-64)
      set(magic "020b[ \t]+\\(PE32\\+\\)")
      set(header "PE32+ (optional header magic 020b)")
      set(pointer_bytes 8)
    else()
      set(format pei-i386)
      set(magic "010b[ \t]+\\(PE32\\)")
      set(header "PE32 (optional header magic 010b)")
      set(pointer_bytes 4)
    endif()
    if(NOT headers MATCHES "file format ${format}\n")
      fail("not a ${format} image")
    endif()
    if(NOT headers MATCHES "Magic[ \t]+${magic}")
      fail("not ${header}")
    endif()
    if(NOT headers MATCHES "\n[ \t]+DLL\n")
      fail("not marked as a DLL")
    endif()

    # Exports: the name pointer table lists "[   n] Name"; the address table lists
    # "[   n] +base[   m] rva Export RVA".
    string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[ 0-9]+\\] [^\n]+\n)*)"
                 name_table "${headers}")
    string(REGEX MATCHALL "\\[[ 0-9]+\\] [^\n]+" name_lines "${CMAKE_MATCH_1}")
    set(exports "")
    foreach(line IN LISTS name_lines)
      string(REGEX REPLACE "^\\[[ 0-9]+\\] " "" name "${line}")
      list(APPEND exports "${name}")
    endforeach()
    list(SORT exports)
    if(NOT exports STREQUAL expected_exports)
      fail("exports are [${exports}], expected exactly [${expected_exports}]")
    endif()

    # The entry point is DllEntryPoint's own address.
    string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-fA-F]+)" _ "${headers}")
    set(entry_rva "${CMAKE_MATCH_1}")
    string(REGEX MATCH "ImageBase[ \t]+([0-9a-fA-F]+)" _ "${headers}")
    set(image_base "${CMAKE_MATCH_1}")
    string(REGEX MATCH "([0-9a-fA-F]+) T ${ENTRY_SYMBOL}\n" _ "${symbols}")
    set(entry_symbol "${CMAKE_MATCH_1}")
    if(entry_rva STREQUAL "" OR entry_symbol STREQUAL "" OR image_base STREQUAL "")
      fail("cannot find the entry point or the DllEntryPoint symbol")
    else()
      math(EXPR entry_address "0x${image_base} + 0x${entry_rva}" OUTPUT_FORMAT HEXADECIMAL)
      math(EXPR symbol_address "0x${entry_symbol}" OUTPUT_FORMAT HEXADECIMAL)
      if(NOT entry_address EQUAL symbol_address)
        fail("entry point ${entry_address} is not DllEntryPoint (${symbol_address})")
      endif()
    endif()

    # Imports: system DLLs only.
    string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${headers}")
    set(allowed kernel32.dll advapi32.dll winspool.drv msvcrt.dll ntdll.dll user32.dll version.dll)
    set(imports "")
    foreach(line IN LISTS import_lines)
      string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
      string(STRIP "${dll}" dll)
      string(TOLOWER "${dll}" lower)
      list(APPEND imports "${dll}")
      if(NOT lower IN_LIST allowed)
        fail("imports ${dll}, which is not among the system DLLs [${allowed}]")
      endif()
    endforeach()
    if(imports STREQUAL "")
      fail("no imports found: the objdump output was not understood")
    endif()

    # What the skipped C-runtime start-up would have set up.
    if(NOT headers MATCHES "Entry 9 0+ 0+ Thread Storage Directory")
      fail("has a thread-local storage directory")
    endif()
    if(symbols MATCHES "_GLOBAL__sub_I_")
      fail("has global constructors")
    endif()
    string(REGEX MATCH "([0-9a-fA-F]+) T ___CTOR_LIST__" _ "${symbols}")
    set(ctor_list "${CMAKE_MATCH_1}")
    string(REGEX MATCH "([0-9a-fA-F]+) T ___DTOR_LIST__" _ "${symbols}")
    set(dtor_list "${CMAKE_MATCH_1}")
    if(ctor_list STREQUAL "" OR dtor_list STREQUAL "")
      fail("cannot find the constructor list")
    else()
      # An empty list is its two markers, -1 and 0: two pointers.
      math(EXPR ctor_bytes "0x${dtor_list} - 0x${ctor_list}")
      math(EXPR empty_bytes "2 * ${pointer_bytes}")
      if(NOT ctor_bytes EQUAL empty_bytes)
        fail("the constructor list is not empty (${ctor_bytes} bytes)")
      endif()
    endif()
    string(REGEX MATCH "([0-9a-fA-F]+) R ___RUNTIME_PSEUDO_RELOC_LIST__\n" _ "${symbols}")
    set(relocs_begin "${CMAKE_MATCH_1}")
    string(REGEX MATCH "([0-9a-fA-F]+) R ___RUNTIME_PSEUDO_RELOC_LIST_END__" _ "${symbols}")
    set(relocs_end "${CMAKE_MATCH_1}")
    if(NOT relocs_begin STREQUAL relocs_end)
      fail("has runtime pseudo-relocations (data imported by auto-import)")
    endif()
  else()
    execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}" OUTPUT_VARIABLE symbols
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "library_image: ${NM} -D failed")
    endif()
    string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
    set(exports "")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
      list(APPEND exports "${name}")
    endforeach()
    list(SORT exports)
    if(NOT exports STREQUAL expected_exports)
      fail("defines [${exports}], expected exactly [${expected_exports}]")
    endif()
  endif()

  if(failures)
    message(FATAL_ERROR "library_image: ${LIBRARY}\n${failures}")
  endif()
  message(STATUS "library_image: ${LIBRARY} passes")
  return()
endif()

if(WIN32)
  find_program(KOVIRLM_OBJDUMP NAMES ${KOVIRLM_WINDOWS_ARCH}-w64-mingw32-objdump REQUIRED)
  find_program(KOVIRLM_NM NAMES ${KOVIRLM_WINDOWS_ARCH}-w64-mingw32-nm REQUIRED)
  add_test(NAME library_image
           COMMAND ${CMAKE_COMMAND} -DMODE=windows -DARCH=${KOVIRLM_WINDOWS_ARCH}
                   -DENTRY_SYMBOL=${KOVIRLM_DLL_ENTRY_SYMBOL} -DOBJDUMP=${KOVIRLM_OBJDUMP}
                   -DNM=${KOVIRLM_NM} -DLIBRARY=$<TARGET_FILE:kovirlm>
                   -P ${CMAKE_CURRENT_LIST_FILE})
  add_test(NAME library_image_nt
           COMMAND ${CMAKE_COMMAND} -DMODE=windows -DARCH=${KOVIRLM_WINDOWS_ARCH}
                   -DENTRY_SYMBOL=${KOVIRLM_DLL_ENTRY_SYMBOL} -DOBJDUMP=${KOVIRLM_OBJDUMP}
                   -DNM=${KOVIRLM_NM} -DLIBRARY=$<TARGET_FILE:kovirlmnt>
                   "-DEXPORTS=DllEntryPoint\\;InitializePrintMonitor2"
                   -P ${CMAKE_CURRENT_LIST_FILE})
else()
  find_program(KOVIRLM_NM NAMES nm REQUIRED)
  add_test(NAME library_image
           COMMAND ${CMAKE_COMMAND} -DMODE=native -DNM=${KOVIRLM_NM}
                   -DLIBRARY=$<TARGET_FILE:kovirlm> -P ${CMAKE_CURRENT_LIST_FILE})
endif()
