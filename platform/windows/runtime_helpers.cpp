// memcpy, memmove, memset, memcmp, memchr and strlen, compiled into kovirlm.dll and
// the self-test program.
//
// Why they exist: GCC calls these six on its own (to copy or clear a structure,
// inside std::string_view's searches), and mingw-w64 takes them from msvcrt.dll.
// Retail Windows 95 has no msvcrt.dll (it came later, with Visual C++ 4.2's
// redistributable files), and a DLL with an import that cannot be resolved is not
// loaded at all. So the DLL carries its own and imports no C runtime.
//
// This file is compiled with -fno-builtin and -fno-tree-loop-distribute-patterns
// (cmake/windows_dll.cmake): without them GCC may recognise a loop below as the
// very function it implements and replace it by a call to that function, which
// would then call itself for ever.
//
// Plain byte loops: nothing large passes through them (a reply of at most 2 KiB, a
// key path, a model name; the spooler's job data is never copied), so speed does
// not matter here and simplicity does.
//
// The names are the C library's in the images. The helpers' table test compiles
// this file under other names (KOVIRLM_HELPER), so that it runs beside the C
// library of either build.

#ifndef KOVIRLM_HELPER
#define KOVIRLM_HELPER(name) name
#endif

using HelperSize = __SIZE_TYPE__;

extern "C" {

void* KOVIRLM_HELPER(memcpy)(void* destination, const void* source, HelperSize count) {
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = static_cast<const unsigned char*>(source);
  while (count-- != 0) *to++ = *from++;
  return destination;
}

// Overlapping blocks: copies forwards when the destination lies below the source
// and backwards otherwise, so no byte is overwritten before it has been read.
void* KOVIRLM_HELPER(memmove)(void* destination, const void* source, HelperSize count) {
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = static_cast<const unsigned char*>(source);
  if (reinterpret_cast<__UINTPTR_TYPE__>(to) <= reinterpret_cast<__UINTPTR_TYPE__>(from)) {
    while (count-- != 0) *to++ = *from++;
  } else {
    while (count-- != 0) to[count] = from[count];
  }
  return destination;
}

void* KOVIRLM_HELPER(memset)(void* destination, int value, HelperSize count) {
  auto* to = static_cast<unsigned char*>(destination);
  while (count-- != 0) *to++ = static_cast<unsigned char>(value);
  return destination;
}

// Bytes compare as unsigned char, as the C library's do.
int KOVIRLM_HELPER(memcmp)(const void* first, const void* second, HelperSize count) {
  const auto* a = static_cast<const unsigned char*>(first);
  const auto* b = static_cast<const unsigned char*>(second);
  for (; count != 0; --count, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
  }
  return 0;
}

void* KOVIRLM_HELPER(memchr)(const void* block, int value, HelperSize count) {
  const auto* at = static_cast<const unsigned char*>(block);
  const auto wanted = static_cast<unsigned char>(value);
  for (; count != 0; --count, ++at) {
    if (*at == wanted) return const_cast<unsigned char*>(at);
  }
  return nullptr;
}

HelperSize KOVIRLM_HELPER(strlen)(const char* text) {
  const char* end = text;
  while (*end != '\0') ++end;
  return static_cast<HelperSize>(end - text);
}

}  // extern "C"
