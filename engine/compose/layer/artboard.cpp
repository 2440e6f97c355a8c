#include "engine/compose/layer/artboard.h"

#include <string.h>

#include "engine/compose/layer/fill_colour.h"
#include "engine/psd/descriptor.h"

namespace engine {
namespace {

enum : int64_t {
  kBackgroundWhite = 1,
  kBackgroundBlack = 2,
  kBackgroundTransparent = 3,
  kBackgroundColour = 4,
};

// A coordinate in 16.16 fixed point as whole pixels, rounded, held well
// within the plane of rectangles.
int32_t Coordinate(int64_t fixed) {
  const int64_t limit = static_cast<int64_t>(kWholePlane.right);
  int64_t v = (fixed + (fixed >= 0 ? 32768 : -32768)) / 65536;
  if (v > limit) v = limit;
  if (v < -limit) v = -limit;
  return static_cast<int32_t>(v);
}

bool ReadRect(const Descriptor& d, PixelRect* r) {
  Descriptor rect;
  int64_t top, left, bottom, right;
  if (!ItemDescriptor(d, "artboardRect", &rect) ||
      !ItemFixed(rect, "Top ", &top) || !ItemFixed(rect, "Left", &left) ||
      !ItemFixed(rect, "Btom", &bottom) || !ItemFixed(rect, "Rght", &right)) {
    return false;
  }
  *r = PixelRect{Coordinate(left), Coordinate(top), Coordinate(right),
                 Coordinate(bottom)};
  return true;
}

void ReadBackground(const Document* doc, const Descriptor& d, uint8_t* bgra) {
  int64_t type = kBackgroundWhite << 16;
  ItemFixed(d, "artboardBackgroundType", &type);
  type >>= 16;
  memset(bgra, 255, 4);
  if (type == kBackgroundBlack) {
    memset(bgra, 0, 3);
  } else if (type == kBackgroundTransparent) {
    memset(bgra, 0, 4);
  } else if (type == kBackgroundColour &&
             !ReadFillColour(d, "Clr ", doc, bgra)) {
    memset(bgra, 255, 3);
  }
}

}  // namespace

bool ReadArtboard(const Document* doc, const LayerTraits& traits,
                  Artboard* artboard) {
  const InfoBlock& block = traits.artboard;
  Descriptor d;
  if (block.data == nullptr || block.length < 4 ||
      !ReadDescriptor(block.data + 4, block.data + block.length, &d) ||
      !ReadRect(d, &artboard->rect)) {
    return false;
  }
  ReadBackground(doc, d, artboard->background);
  return true;
}

}  // namespace engine
