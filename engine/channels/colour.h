// Colour conversion of a document with an embedded colour profile: what the
// document's samples mean, turned into the sRGB the host shows. The profile
// is turned once into tables (colour_profile.cpp); converting a pixel is
// then a few lookups:
//  - gray: 256 blue, green, red entries (the picture's palette);
//  - RGB with a matrix and curves: a curve per channel into 1.14 fixed
//    point, the 3 x 3 matrix, and a curve per channel out of it;
//  - other RGB profiles: a cube of 33 nodes a side, interpolated in
//    tetrahedra (node values in 15 bits, so their differences fit 16);
//  - CMYK: a cube of 17 nodes a side for each of the 256 black values.
// 16-bit documents' tables are made for them (the key holds the depth):
// gray ones hold the sRGB level of each of the 65536 levels, matrix ones
// each channel's input curve at every 256th 16-bit value, interpolated
// between and taken through the matrix at once (a sample's first byte
// picks the node, its second how far towards the next; small enough to
// stay in the processor's cache); cubes take a 16-bit
// sample's place on their axes as it is (and CMYK the two cubes of the
// black values around its black), so no sample is cut to 8 bits first.
// Documents without a profile, with an sRGB one, or of a mode or depth kept
// as it is (Lab, duotone, multichannel, bitmap, 32-bit) have no tables and
// are served as stored.
#pragma once

#include <stdint.h>

#include "engine/base/status.h"
#include "engine/psd/document.h"

namespace engine {

enum ColourKind : uint32_t {
  kColourGray = 1,
  kColourRgbMatrix = 2,
  kColourRgbCube = 3,
  kColourCmykCubes = 4,
};

// Nodes on a side of the cubes.
const uint32_t kRgbCubeNodes = 33;
const uint32_t kCmykCubeNodes = 17;
// Interpolation fractions are in 1/4096.
const int32_t kFractionOne = 4096;
// A node of a 16-bit document's matrix input, for one channel's samples of
// one first byte: the matrix's rows times the curve there (`base`, the
// matrix and curve in 1.14 each), and times the curve's rise to the next
// node over 256 (`rise`, what each unit of the second byte adds).
struct WideNode {
  int32_t base[4];  // the fourth is 0
  int16_t rise[4];
};

struct ColourTables {
  uint32_t kind;
  uint64_t bytes;  // the block, cubes included
  // Gray: blue, green, red and a zero of each of the 256 levels.
  uint8_t gray[256][4];
  // Matrix and curves: input curves in 1.14 fixed point, the matrix in
  // 1.14, the output curves as bytes over 0..16384.
  int32_t shaper_in[3][256];
  int32_t matrix[3][3];
  uint8_t shaper_out[3][16385];
  // Cubes: for each sample value its lower node (times the axis's stride
  // is applied by the caller) and fraction; CMYK's axes take the stored
  // value (255 is no ink).
  uint32_t nodes;
  uint16_t axis_node[256];
  uint16_t axis_fraction[256];
  uint32_t cube_elements;  // 16-bit values in one cube (4 per node)
  uint16_t* cubes;         // red, green, blue, 0 of each node, 0..32767
  // Tables of 16-bit documents (behind the cubes; null in 8-bit ones).
  bool wide;
  uint8_t* wide_gray;  // gray: the sRGB level of each 16-bit level
  WideNode* wide_in;   // matrix: 256 nodes of red, then green, then blue
  // Kept between requests (colour_kept.cpp): how many use it now.
  bool kept;
  uint32_t users;
};

// Pixels ---------------------------------------------------------------------

// Converts n blue, green, red pixels `step` bytes apart in place (RGB and
// gray tables; a fourth byte is left as it is).
void ConvertBgrPixels(const ColourTables* t, uint8_t* pixels, uint32_t n,
                      uint32_t step);

// n CMYK pixels of four planes (as stored) to blue, green, red, `step`
// bytes apart (3 or 4; a fourth byte becomes 255).
void ConvertCmykPixels(const ColourTables* t, const uint8_t* c,
                       const uint8_t* m, const uint8_t* y, const uint8_t* k,
                       uint32_t n, uint32_t step, uint8_t* out);

// The 256 entries of a palette (blue, green, red, 0) through the tables.
void ConvertPalette(const ColourTables* t, uint8_t* entries);

// Rows of 16-bit samples as stored (two bytes, big-endian), through wide
// tables (colour_wide.cpp). RGB: n pixels of three planes to blue, green,
// red, `step` bytes apart (3 or 4; a fourth byte is left as it is).
void ConvertRgbWide(const ColourTables* t, const uint8_t* r, const uint8_t* g,
                    const uint8_t* b, uint32_t n, uint32_t step, uint8_t* out);
// Gray: n samples to their sRGB level, one byte each (`step` 1) or in blue,
// green and red (3 or 4; a fourth byte is left as it is).
void ConvertGrayWide(const ColourTables* t, const uint8_t* v, uint32_t n,
                     uint32_t step, uint8_t* out);
// CMYK (65535 is no ink) as ConvertCmykPixels.
void ConvertCmykWide(const ColourTables* t, const uint8_t* c, const uint8_t* m,
                     const uint8_t* y, const uint8_t* k, uint32_t n,
                     uint32_t step, uint8_t* out);

// Building and keeping -------------------------------------------------------

// Why a document's profile is not applied (the log line's code).
enum ProfileUnused : int32_t {
  kProfileIsSrgb = 1,
  kProfileTooLarge = 2,
  kProfileRejected = 3,          // the library refused it, or its transform
  kProfileWrongColourSpace = 4,  // it describes another colour mode
};

// Tables for `profile` in colour mode `mode` (colour_profile.cpp), `wide`
// for a 16-bit document: kDone with `*tables` (to be given to
// ReleaseColourTables), or with null tables and `*unused` saying why there
// are none; kNoMemory when memory ran out.
Status BuildColourTables(const uint8_t* profile, uint32_t length, uint16_t mode,
                         bool wide, ColourTables** tables, int32_t* unused);
void ReleaseColourTables(ColourTables* tables);

// The conversion of `doc`'s embedded profile (wide for a 16-bit document),
// kept between requests by the profile's hash (colour_kept.cpp): null when
// the document is served as stored (a log line says why when it has a
// profile), kNoMemory when the tables cannot be had. Given back with
// CloseColourConversion.
Status OpenColourConversion(const Document* doc, const ColourTables** tables);
void CloseColourConversion(const ColourTables* tables);

// Frees every kept conversion (the module is unloaded).
void ReleaseKeptConversions();

}  // namespace engine
