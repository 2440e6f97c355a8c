// Colours of fill descriptors ("Clr " items) and the few functions of real
// numbers the gradients need, in plain arithmetic (no library calls), the
// same in every build.
#pragma once

#include "engine/psd/descriptor.h"
#include "engine/psd/document.h"

namespace engine {

// The colour held under `key` in `d` as blue, green, red: an RGB colour
// ("RGBC": 0..255, or 0..1 floats), gray ("Grsc": percent of ink), CMYK
// ("CMYC": percent of ink), Lab ("LbCl") or HSB ("HSBC"). In a grayscale
// document the three are its gray; in a 32-bit document (linear light) the
// colour goes through the sRGB curve as the document's samples do. False
// when there is no such colour.
bool ReadFillColour(const Descriptor& d, const char* key, const Document* doc,
                    uint8_t* bgr);

// Sine and cosine of an angle in degrees; arc tangent of y / x in degrees
// (-180..180]; square root.
double SineDegrees(double degrees);
double CosineDegrees(double degrees);
double ArcTangentDegrees(double y, double x);
double SquareRoot(double v);

}  // namespace engine
