#include "engine/base/source.h"

#include <string.h>

#include "engine/base/bytes.h"
#include "engine/base/memory.h"

namespace engine {
namespace {

// ReadAt moves at most this much at a time.
const uint32_t kReadPiece = 1u << 30;

void MarkFailed(Source* source) {
  __atomic_store_n(&source->failed, 1, __ATOMIC_RELAXED);
}

}  // namespace

Source MemorySource(const uint8_t* bytes, uint64_t size) {
  Source source;
  memset(&source, 0, sizeof(source));
  source.image = bytes;
  source.size = size;
  return source;
}

uint64_t ReadFromFile(Source* source, uint64_t offset, uint8_t* out,
                      uint64_t n) {
  uint64_t done = 0;
  while (done < n) {
    const uint64_t left = n - done;
    const uint32_t piece =
        left < kReadPiece ? static_cast<uint32_t>(left) : kReadPiece;
    uint32_t got = 0;
    if (!source->read_at(source->file, offset + done, out + done, piece,
                         &got)) {
      MarkFailed(source);
      return done + got;
    }
    done += got;
    if (got == 0) break;  // the file is shorter than it was
  }
  return done;
}

Status ReadSpan(Source* source, uint64_t offset, uint64_t length, Span* span) {
  span->data = nullptr;
  span->length = 0;
  span->owned = nullptr;
  if (offset > source->size) offset = source->size;
  if (length > source->size - offset) length = source->size - offset;
  if (source->image != nullptr) {
    span->data = source->image + offset;
    span->length = length;
    return kDone;
  }
  uint8_t* block = static_cast<uint8_t*>(Allocate(length + kSpanSlack));
  if (block == nullptr) return kNoMemory;
  const uint64_t got = ReadFromFile(source, offset, block, length);
  memset(block + got, 0, kSpanSlack);
  span->data = block;
  span->length = got;
  span->owned = block;
  return kDone;
}

void ReleaseSpan(Span* span) {
  Release(span->owned);
  span->owned = nullptr;
  span->data = nullptr;
  span->length = 0;
}

bool ReadExact(Source* source, uint64_t offset, uint32_t n, uint8_t* out) {
  if (!RangeFits(offset, n, source->size)) return false;
  if (source->image != nullptr) {
    memcpy(out, source->image + offset, n);
    return true;
  }
  return ReadFromFile(source, offset, out, n) == n;
}

}  // namespace engine
