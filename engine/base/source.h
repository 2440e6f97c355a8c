// Where a document's bytes come from: a memory image, held whole by the
// caller, or a file read at offsets, only the parts a request serves. Every
// section and channel is reached through it, at 64-bit offsets.
#pragma once

#include <stdint.h>

#include "engine/base/status.h"

namespace engine {

// Reads up to `bytes` bytes at `offset` of a file into `out`; `*got` says
// how many arrived (fewer where the file ends). False on a read error.
using ReadAtFunction = bool (*)(void* file, uint64_t offset, uint8_t* out,
                                uint32_t bytes, uint32_t* got);

struct Source {
  const uint8_t* image;  // a memory image: the whole document; else null
  uint64_t size;         // the document's bytes
  void* file;
  ReadAtFunction read_at;
  // A read of the file failed (a flag that is only ever set, by any
  // thread): the request ends with the file unreadable.
  uint8_t failed;
};

// A source over bytes held in memory.
Source MemorySource(const uint8_t* bytes, uint64_t size);

inline bool SourceFailed(const Source* source) {
  return __atomic_load_n(&source->failed, __ATOMIC_RELAXED) != 0;
}

// Bytes [offset, offset + length) of the document, cut where the document
// (or, for a file that shrank, what could be read) ends: a view into a
// memory image, or a block of their own read from the file, followed by
// kSpanSlack zero bytes. `length` is what is there.
struct Span {
  const uint8_t* data;
  uint64_t length;
  void* owned;
};
const uint32_t kSpanSlack = 16;

// kNoMemory when the block cannot be had; a read error marks the source
// failed and gives what was read before it.
Status ReadSpan(Source* source, uint64_t offset, uint64_t length, Span* span);
void ReleaseSpan(Span* span);

// Copies `n` bytes at `offset` into `out`; false when they are not all in
// the document.
bool ReadExact(Source* source, uint64_t offset, uint32_t n, uint8_t* out);

// Reads up to `n` bytes at `offset` of a file source into `out` (n at most
// 2^31); returns how many arrived. A read error marks the source failed.
uint64_t ReadFromFile(Source* source, uint64_t offset, uint8_t* out,
                      uint64_t n);

}  // namespace engine
