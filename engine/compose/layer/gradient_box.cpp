// The box a gradient aligned with its layer spans. A layer with a vector
// mask spans its path's bounds, in fractions of a pixel (the application
// places the gradient on the path, not on the pixels the path touches);
// other layers span their pixels' rectangle.
//
// The vector mask block: a 4-byte version, 4-byte flags (bit 2 disabled),
// then 26-byte records; those with selector 0 or 3 start a closed or open
// subpath and give its knot count, those with 1, 2, 4 or 5 are its knots:
// preceding control point, anchor, leaving control point, each vertical
// then horizontal in signed 8.24 fractions of the document's size.
#include "engine/base/bytes.h"
#include "engine/compose/layer/fill_layer.h"

namespace engine {
namespace {

const uint32_t kRecordBytes = 26;
// Points taken along each curve between two anchors for its bounds.
const int kCurveSamples = 16;

struct Point {
  double x;
  double y;
};

struct Bounds {
  GradientBox box;
  bool any;
};

Point ReadPoint(const uint8_t* p, const Document* doc) {
  const double v = static_cast<int32_t>(ReadU32(p));
  const double h = static_cast<int32_t>(ReadU32(p + 4));
  const double unit = 1.0 / 16777216.0;
  return Point{h * unit * doc->width, v * unit * doc->height};
}

void Include(Bounds* b, Point p) {
  if (!b->any) {
    b->box = GradientBox{p.x, p.y, p.x, p.y};
    b->any = true;
    return;
  }
  if (p.x < b->box.left) b->box.left = p.x;
  if (p.x > b->box.right) b->box.right = p.x;
  if (p.y < b->box.top) b->box.top = p.y;
  if (p.y > b->box.bottom) b->box.bottom = p.y;
}

// The curve from one knot's anchor to the next's, through their control
// points.
void IncludeCurve(Bounds* b, const uint8_t* from, const uint8_t* to,
                  const Document* doc) {
  const Point p0 = ReadPoint(from + 10, doc), p1 = ReadPoint(from + 18, doc),
              p2 = ReadPoint(to + 2, doc), p3 = ReadPoint(to + 10, doc);
  for (int k = 1; k <= kCurveSamples; ++k) {
    const double t = static_cast<double>(k) / kCurveSamples, u = 1 - t;
    const double w0 = u * u * u, w1 = 3 * u * u * t, w2 = 3 * u * t * t,
                 w3 = t * t * t;
    Include(b, Point{w0 * p0.x + w1 * p1.x + w2 * p2.x + w3 * p3.x,
                     w0 * p0.y + w1 * p1.y + w2 * p2.y + w3 * p3.y});
  }
}

bool IsKnot(uint16_t selector) {
  return selector == 1 || selector == 2 || selector == 4 || selector == 5;
}

// The bounds of the enabled vector mask's subpaths; false without one.
bool PathBounds(const InfoBlock& block, const Document* doc, GradientBox* box) {
  if (block.data == nullptr || block.length < 8) return false;
  if ((ReadU32(block.data + 4) & 4) != 0) return false;
  const uint8_t* end = block.data + block.length;
  Bounds b = {};
  const uint8_t* first = nullptr;
  const uint8_t* last = nullptr;
  bool closed = false;
  for (const uint8_t* r = block.data + 8; BytesLeft(r, end) >= kRecordBytes;
       r += kRecordBytes) {
    const uint16_t selector = ReadU16(r);
    if (selector == 0 || selector == 3) {
      if (closed && first != nullptr && last != first) {
        IncludeCurve(&b, last, first, doc);
      }
      first = last = nullptr;
      closed = selector == 0;
      continue;
    }
    if (!IsKnot(selector)) continue;
    if (first == nullptr) {
      first = r;
      Include(&b, ReadPoint(r + 10, doc));
    } else {
      IncludeCurve(&b, last, r, doc);
    }
    last = r;
  }
  if (closed && first != nullptr && last != first) {
    IncludeCurve(&b, last, first, doc);
  }
  if (!b.any || b.box.right <= b.box.left || b.box.bottom <= b.box.top) {
    return false;
  }
  *box = b.box;
  return true;
}

}  // namespace

GradientBox GradientBoxOf(const Document* doc, const LayerTraits& traits,
                          const PixelRect& layer_box, int32_t grow) {
  GradientBox box = {static_cast<double>(layer_box.left),
                     static_cast<double>(layer_box.top),
                     static_cast<double>(layer_box.right),
                     static_cast<double>(layer_box.bottom)};
  PathBounds(traits.vector_mask, doc, &box);
  box.left -= grow;
  box.top -= grow;
  box.right += grow;
  box.bottom += grow;
  return box;
}

}  // namespace engine
