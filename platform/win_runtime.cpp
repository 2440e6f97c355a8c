// The C runtime routines of the freestanding Windows plug-ins: the memory
// calls the code makes itself (copies, moves, comparisons) and those the
// compiler emits for struct copies, zeroing and loops it recognises, such as
// a string length, and the allocator zlib's objects name (the engine hands
// zlib its own allocation calls, so these two serve only as their default).
// The plug-ins link no C runtime, so these are the only ones in the DLL.

#include <stddef.h>

#include "platform/win32_api.h"

extern "C" {

void* memcpy(void* destination, const void* source, size_t count) {
  void* result = destination;
  __asm__ volatile("rep movsb"
                   : "+D"(destination), "+S"(source), "+c"(count)
                   :
                   : "memory");
  return result;
}

void* memset(void* destination, int value, size_t count) {
  void* result = destination;
  __asm__ volatile("rep stosb"
                   : "+D"(destination), "+c"(count)
                   : "a"(value)
                   : "memory");
  return result;
}

void* memmove(void* destination, const void* source, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  if (d <= s || d >= s + count) return memcpy(destination, source, count);
  // Overlapping with the destination above the source: copy backwards.
  d += count - 1;
  s += count - 1;
  __asm__ volatile("std\n\trep movsb\n\tcld"
                   : "+D"(d), "+S"(s), "+c"(count)
                   :
                   : "memory");
  return destination;
}

int memcmp(const void* a, const void* b, size_t count) {
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < count; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

size_t strlen(const char* text) {
  const char* end = text;
  while (*end != '\0') ++end;
  return static_cast<size_t>(end - text);
}

void* malloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void free(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // extern "C"
