# kovirlm.dll: PE32, exports exactly DllEntryPoint and InitializeMonitorEx
# (undecorated, through kovirlm.def), carries the version resource, and imports
# only system DLLs.
#
# DllEntryPoint is the image's entry point. The DLL is linked without the C
# runtime's start-up files (-nostartfiles), which is sound only while the image
# needs nothing that start-up code would do: no global constructors or
# destructors, no thread-local storage, no atexit handlers, no data imported from
# another DLL (those need the runtime's pseudo-relocation pass), and nothing from
# libstdc++ that has any of these, such as its exception machinery. The runtime
# functions the code does call (memcpy, strlen, ...) come from msvcrt.dll, which
# initialises itself. tests/checks.cmake (ctest: library_image) fails when the
# built image breaks any of this; most breaches already fail the link, because
# the start-up code's own symbols (atexit, the relocator) are missing.
enable_language(RC)

# The product libraries are compiled with -fno-exceptions (CMakeLists.txt). Their
# cleanups then need no unwinding tables and so no personality routine: nothing in
# the DLL pulls in the C++ runtime's exception machinery, whose emergency pool has a
# static constructor and an atexit handler that only the skipped start-up code
# would run.

configure_file(${CMAKE_SOURCE_DIR}/monitor/version.rc.in ${CMAKE_BINARY_DIR}/version.rc @ONLY)

add_library(kovirlm SHARED
  ${KOVIRLM_OBJECTS}
  ${CMAKE_SOURCE_DIR}/monitor/kovirlm.def
  ${CMAKE_BINARY_DIR}/version.rc)
set_target_properties(kovirlm PROPERTIES PREFIX "" OUTPUT_NAME kovirlm
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/monitor/kovirlm.def)
target_link_libraries(kovirlm PRIVATE kovirlm_platform)
target_link_options(kovirlm PRIVATE
  -nostartfiles -Wl,--entry,_DllEntryPoint@12
  -Wl,--enable-stdcall-fixup -Wl,--kill-at -Wl,--no-undefined)
