// Rectangles of document pixels, the one rectangle type of the engine:
// [left, right) x [top, bottom).
#pragma once

#include <stdint.h>

namespace engine {

struct PixelRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// A rectangle beyond every document: what is not limited at all.
inline constexpr PixelRect kWholePlane = {-0x3FFFFFFF, -0x3FFFFFFF, 0x3FFFFFFF,
                                          0x3FFFFFFF};
inline constexpr PixelRect kNoPixels = {0, 0, 0, 0};

inline bool RectEmpty(const PixelRect& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

inline PixelRect IntersectRects(const PixelRect& a, const PixelRect& b) {
  PixelRect r;
  r.left = a.left > b.left ? a.left : b.left;
  r.top = a.top > b.top ? a.top : b.top;
  r.right = a.right < b.right ? a.right : b.right;
  r.bottom = a.bottom < b.bottom ? a.bottom : b.bottom;
  return r;
}

// The smallest rectangle holding both (an empty one adds nothing).
inline PixelRect UniteRects(const PixelRect& a, const PixelRect& b) {
  if (RectEmpty(a)) return b;
  if (RectEmpty(b)) return a;
  PixelRect r;
  r.left = a.left < b.left ? a.left : b.left;
  r.top = a.top < b.top ? a.top : b.top;
  r.right = a.right > b.right ? a.right : b.right;
  r.bottom = a.bottom > b.bottom ? a.bottom : b.bottom;
  return r;
}

// Width and height, 0 for an empty rectangle.
inline uint32_t RectWidth(const PixelRect& r) {
  return r.right > r.left
             ? static_cast<uint32_t>(r.right) - static_cast<uint32_t>(r.left)
             : 0;
}
inline uint32_t RectHeight(const PixelRect& r) {
  return r.bottom > r.top
             ? static_cast<uint32_t>(r.bottom) - static_cast<uint32_t>(r.top)
             : 0;
}

// Pixels of the rectangle.
inline uint64_t RectArea(const PixelRect& r) {
  return static_cast<uint64_t>(RectWidth(r)) * RectHeight(r);
}

}  // namespace engine
