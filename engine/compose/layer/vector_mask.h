// Vector masks ("vmsk" / "vsms" blocks): the path records flattened into
// line edges, and the anti-aliased coverage of each document row.
#pragma once

#include "engine/base/rect.h"
#include "engine/base/status.h"

namespace engine {

// A line edge in 1/256 pixel units, top end first; `winding` is +1 for an
// edge that runs down the path, -1 for one that runs up.
struct PathEdge {
  int32_t x_top;
  int32_t y_top;
  int32_t x_bottom;
  int32_t y_bottom;
  int32_t winding;
};

// Subpaths that combine into one shape (filled even-odd), and how that
// shape combines with what the shapes before it made.
enum PathOperation : uint8_t {
  kPathExclude = 0,
  kPathUnion = 1,
  kPathSubtract = 2,
  kPathIntersect = 3,
};
struct PathShape {
  uint32_t first_edge;  // [first_edge, end_edge) of VectorMask::edges
  uint32_t end_edge;
  uint32_t next_edge;  // the next edge (by top) not yet active
  uint32_t active;     // active edges, kept in active[first_edge...]
  PathOperation operation;
  PixelRect bounds;  // whole pixels its edges touch
};

struct VectorMask {
  bool active;  // false: no vector mask, or it is disabled or malformed
  bool invert;
  uint8_t start;  // 0 or 255: coverage before the first shape
  uint8_t density;
  uint32_t width;  // the document's
  uint32_t height;
  PathEdge* edges;
  uint32_t* active_edges;
  PathShape* shapes;
  uint32_t shape_count;
  int64_t* cells;     // accumulated signed areas, width + 2
  uint8_t* coverage;  // one shape's row, then the mask's row over a span
  // The cells a row's edges touched (in any order, some twice), or past
  // `touched_room` too many to list: the whole row is then summed.
  uint32_t* touched;
  uint32_t touched_count;
  uint32_t touched_room;
};

// Reads the block and flattens its paths for a document of `width` x
// `height`. A malformed or oversized path leaves the mask inactive (the
// layer composites without it); kNoMemory when the edges cannot be held.
Status OpenVectorMask(const uint8_t* block, uint32_t length, uint32_t width,
                      uint32_t height, uint8_t density, VectorMask* mask);
void CloseVectorMask(VectorMask* mask);

// Where the mask's coverage can be above 0.
PixelRect VectorMaskReach(const VectorMask* mask);

// Multiplies the alpha of `n` pixels (blue, green, red, alpha) at columns
// [x0, x0 + n) of row `y` by the mask's coverage. Rows are asked for from
// top to bottom.
void ApplyVectorMaskRow(VectorMask* mask, int32_t y, int32_t x0, uint32_t n,
                        uint8_t* pixels);

}  // namespace engine
