// Planes of one byte a pixel for the layer effects: blurs, distances to a
// shape's edge, offsets. A plane is `width` x `height` bytes, row after row.
#pragma once

#include <stdint.h>

namespace engine {

struct Plane {
  uint8_t* bytes;
  uint32_t width;
  uint32_t height;
};

inline uint8_t* PlaneRow(const Plane& p, uint32_t y) {
  return p.bytes + static_cast<uint64_t>(y) * p.width;
}

// A close Gaussian blur of a plane whose falloff reaches about `size`
// pixels: three box passes each way. `scratch` holds a plane of the same
// size; `sums` width + 1 words.
void BlurPlane(Plane* p, uint32_t size, uint8_t* scratch, uint32_t* sums);
// The same of deviation `sigma`.
void BlurPlaneBy(Plane* p, double sigma, uint8_t* scratch, uint32_t* sums);
// How far that blur reaches.
uint32_t BlurReach(uint32_t size);

// The squared distance from every pixel to the nearest pixel that is
// inside the shape (alpha of 128 or more; `inside` false) or outside it
// (`inside` true), into `squared` (a float a pixel; 1e20 where there is
// none). `work` holds 4 x (max side + 1) words.
void DistancePlane(const Plane& alpha, bool inside, float* squared,
                   float* work);

// The signed distance from every pixel's centre to the edge of the shape
// `alpha` covers (positive inside), into `distance`: a pixel the edge
// crosses has it from its coverage; a pixel wholly inside or outside, from
// the nearest pixel that bounds the shape from its side (one the edge
// crosses, or a whole pixel beside one on the other side), as far beyond
// that pixel's own distance as the two lie apart. `squared` holds a float a
// pixel, `rows` a word a pixel and `work` 5 x (max side + 1) words.
void EdgeDistancePlane(const Plane& alpha, float* distance, float* squared,
                       float* work, int32_t* rows);

// A square root close enough for distances.
float Root(float v);

// How much of a pixel at squared distance `squared` from a shape lies
// within `size` pixels of the shape's edge (0..255).
uint8_t BandCoverage(float squared, float size);

// Moves a plane's content by (dx, dy), filling with `fill`.
void OffsetPlane(Plane* p, int32_t dx, int32_t dy, uint8_t fill,
                 uint8_t* scratch);

}  // namespace engine
