// Powers, exponentials and logarithms of doubles. They come from the
// project's own runtime routines (the ones the colour library is given), so
// no C runtime is linked and every build computes the same numbers.
#pragma once

extern "C" {
double psd_lcms_pow(double x, double y);
double psd_lcms_exp(double x);
double psd_lcms_log(double x);
}

namespace engine {

inline double RealPow(double x, double y) { return psd_lcms_pow(x, y); }
inline double RealExp(double x) { return psd_lcms_exp(x); }
inline double RealLog(double x) { return psd_lcms_log(x); }

}  // namespace engine
