// __chkstk for the ARM64 images (kovirlmnt.dll and its self-test), compiled only
// into the aarch64 build (cmake/windows_dll.cmake).
//
// Why it exists: Windows grows a thread's stack one guard page at a time, so a
// function whose frame is larger than a page must touch each page of it in order,
// from the top down, before it moves the stack pointer past them; touching a page
// below the guard page faults instead of growing the stack. clang calls __chkstk
// in the prologue of such a function, and mingw-w64 would take it from the
// compiler's runtime library, which no package carries for this target. So the
// images carry their own, as they carry their memory helpers (runtime_helpers.cpp).
//
// The calling convention is the compiler's, not the C one: x15 holds the frame's
// size in units of 16 bytes; the stack pointer is left as it is (the caller moves
// it afterwards); every register but the intra-procedure scratch pair x16 and x17
// (and the flags, dead in a prologue) keeps its value. Naked, so the compiler adds
// no frame of its own around the loop.

extern "C" __attribute__((naked)) void __chkstk() {
  asm volatile(
      "  lsl  x16, x15, #4\n"  // x16: bytes still to probe
      "  mov  x17, sp\n"       // x17: the last address touched
      "1:\n"
      "  sub  x17, x17, #4096\n"  // one page lower
      "  ldrb wzr, [x17]\n"       // a read is enough to move the guard page down
      "  subs x16, x16, #4096\n"
      "  b.gt 1b\n"
      "  ret\n");
}
