// Feathered masks, blurred as the layer effects' shadows are (a close
// Gaussian of deviation equal to the feather radius).
#include "engine/compose/layer/mask_feather.h"

#include "engine/base/memory.h"
#include "engine/base/numbers.h"
#include "engine/compose/layer/planes.h"

namespace engine {
namespace {

// The blur of a feather of `radius` pixels.
uint32_t BlurSize(uint32_t radius) { return 2 * radius; }

// One row of the mask over the plane's columns into `out`.
void RenderRow(MaskRows* user, VectorMask* vector, int32_t y,
               const PixelRect& r, uint32_t width, uint8_t* row, uint8_t* out) {
  const uint32_t n = static_cast<uint32_t>(r.right - r.left);
  if (user != nullptr) {
    memset(row, 255, 4ull * n);
    ApplyMaskRow(user, y, r.left, n, row);
    for (uint32_t i = 0; i < n; ++i) out[i] = row[4 * i + 3];
    return;
  }
  // Within the document; beyond it the edge columns repeat.
  const int32_t left = r.left < 0 ? 0 : r.left;
  const int32_t right = r.right > static_cast<int32_t>(width)
                            ? static_cast<int32_t>(width)
                            : r.right;
  const uint32_t m = static_cast<uint32_t>(right - left);
  memset(row, 255, 4ull * m);
  ApplyVectorMaskRow(vector, y, left, m, row);
  for (uint32_t i = 0; i < n; ++i) {
    int32_t x = r.left + static_cast<int32_t>(i);
    x = x < left ? left : x >= right ? right - 1 : x;
    out[i] = row[4 * (x - left) + 3];
  }
}

}  // namespace

Status FeatherMask(MaskRows* user, VectorMask* vector, uint32_t feather,
                   uint32_t width, uint32_t height, int32_t first, int32_t end,
                   FeatheredMask* out) {
  memset(out, 0, sizeof(*out));
  // Beyond the document by more than its size the mask is as good as
  // its edge: the plane reaches no further.
  const uint32_t side = width > height ? width : height;
  const uint32_t blur_reach = BlurReach(BlurSize(feather));
  const int32_t reach =
      static_cast<int32_t>(blur_reach < side ? blur_reach : side);
  out->rect = {-reach, first - reach, static_cast<int32_t>(width) + reach,
               end + reach};
  const uint32_t w = static_cast<uint32_t>(out->rect.right - out->rect.left);
  const uint32_t h = static_cast<uint32_t>(out->rect.bottom - out->rect.top);
  const uint64_t n = static_cast<uint64_t>(w) * h;
  out->plane = static_cast<uint8_t*>(Allocate(n + 1));
  uint8_t* scratch = static_cast<uint8_t*>(Allocate(n + 4ull * w + 1));
  uint32_t* sums = AllocateArray<uint32_t>(w + 1ull);
  if (out->plane == nullptr || scratch == nullptr || sums == nullptr) {
    Release(scratch);
    Release(sums);
    ReleaseFeathered(out);
    return kNoMemory;
  }
  uint8_t* row = scratch + n;  // 4 bytes a pixel
  // A vector mask is rendered once a document row; beyond the document its
  // edge rows repeat. A layer mask has its default colour there.
  int32_t top = out->rect.top, bottom = out->rect.bottom;
  if (user == nullptr) {
    top = top < 0 ? 0 : top;
    bottom = bottom > static_cast<int32_t>(height)
                 ? static_cast<int32_t>(height)
                 : bottom;
  }
  for (int32_t y = top; y < bottom; ++y) {
    RenderRow(user, vector, y, out->rect, width, row,
              out->plane + static_cast<uint64_t>(y - out->rect.top) * w);
  }
  for (int32_t y = out->rect.top; y < out->rect.bottom; ++y) {
    if (y >= top && y < bottom) continue;
    const int32_t from = y < top ? top : bottom - 1;
    memcpy(out->plane + static_cast<uint64_t>(y - out->rect.top) * w,
           out->plane + static_cast<uint64_t>(from - out->rect.top) * w, w);
  }
  Plane plane = {out->plane, w, h};
  BlurPlane(&plane, BlurSize(feather), scratch, sums);
  Release(scratch);
  Release(sums);
  out->reach = kWholePlane;
  return kDone;
}

void ReleaseFeathered(FeatheredMask* f) {
  Release(f->plane);
  f->plane = nullptr;
}

void ApplyFeatheredRow(const FeatheredMask* f, int32_t y, int32_t x0,
                       uint32_t n, uint8_t* pixels) {
  if (f->plane == nullptr) return;
  // Rows and columns past the plane (what effects read beyond the rows
  // held) take its nearest.
  const PixelRect& r = f->rect;
  const int32_t w = r.right - r.left;
  y = y < r.top ? r.top : y >= r.bottom ? r.bottom - 1 : y;
  const uint8_t* row = f->plane + static_cast<uint64_t>(y - r.top) * w;
  for (uint32_t i = 0; i < n; ++i) {
    int32_t x = x0 + static_cast<int32_t>(i);
    x = x < r.left ? r.left : x >= r.right ? r.right - 1 : x;
    uint8_t* a = pixels + 4 * i + 3;
    *a = static_cast<uint8_t>(MulDiv255(*a, row[x - r.left]));
  }
}

}  // namespace engine
