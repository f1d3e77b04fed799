# Checks that the images we ship run on Windows 95 on an i486, registered as the
# ctest test `win95_image` (Windows build only). Wine runs things Windows 95
# refuses, so these rules are checked on the image itself:
#
# - imports: only from KERNEL32.dll, ADVAPI32.dll and WINSPOOL.DRV (the self-test
#   program also from USER32.dll, for wsprintfA), only by name, and only
#   functions listed in tests/win95_exports.txt, the functions Windows 95 is known
#   to export;
# - code: no instruction newer than the i486 (cmov and the rest of the Pentium
#   Pro's, the Pentium's cpuid, rdtsc and cmpxchg8b, fences, prefetches, bit
#   counts, multi-byte NOPs, fast system calls) and no MMX, SSE or AVX register;
# - PE header: OS and subsystem version at most 4.0.
#
# The NT DLLs (kovirlmnt.dll, x86 and x64) are held to the NT family's version of
# the same rules, registered as `nt_image`: exactly the exports DllEntryPoint and
# InitializePrintMonitor2; imports from the same three DLLs, only functions listed
# in tests/nt_exports.txt (what Windows 2000 exports); the PE header at most 5.0
# (x86) or 5.2 (x64, whose first Windows is 5.2); on x86 the same i486 code. The
# ARM64 DLL (windows-arm64 preset) is held to the same imports and exports, and
# must be a PE32+ image for machine ARM64 (0xAA64) with the PE header at 6.2 or
# above (Windows on ARM starts there); GNU objdump cannot read it, so llvm-readobj
# does. Their self-test program, kovirlmnt-selftest.exe, keeps to the same rules.
#
# Included from tests/CMakeLists.txt it registers the tests; run by them as a
# script (cmake -P) it inspects each image it is given: LIBRARY, PROGRAM if set,
# with the allow-list ALLOWLIST, the highest header version MAX_VERSION (4.0 when
# unset, none when only MIN_VERSION is set), the lowest MIN_VERSION if set, the
# exact EXPORTS if set, and the i486 check unless NO_CPU_CHECK; read with OBJDUMP,
# or with READOBJ (llvm-readobj), which also checks the MACHINE if set.

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_policy(VERSION 3.22)
  set(failures "")

  # The allow-list: "DLL Function" per line; # starts a comment.
  file(STRINGS "${ALLOWLIST}" allow_lines)
  set(allowed_functions "")
  foreach(line IN LISTS allow_lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    endif()
    if(NOT line MATCHES "^([^ \t]+)[ \t]+([A-Za-z0-9_]+)$")
      message(FATAL_ERROR "win95_image: ${ALLOWLIST}: not \"DLL Function\": ${line}")
    endif()
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND allowed_functions "${dll}!${CMAKE_MATCH_2}")
  endforeach()

  # Instructions the i486 does not have, as objdump prints them (AT&T syntax).
  set(newer_than_i486
    "cmov[a-z]*|fcmov[a-z]*|fu?comip?|cmpxchg8b|rdtscp?|rdpmc|cpuid|sysenter|sysexit|syscall"
    "|sysret|[lms]fence|prefetch[a-z0-9]*|popcnt|lzcnt|tzcnt|nopw|nopl|endbr32|emms|fxsave"
    "|fxrstor|ldmxcsr|stmxcsr|clflush|movnti")
  string(JOIN "" newer_than_i486 ${newer_than_i486})

  # check_image(path dll...): the image at `path` may import from the named DLLs.
  function(check_image image)
    set(allowed_dlls ${ARGN})
    set(problems "")
    if(NOT EXISTS "${image}")
      set(failures "${failures}  ${image} does not exist\n" PARENT_SCOPE)
      return()
    endif()
    # What each tool reads, in one shape: `imported` holds "DLL!function" per
    # import ("DLL!#N" for one by ordinal only), `exported` the library's export
    # names (an export without a name is listed as "#N"), `versions` the PE
    # header's "OSystem major minor;Subsystem major minor".
    set(imported "")
    set(exported "")
    set(code "")
    if(DEFINED READOBJ)
      # llvm-readobj, for ARM64 images, which GNU objdump cannot read.
      execute_process(COMMAND "${READOBJ}" --file-headers --coff-exports --coff-imports "${image}"
                      OUTPUT_VARIABLE headers RESULT_VARIABLE result)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "nt_image: ${READOBJ} failed on ${image}")
      endif()
      # "Import {" and "DelayImport {" blocks: "Name: DLL", then "Symbol: name (hint)"
      # lines; one by ordinal has no name before its number.
      string(REGEX MATCHALL "\n *(Delay)?Import {\n[^}]*" blocks "${headers}")
      foreach(block IN LISTS blocks)
        string(REGEX MATCH "\n *Name: ([^\n]+)" _ "${block}")
        string(STRIP "${CMAKE_MATCH_1}" dll)
        string(REGEX MATCHALL "\n *Symbol: [^\n]*" entries "${block}")
        if(entries STREQUAL "")
          list(APPEND imported "${dll}!")
        endif()
        foreach(entry IN LISTS entries)
          if(entry MATCHES "Symbol: ([A-Za-z_][^ \t]*) \\([0-9]+\\)$")
            list(APPEND imported "${dll}!${CMAKE_MATCH_1}")
          else()
            string(REGEX MATCH "[0-9]+\\)$" ordinal "${entry}")
            list(APPEND imported "${dll}!#${ordinal}")
          endif()
        endforeach()
      endforeach()
      # "Export {" blocks. lld numbers exports from 0 and leaves slot 0 empty
      # (no name, address 0): not an export, and skipped.
      string(REGEX MATCHALL "\nExport {\n[^}]*" blocks "${headers}")
      foreach(block IN LISTS blocks)
        string(REGEX MATCH "Ordinal: ([0-9]+)" _ "${block}")
        set(ordinal "${CMAKE_MATCH_1}")
        string(REGEX MATCH "Name: ([^\n]*)" _ "${block}")
        string(STRIP "${CMAKE_MATCH_1}" name)
        string(REGEX MATCH "RVA: (0x[0-9A-Fa-f]+)" _ "${block}")
        if(NOT name STREQUAL "")
          list(APPEND exported "${name}")
        elseif(NOT CMAKE_MATCH_1 STREQUAL "0x0")
          list(APPEND exported "#${ordinal}")
        endif()
      endforeach()
      set(versions "")
      foreach(kind OSystem:OperatingSystem Subsystem:Subsystem)
        string(REPLACE ":" ";" kind "${kind}")
        list(GET kind 1 field)
        string(REGEX MATCH "Major${field}Version: ([0-9]+)" _ "${headers}")
        set(major "${CMAKE_MATCH_1}")
        string(REGEX MATCH "Minor${field}Version: ([0-9]+)" _ "${headers}")
        list(GET kind 0 kind)
        list(APPEND versions "${kind} ${major} ${CMAKE_MATCH_1}")
      endforeach()
      # The machine and the optional header's magic: PE32+ (0x20B) for ARM64.
      if(DEFINED MACHINE)
        string(REGEX MATCH "Machine: [^\n]*" machine "${headers}")
        if(NOT machine MATCHES "\\(${MACHINE}\\)$" OR NOT headers MATCHES "\n *Magic: 0x20B\n")
          list(APPEND problems "not a PE32+ image for machine ${MACHINE}: ${machine}")
        endif()
      endif()
    else()
      execute_process(COMMAND "${OBJDUMP}" -p "${image}" OUTPUT_VARIABLE headers
                      RESULT_VARIABLE result)
      execute_process(COMMAND "${OBJDUMP}" -d --no-show-raw-insn "${image}"
                      OUTPUT_VARIABLE code RESULT_VARIABLE code_result)
      if(NOT result EQUAL 0 OR NOT code_result EQUAL 0)
        message(FATAL_ERROR "win95_image: ${OBJDUMP} failed on ${image}")
      endif()
      # Imports: each "DLL Name:" line starts one DLL's entries; an entry is
      # "<vma>\t<hint>  <name>", one without a name is an import by ordinal.
      string(REGEX MATCH "The Import Tables.*" imports "${headers}")
      string(REGEX MATCHALL "DLL Name: [^\n]+(\n\t[^\n]+)*" blocks "${imports}")
      foreach(block IN LISTS blocks)
        string(REGEX MATCH "^DLL Name: ([^\n]+)" _ "${block}")
        string(STRIP "${CMAKE_MATCH_1}" dll)
        string(REGEX MATCHALL "\n\t[^\n]+" entries "${block}")
        foreach(entry IN LISTS entries)
          string(STRIP "${entry}" entry)
          if(entry MATCHES "^vma:")
            continue()
          elseif(entry MATCHES "^[0-9a-fA-F]+\t *[0-9]+  ([^ \t]+)")
            list(APPEND imported "${dll}!${CMAKE_MATCH_1}")
          else()
            list(APPEND imported "${dll}!#${entry}")
          endif()
        endforeach()
      endforeach()
      string(REGEX MATCHALL "\n\t *\\[ *[0-9]+\\] [A-Za-z_][A-Za-z0-9_@]*" export_lines "${headers}")
      foreach(line IN LISTS export_lines)
        string(REGEX MATCH "[A-Za-z_][A-Za-z0-9_@]*$" name "${line}")
        list(APPEND exported "${name}")
      endforeach()
      set(versions "")
      foreach(kind OSystem Subsystem)
        string(REGEX MATCH "Major${kind}Version[ \t]+([0-9]+)" _ "${headers}")
        set(major "${CMAKE_MATCH_1}")
        string(REGEX MATCH "Minor${kind}Version[ \t]+([0-9]+)" _ "${headers}")
        list(APPEND versions "${kind} ${major} ${CMAKE_MATCH_1}")
      endforeach()
    endif()

    # Imports: only the allowed DLLs, only functions on the allow-list, by name.
    if(imported STREQUAL "")
      list(APPEND problems "no imports found: the tool's output was not understood")
    endif()
    foreach(import IN LISTS imported)
      string(REGEX MATCH "^([^!]*)!(.*)$" _ "${import}")
      set(dll "${CMAKE_MATCH_1}")
      set(function "${CMAKE_MATCH_2}")
      string(TOLOWER "${dll}" dll_lower)
      if(NOT dll_lower IN_LIST allowed_dlls)
        list(APPEND problems "imports from ${dll}, not one of [${allowed_dlls}]")
      elseif(function MATCHES "^#(.*)")
        list(APPEND problems "imports from ${dll} by ordinal: ${CMAKE_MATCH_1}")
      elseif(NOT "${dll_lower}!${function}" IN_LIST allowed_functions)
        list(APPEND problems "imports ${dll} ${function}, which is not on the allow-list")
      endif()
    endforeach()

    # The library's exports, where they are named: exactly those.
    if(DEFINED EXPORTS AND image STREQUAL LIBRARY)
      list(SORT exported)
      set(expected ${EXPORTS})
      list(SORT expected)
      if(NOT exported STREQUAL expected)
        list(APPEND problems "exports [${exported}], not exactly [${expected}]")
      endif()
    endif()

    # Instructions and registers.
    if(NO_CPU_CHECK)
      set(code "")
    endif()
    string(REGEX MATCHALL "[^\n]*[\t ](${newer_than_i486})[ \t\n][^\n]*" newer "${code}\n")
    string(REGEX MATCHALL "[^\n]*%[xyz]?mm[0-9][^\n]*" vector "${code}")
    list(APPEND newer ${vector})
    list(LENGTH newer count)
    if(count GREATER 0)
      list(SUBLIST newer 0 5 shown)
      list(JOIN shown "\n      " shown)
      list(APPEND problems "${count} instructions newer than the i486, such as:\n      ${shown}")
    endif()

    # PE header versions: at most MAX_VERSION, and at least MIN_VERSION if set.
    foreach(entry IN LISTS versions)
      string(REPLACE " " ";" entry "${entry}")
      list(LENGTH entry fields)
      list(GET entry 0 kind)
      if(fields LESS 3)
        list(APPEND problems "no ${kind} version in the PE header")
        continue()
      endif()
      list(GET entry 1 major)
      list(GET entry 2 minor)
      if(major GREATER max_major OR (major EQUAL max_major AND minor GREATER max_minor))
        list(APPEND problems "${kind} version ${major}.${minor} is above ${MAX_VERSION}")
      endif()
      if(major LESS min_major OR (major EQUAL min_major AND minor LESS min_minor))
        list(APPEND problems "${kind} version ${major}.${minor} is below ${MIN_VERSION}")
      endif()
    endforeach()
    foreach(problem IN LISTS problems)
      string(APPEND failures "  ${image}: ${problem}\n")
    endforeach()
    set(failures "${failures}" PARENT_SCOPE)
  endfunction()

  if(NOT DEFINED MAX_VERSION AND DEFINED MIN_VERSION)
    set(MAX_VERSION 65535.65535)
  elseif(NOT DEFINED MAX_VERSION)
    set(MAX_VERSION 4.0)
  endif()
  string(REPLACE "." ";" max_parts "${MAX_VERSION}")
  list(GET max_parts 0 max_major)
  list(GET max_parts 1 max_minor)
  set(min_major 0)
  set(min_minor 0)
  if(DEFINED MIN_VERSION)
    string(REPLACE "." ";" min_parts "${MIN_VERSION}")
    list(GET min_parts 0 min_major)
    list(GET min_parts 1 min_minor)
  endif()
  set(system_dlls kernel32.dll advapi32.dll winspool.drv)
  check_image("${LIBRARY}" ${system_dlls})
  if(DEFINED PROGRAM)
    check_image("${PROGRAM}" ${system_dlls} user32.dll)
  endif()

  if(failures)
    message(FATAL_ERROR "image rules:\n${failures}")
  endif()
  message(STATUS "image rules: ${LIBRARY} ${PROGRAM} pass")
  return()
endif()

if(WIN32 AND KOVIRLM_WINDOWS_ARCH STREQUAL "i686")
  find_program(KOVIRLM_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)
  add_test(NAME win95_image
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${KOVIRLM_OBJDUMP}
                   -DALLOWLIST=${CMAKE_CURRENT_LIST_DIR}/win95_exports.txt
                   -DLIBRARY=$<TARGET_FILE:kovirlm> -DPROGRAM=$<TARGET_FILE:kovirlm-selftest>
                   -P ${CMAKE_CURRENT_LIST_FILE})
endif()

if(WIN32 AND KOVIRLM_WINDOWS_ARCH STREQUAL "aarch64")
  find_program(KOVIRLM_READOBJ NAMES llvm-readobj llvm-readobj-14 REQUIRED)
  add_test(NAME nt_image
           COMMAND ${CMAKE_COMMAND} -DREADOBJ=${KOVIRLM_READOBJ}
                   -DALLOWLIST=${CMAKE_CURRENT_LIST_DIR}/nt_exports.txt
                   -DLIBRARY=$<TARGET_FILE:kovirlmnt> -DPROGRAM=$<TARGET_FILE:kovirlmnt-selftest>
                   -DMIN_VERSION=6.2 -DMACHINE=0xAA64 -DNO_CPU_CHECK=ON
                   "-DEXPORTS=DllEntryPoint\\;InitializePrintMonitor2"
                   -P ${CMAKE_CURRENT_LIST_FILE})
elseif(WIN32)
  find_program(KOVIRLM_OBJDUMP_NT NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump REQUIRED)
  if(KOVIRLM_WINDOWS_ARCH STREQUAL "i686")
    set(nt_image_rules -DMAX_VERSION=5.0)
  else()
    set(nt_image_rules -DMAX_VERSION=5.2 -DNO_CPU_CHECK=ON)
  endif()
  add_test(NAME nt_image
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${KOVIRLM_OBJDUMP_NT}
                   -DALLOWLIST=${CMAKE_CURRENT_LIST_DIR}/nt_exports.txt
                   -DLIBRARY=$<TARGET_FILE:kovirlmnt> ${nt_image_rules}
                   -DPROGRAM=$<TARGET_FILE:kovirlmnt-selftest>
                   "-DEXPORTS=DllEntryPoint\\;InitializePrintMonitor2"
                   -P ${CMAKE_CURRENT_LIST_FILE})
endif()
