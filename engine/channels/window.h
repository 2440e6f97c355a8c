// The bytes of the document a channel reader is working through: for a
// memory image a view of all of them; for a file, a piece read at a time
// into a block of the reader's own.
#pragma once

#include <stdint.h>

#include "engine/base/source.h"

namespace engine {

struct ByteWindow {
  Source* source;
  uint64_t start;   // the document offset of data[0]
  uint64_t length;  // bytes held
  const uint8_t* data;
  uint8_t* buffer;  // a file's piece (null for a memory image)
  uint64_t capacity;
};

// Bytes a file's window reads at a time, at the least.
const uint32_t kWindowPiece = 512 * 1024;

// Opens a window whose requests (WindowAt's `want`) never exceed
// `largest`. kNoMemory when its block cannot be had.
Status OpenWindow(ByteWindow* window, Source* source, uint64_t largest);
void CloseWindow(ByteWindow* window);

// The block a file's window of requests up to `largest` takes.
inline uint64_t WindowBytes(uint64_t largest) {
  return (largest > kWindowPiece ? largest : kWindowPiece) + kSpanSlack;
}

// A pointer to the byte at `offset` and, in `*available`, how many bytes
// from there are held: at least `want` where the document and `limit` (an
// offset nothing at or past is wanted) allow, all of them up to `limit` for
// a memory image. Null with 0 available when `offset` is at or past either.
const uint8_t* WindowAt(ByteWindow* window, uint64_t offset, uint64_t want,
                        uint64_t limit, uint64_t* available);

}  // namespace engine
