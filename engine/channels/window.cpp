#include "engine/channels/window.h"

#include <string.h>

#include "engine/base/memory.h"

namespace engine {

Status OpenWindow(ByteWindow* window, Source* source, uint64_t largest) {
  memset(window, 0, sizeof(*window));
  window->source = source;
  if (source->image != nullptr) {
    window->data = source->image;
    window->length = source->size;
    return kDone;
  }
  // Nothing past the document is ever read: a small document's window
  // holds it whole and no more.
  uint64_t capacity = WindowBytes(largest) - kSpanSlack;
  if (capacity > source->size) capacity = source->size;
  window->capacity = capacity;
  window->buffer = static_cast<uint8_t*>(Allocate(capacity + kSpanSlack));
  window->data = window->buffer;
  return window->buffer != nullptr ? kDone : kNoMemory;
}

void CloseWindow(ByteWindow* window) {
  Release(window->buffer);
  window->buffer = nullptr;
  window->data = nullptr;
  window->length = 0;
}

const uint8_t* WindowAt(ByteWindow* window, uint64_t offset, uint64_t want,
                        uint64_t limit, uint64_t* available) {
  const uint64_t size = window->source->size;
  if (limit > size) limit = size;
  *available = 0;
  if (offset >= limit) return nullptr;
  const uint64_t reach = limit - offset;  // bytes up to the limit
  if (want > reach) want = reach;
  if (window->buffer == nullptr) {  // a memory image
    *available = reach;
    return window->data + offset;
  }
  const uint64_t end = window->start + window->length;
  if (offset < window->start || offset + want > end) {
    // Read afresh from `offset`: a whole piece, cut at the limit.
    uint64_t n = window->capacity < reach ? window->capacity : reach;
    window->start = offset;
    window->length = ReadFromFile(window->source, offset, window->buffer, n);
    memset(window->buffer + window->length, 0, kSpanSlack);
  }
  const uint64_t held = window->start + window->length - offset;
  *available = held < reach ? held : reach;
  return *available != 0 ? window->data + (offset - window->start) : nullptr;
}

}  // namespace engine
