# The folders' include order, registered as the ctest test `include_order`.
#
# The product's folders include one way only, each from the ones below it:
#   monitor/, monitor_nt/ -> core/ -> printer_status/ -> port/ -> status_store/ -> platform/
# The two faces (monitor/ for the Windows 95 spooler, monitor_nt/ for the NT
# family's) share a rank: neither includes the other.
# The test rig, the tools, the benchmarks, the fuzzers, the self-test and the
# tests sit above them all and may include anything; nothing in the product
# includes them. A file that includes a header from a folder above its own fails
# the test, which names the file, the line and the header.
#
# Like checks.cmake, this file registers the test when included and does the work
# when run as a script (cmake -P) with SOURCE_DIR set.

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_policy(VERSION 3.22)
  # Lowest first; a folder not listed ranks above them all.
  set(layers platform status_store port printer_status core monitor)
  list(LENGTH layers top)

  function(rank_of folder out)
    # The NT face stands beside the Windows 95 face.
    if(folder STREQUAL "monitor_nt")
      set(folder monitor)
    endif()
    list(FIND layers "${folder}" rank)
    if(rank EQUAL -1)
      set(rank ${top})
    endif()
    set(${out} ${rank} PARENT_SCOPE)
  endfunction()

  set(failures "")
  set(checked 0)
  foreach(layer IN LISTS layers ITEMS monitor_nt)
    file(GLOB_RECURSE files "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
    rank_of("${layer}" own)
    foreach(file IN LISTS files)
      math(EXPR checked "${checked} + 1")
      file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
        set(folder "${layer}")
        if(header MATCHES "^([^/]+)/")
          set(folder "${CMAKE_MATCH_1}")
          rank_of("${folder}" included)
        else()
          # A bare name would be found beside the including file only.
          set(included ${own})
        endif()
        file(RELATIVE_PATH relative "${SOURCE_DIR}" "${file}")
        if(included GREATER own)
          string(APPEND failures "  ${relative} includes \"${header}\", from a folder above its own\n")
        elseif(included EQUAL own AND NOT folder STREQUAL layer)
          string(APPEND failures "  ${relative} includes \"${header}\", from the other face\n")
        endif()
      endforeach()
    endforeach()
  endforeach()

  if(checked EQUAL 0)
    message(FATAL_ERROR "include_order: no product sources found under ${SOURCE_DIR}")
  endif()
  if(failures)
    message(FATAL_ERROR "include_order: the product's folders must include downwards only "
                        "(${layers}, lowest first)\n${failures}")
  endif()
  message(STATUS "include_order: ${checked} product files include downwards only")
  return()
endif()

add_test(NAME include_order
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_FILE})
