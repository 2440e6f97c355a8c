// The C library functions LittleCMS calls, under the names
// cmake/lcms2_runtime.h gives them: the plug-ins link no C runtime, and the
// colour maths must come out the same in every build, so the native build
// uses these too. Memory comes from the process heap; files, formatted text
// and the clock are not used by the engine's calls and answer as empty.
// The maths functions are accurate to about 1e-15 (relative) over the
// ranges colour profiles use; arguments far outside them give a bounded,
// defined answer rather than an exact one.
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "platform/win32_api.h"

namespace {

const double kLn2Hi = 6.93147180369123816490e-01;
const double kLn2Lo = 1.90821492927058770002e-10;
const double kPi = 3.14159265358979311600e+00;
const double kPiOver2 = 1.57079632679489655800e+00;
const double kPiOver2Lo = 6.12323399573676603587e-17;
const double kPiOver6 = 5.23598775598298815658e-01;
const double kSqrt3 = 1.73205080756887719318e+00;
const double kTanPiOver12 = 2.67949192431122695700e-01;

double FromBits(uint64_t bits) {
  double value;
  memcpy(&value, &bits, sizeof(value));
  return value;
}

uint64_t ToBits(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof(bits));
  return bits;
}

bool IsNan(double x) { return x != x; }
const double kInfinity = 1e308 * 10.0;

// x times 2^k, for k in [-2100, 2100].
double Scale(double x, int k) {
  while (k > 1000) {
    x *= FromBits(static_cast<uint64_t>(1023 + 1000) << 52);
    k -= 1000;
  }
  while (k < -1000) {
    x *= FromBits(static_cast<uint64_t>(1023 - 1000) << 52);
    k += 1000;
  }
  return x * FromBits(static_cast<uint64_t>(1023 + k) << 52);
}

double Floor(double x) {
  if (IsNan(x) || x >= 4503599627370496.0 || x <= -4503599627370496.0) {
    return x;
  }
  const double t = static_cast<double>(static_cast<int64_t>(x));
  return t > x ? t - 1.0 : t;
}

double Round(double x) { return Floor(x + 0.5); }

double Log(double x) {
  if (IsNan(x) || x < 0) return 0.0 * kInfinity;
  if (x == 0) return -kInfinity;
  if (x == kInfinity) return x;
  int e = 0;
  if (x < 2.2250738585072014e-308) {  // subnormal
    x *= 18014398509481984.0;         // 2^54
    e = -54;
  }
  const uint64_t bits = ToBits(x);
  e += static_cast<int>((bits >> 52) & 0x7FF) - 1023;
  double m = FromBits((bits & 0x000FFFFFFFFFFFFFull) | (1023ull << 52));
  if (m > 1.4142135623730951) {
    m *= 0.5;
    ++e;
  }
  // log(m) = 2 atanh(s), s = (m - 1) / (m + 1), |s| < 0.1716.
  const double s = (m - 1.0) / (m + 1.0);
  const double z = s * s;
  double sum = 0;
  for (int k = 21; k >= 3; k -= 2) sum = (sum + 1.0 / k) * z;
  const double series = 2.0 * s + 2.0 * s * sum;
  return e * kLn2Hi + (series + e * kLn2Lo);
}

double Exp(double x) {
  if (IsNan(x)) return x;
  if (x > 709.782712893384) return kInfinity;
  if (x < -745.1332191019412) return 0;
  const double k = Round(x * 1.4426950408889634);
  const double r = (x - k * kLn2Hi) - k * kLn2Lo;
  double sum = 1.0;
  for (int n = 14; n >= 1; --n) sum = 1.0 + sum * r / n;
  return Scale(sum, static_cast<int>(k));
}

bool IsInteger(double y) { return Floor(y) == y; }

double Pow(double x, double y) {
  if (y == 0 || x == 1) return 1;
  if (IsNan(x) || IsNan(y)) return x + y;
  if (x == 0) return y > 0 ? 0 : kInfinity;
  if (x < 0) {
    if (!IsInteger(y)) return 0.0 * kInfinity;
    const double magnitude = Exp(y * Log(-x));
    const bool odd = IsInteger(y * 0.5) == false;
    return odd ? -magnitude : magnitude;
  }
  return Exp(y * Log(x));
}

// Sine and cosine of r in [-pi/4, pi/4].
double SinSmall(double r) {
  const double z = r * r;
  double sum = 0;
  for (int n = 17; n >= 3; n -= 2) sum = (sum + 1.0) * -z / (n * (n - 1));
  return r + r * sum;
}

double CosSmall(double r) {
  const double z = r * r;
  double sum = 0;
  for (int n = 18; n >= 2; n -= 2) sum = (sum + 1.0) * -z / (n * (n - 1));
  return 1.0 + sum;
}

// sin (cosine: shifted a quadrant) by reduction to [-pi/4, pi/4].
double SinQuadrant(double x, int shift) {
  if (IsNan(x) || x == kInfinity || x == -kInfinity) return 0.0 * kInfinity;
  if (x > 1e9 || x < -1e9) return 0;  // no colour maths reaches this
  const double k = Round(x / kPiOver2);
  const double r = (x - k * kPiOver2) - k * kPiOver2Lo;
  const int quadrant =
      (static_cast<int>(static_cast<int64_t>(k) & 3) + shift) & 3;
  switch (quadrant) {
    case 0:
      return SinSmall(r);
    case 1:
      return CosSmall(r);
    case 2:
      return -SinSmall(r);
    default:
      return -CosSmall(r);
  }
}

double Atan(double x) {
  if (IsNan(x)) return x;
  if (x < 0) return -Atan(-x);
  if (x > 1) return kPiOver2 - Atan(1.0 / x);
  double offset = 0;
  if (x > kTanPiOver12) {
    x = (x * kSqrt3 - 1.0) / (kSqrt3 + x);
    offset = kPiOver6;
  }
  const double z = x * x;
  double sum = 0;
  for (int n = 29; n >= 3; n -= 2) sum = z * (1.0 / n - sum);
  return offset + (x - x * sum);
}

double Atan2(double y, double x) {
  if (IsNan(x) || IsNan(y)) return x + y;
  if (y == 0) return x < 0 ? (ToBits(y) >> 63 ? -kPi : kPi) : y;
  if (x == 0) return y > 0 ? kPiOver2 : -kPiOver2;
  const double a = Atan(y / x);
  if (x > 0) return a;
  return y >= 0 ? a + kPi : a - kPi;
}

// Blocks with their size in front, for realloc.
const size_t kBlockHeader = 16;

void* Take(size_t bytes, DWORD flags) {
  if (bytes > static_cast<size_t>(-1) / 2) return nullptr;
  uint8_t* base = static_cast<uint8_t*>(
      HeapAlloc(GetProcessHeap(), flags, bytes + kBlockHeader));
  if (base == nullptr) return nullptr;
  memcpy(base, &bytes, sizeof(bytes));
  return base + kBlockHeader;
}

const struct tm kNoTime = {};

}  // namespace

extern "C" {

double psd_lcms_floor(double x) { return Floor(x); }
double psd_lcms_ceil(double x) { return -Floor(-x); }
double psd_lcms_sqrt(double x) { return __builtin_sqrt(x); }
float psd_lcms_sqrtf(float x) { return __builtin_sqrtf(x); }
double psd_lcms_pow(double x, double y) { return Pow(x, y); }
double psd_lcms_exp(double x) { return Exp(x); }
double psd_lcms_log(double x) { return Log(x); }
double psd_lcms_log10(double x) { return Log(x) * 0.43429448190325182765; }
double psd_lcms_sin(double x) { return SinQuadrant(x, 0); }
double psd_lcms_cos(double x) { return SinQuadrant(x, 1); }
double psd_lcms_atan(double x) { return Atan(x); }
double psd_lcms_atan2(double y, double x) { return Atan2(y, x); }
double psd_lcms_fabs(double x) { return x < 0 ? -x : x; }
int psd_lcms_abs(int x) { return x < 0 ? -x : x; }

void* psd_lcms_malloc(size_t bytes) { return Take(bytes, 0); }

void psd_lcms_free(void* block) {
  if (block == nullptr) return;
  HeapFree(GetProcessHeap(), 0, static_cast<uint8_t*>(block) - kBlockHeader);
}

void* psd_lcms_realloc(void* block, size_t bytes) {
  if (block == nullptr) return Take(bytes, 0);
  size_t old_bytes;
  memcpy(&old_bytes, static_cast<uint8_t*>(block) - kBlockHeader,
         sizeof(old_bytes));
  void* grown = Take(bytes, 0);
  if (grown == nullptr) return nullptr;
  memcpy(grown, block, old_bytes < bytes ? old_bytes : bytes);
  psd_lcms_free(block);
  return grown;
}

char* psd_lcms_strcpy(char* to, const char* from) {
  char* d = to;
  while ((*d++ = *from++) != '\0') {
  }
  return to;
}

char* psd_lcms_strncpy(char* to, const char* from, size_t n) {
  size_t i = 0;
  for (; i < n && from[i] != '\0'; ++i) to[i] = from[i];
  for (; i < n; ++i) to[i] = '\0';
  return to;
}

char* psd_lcms_strcat(char* to, const char* from) {
  psd_lcms_strcpy(to + strlen(to), from);
  return to;
}

char* psd_lcms_strchr(const char* s, int c) {
  for (;; ++s) {
    if (*s == static_cast<char>(c)) return const_cast<char*>(s);
    if (*s == '\0') return nullptr;
  }
}

char* psd_lcms_strrchr(const char* s, int c) {
  const char* found = nullptr;
  for (;; ++s) {
    if (*s == static_cast<char>(c)) found = s;
    if (*s == '\0') return const_cast<char*>(found);
  }
}

size_t psd_lcms_strspn(const char* s, const char* accept) {
  size_t n = 0;
  while (s[n] != '\0' && psd_lcms_strchr(accept, s[n]) != nullptr) ++n;
  return n;
}

int psd_lcms_isdigit(int c) { return c >= '0' && c <= '9'; }
int psd_lcms_isalpha(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
int psd_lcms_isalnum(int c) {
  return psd_lcms_isdigit(c) || psd_lcms_isalpha(c);
}
int psd_lcms_isxdigit(int c) {
  return psd_lcms_isdigit(c) || (c >= 'a' && c <= 'f') ||
         (c >= 'A' && c <= 'F');
}
int psd_lcms_toupper(int c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

int psd_lcms_atoi(const char* s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  const bool negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  int value = 0;
  while (psd_lcms_isdigit(*s) && value < 100000000)
    value = value * 10 + (*s++ - '0');
  return negative ? -value : value;
}

// Formatted text: the library formats only its error messages and the
// text-format (IT8) files, neither of which the engine shows or reads.
int psd_lcms_vsnprintf(char* out, size_t size, const char*, va_list) {
  if (size > 0) out[0] = '\0';
  return 0;
}
int psd_lcms_snprintf(char* out, size_t size, const char*, ...) {
  if (size > 0) out[0] = '\0';
  return 0;
}
int psd_lcms_sscanf(const char*, const char*, ...) { return 0; }

// Files: profiles are opened from memory only.
FILE* psd_lcms_fopen(const char*, const char*) { return nullptr; }
int psd_lcms_fclose(FILE*) { return -1; }
size_t psd_lcms_fread(void*, size_t, size_t, FILE*) { return 0; }
size_t psd_lcms_fwrite(const void*, size_t, size_t, FILE*) { return 0; }
int psd_lcms_fseek(FILE*, long, int) { return -1; }
long psd_lcms_ftell(FILE*) { return -1; }
int psd_lcms_fgetc(FILE*) { return -1; }
int psd_lcms_feof(FILE*) { return 1; }
int psd_lcms_remove(const char*) { return -1; }

// The clock: profiles the library makes (the sRGB one) carry no date.
time_t psd_lcms_time(time_t* t) {
  if (t != nullptr) *t = 0;
  return 0;
}
struct tm* psd_lcms_gmtime(const time_t*) {
  return const_cast<struct tm*>(&kNoTime);
}
char* psd_lcms_ctime(const time_t*) {
  static const char kEmpty[1] = {'\0'};
  return const_cast<char*>(kEmpty);
}

}  // extern "C"
