#include "engine/channels/pixel_ops.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace engine {
namespace {

inline void Copy16(uint8_t* to, const uint8_t* from) {
  uint8_t piece[16];
  memcpy(piece, from, 16);
  memcpy(to, piece, 16);
}

// The longest PackBits run: 129 copies (header 128).
const uint32_t kLongestRun = 129;

// n (1..129) literal bytes in whole 16-byte pieces, at least two: up to
// ((n + 31) & ~31) bytes are read and max(32, (n + 15) & ~15) written.
inline void CopyRun(uint8_t* to, const uint8_t* from, uint32_t n) {
  Copy16(to, from);
  Copy16(to + 16, from + 16);
  for (uint32_t i = 32; i < n; i += 16) Copy16(to + i, from + i);
}

#if defined(__SSE2__)

inline __m128i Load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void Store16(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// 16 pixels of four planes' bytes, interleaved blue, green, red, alpha.
inline void StoreBgra16(uint8_t* out, __m128i b, __m128i g, __m128i r,
                        __m128i a) {
  const __m128i bg_low = _mm_unpacklo_epi8(b, g);
  const __m128i bg_high = _mm_unpackhi_epi8(b, g);
  const __m128i ra_low = _mm_unpacklo_epi8(r, a);
  const __m128i ra_high = _mm_unpackhi_epi8(r, a);
  Store16(out, _mm_unpacklo_epi16(bg_low, ra_low));
  Store16(out + 16, _mm_unpackhi_epi16(bg_low, ra_low));
  Store16(out + 32, _mm_unpacklo_epi16(bg_high, ra_high));
  Store16(out + 48, _mm_unpackhi_epi16(bg_high, ra_high));
}

// n (1..129) copies of `value` in whole 16-byte pieces, at least two: up
// to max(32, (n + 15) & ~15) bytes are written. Two pieces always: most runs
// are short, and a fixed count keeps the branch predictable.
inline void FillRun(uint8_t* to, uint8_t value, uint32_t n) {
  const __m128i v = _mm_set1_epi8(static_cast<char>(value));
  Store16(to, v);
  Store16(to + 16, v);
  for (uint32_t i = 32; i < n; i += 16) Store16(to + i, v);
}

// Four pixels of blue, green, red, 0 (4 bytes each) packed into the low 12
// bytes, 3 bytes each; the top 4 bytes are 0.
inline __m128i PackPixels12(__m128i v) {
  const __m128i low = _mm_set1_epi64x(0xFFFFFF);
  const __m128i high = _mm_set1_epi64x(0xFFFFFF000000);
  // In each 64-bit half: the second pixel moves down one byte.
  const __m128i halves = _mm_or_si128(
      _mm_and_si128(v, low), _mm_and_si128(_mm_srli_epi64(v, 8), high));
  // The upper half's 6 bytes follow the lower half's 6.
  return _mm_or_si128(_mm_move_epi64(halves),
                      _mm_slli_si128(_mm_srli_si128(halves, 8), 6));
}

// K - ((255 - ink) * (K + 1)) / 256 for 8 samples in 16-bit lanes; the
// product is at most 255 * 256 and fits.
inline __m128i InkToColour(__m128i ink, __m128i k, __m128i k1) {
  const __m128i all = _mm_set1_epi16(255);
  const __m128i product = _mm_mullo_epi16(_mm_sub_epi16(all, ink), k1);
  return _mm_sub_epi16(k, _mm_srli_epi16(product, 8));
}

#else

inline void FillRun(uint8_t* to, uint8_t value, uint32_t n) {
  memset(to, value, n);
}

#endif

}  // namespace

uint32_t UnpackBitsRowWide(const uint8_t* src, const uint8_t* end, uint8_t* out,
                           uint32_t room, const uint8_t** next) {
  uint32_t filled = 0;
  // Far from the end of the row and of the input every run fits (a run is
  // at most 129 bytes and reads at most 129 after its header), so the
  // checks of the loop below are left out.
  const uint8_t* fast_end =
      src<end&& static_cast<uint64_t>(end - src)> kLongestRun
          ? end - kLongestRun
          : src;
  while (src < fast_end && room - filled >= kLongestRun) {
    const uint32_t h = *src++;
    if (h >= 128) {
      const uint32_t n = 257 - h;
      FillRun(out + filled, *src++, n);
      filled += n;
    } else {
      const uint32_t n = h + 1;
      CopyRun(out + filled, src, n);
      src += n;
      filled += n;
    }
  }
  while (filled < room && src < end) {
    const uint32_t h = *src++;
    if (h >= 128) {
      const uint32_t n = 257 - h;
      if (n > room - filled || src >= end) break;
      FillRun(out + filled, *src++, n);
      filled += n;
    } else {
      const uint32_t n = h + 1;
      const uint64_t left = static_cast<uint64_t>(end - src);
      if (left < n || n > room - filled) break;
      if (left >= ((n + 31) & ~31u)) {
        CopyRun(out + filled, src, n);
      } else {
        memcpy(out + filled, src, n);
      }
      src += n;
      filled += n;
    }
  }
  *next = src;
  return filled;
}

void InterleaveBgr(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                   uint32_t n, uint8_t* dst) {
  uint32_t x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; n - x >= 16; x += 16) {
    const __m128i vb = Load16(b + x);
    const __m128i vg = Load16(g + x);
    const __m128i vr = Load16(r + x);
    const __m128i bg_low = _mm_unpacklo_epi8(vb, vg);
    const __m128i bg_high = _mm_unpackhi_epi8(vb, vg);
    const __m128i r_low = _mm_unpacklo_epi8(vr, zero);
    const __m128i r_high = _mm_unpackhi_epi8(vr, zero);
    const __m128i p0 = PackPixels12(_mm_unpacklo_epi16(bg_low, r_low));
    const __m128i p1 = PackPixels12(_mm_unpackhi_epi16(bg_low, r_low));
    const __m128i p2 = PackPixels12(_mm_unpacklo_epi16(bg_high, r_high));
    const __m128i p3 = PackPixels12(_mm_unpackhi_epi16(bg_high, r_high));
    uint8_t* out = dst + 3 * x;
    Store16(out, _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
    Store16(out + 16,
            _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
    Store16(out + 32,
            _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
  }
#endif
  for (; x < n; ++x) {
    dst[3 * x] = b[x];
    dst[3 * x + 1] = g[x];
    dst[3 * x + 2] = r[x];
  }
}

void InterleaveBgra(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                    const uint8_t* a, uint32_t n, uint8_t* dst) {
  uint32_t x = 0;
#if defined(__SSE2__)
  for (; n - x >= 16; x += 16) {
    const __m128i vb = Load16(b + x);
    const __m128i vg = Load16(g + x);
    const __m128i vr = Load16(r + x);
    const __m128i va = Load16(a + x);
    StoreBgra16(dst + 4 * x, vb, vg, vr, va);
  }
#endif
  for (; x < n; ++x) {
    uint8_t* px = dst + 4 * x;
    px[0] = b[x];
    px[1] = g[x];
    px[2] = r[x];
    px[3] = a[x];
  }
}

void WhitenTransparent(uint8_t* pixels, uint32_t n) {
  uint32_t x = 0;
#if defined(__SSE2__)
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
  const __m128i zero = _mm_setzero_si128();
  for (; n - x >= 4; x += 4) {
    uint8_t* at = pixels + 4 * x;
    const __m128i v = Load16(at);
    const __m128i clear = _mm_cmpeq_epi32(_mm_and_si128(v, alpha), zero);
    Store16(at, _mm_or_si128(v, _mm_and_si128(clear, colour)));
  }
#endif
  for (; x < n; ++x) {
    uint8_t* px = pixels + 4 * x;
    if (px[3] == 0) px[0] = px[1] = px[2] = 255;
  }
}

void CmykToBgrxRow(const uint8_t* c, const uint8_t* m, const uint8_t* y,
                   const uint8_t* k, uint32_t n, uint8_t* dst) {
  uint32_t x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xFF));
  for (; n - x >= 16; x += 16) {
    const __m128i vk = Load16(k + x);
    const __m128i k_low = _mm_unpacklo_epi8(vk, zero);
    const __m128i k_high = _mm_unpackhi_epi8(vk, zero);
    const __m128i k1_low = _mm_add_epi16(k_low, one);
    const __m128i k1_high = _mm_add_epi16(k_high, one);
    __m128i colour[3];
    const uint8_t* const inks[3] = {y + x, m + x, c + x};  // blue, green, red
    for (int i = 0; i < 3; ++i) {
      const __m128i ink = Load16(inks[i]);
      colour[i] = _mm_packus_epi16(
          InkToColour(_mm_unpacklo_epi8(ink, zero), k_low, k1_low),
          InkToColour(_mm_unpackhi_epi8(ink, zero), k_high, k1_high));
    }
    StoreBgra16(dst + 4 * x, colour[0], colour[1], colour[2], opaque);
  }
#endif
  for (; x < n; ++x) {
    const uint32_t black = k[x];
    const uint32_t k1 = black + 1;
    uint8_t* px = dst + 4 * x;
    px[0] = static_cast<uint8_t>(black - ((255 - y[x]) * k1) / 256);
    px[1] = static_cast<uint8_t>(black - ((255 - m[x]) * k1) / 256);
    px[2] = static_cast<uint8_t>(black - ((255 - c[x]) * k1) / 256);
    px[3] = 255;
  }
}

void TakeHighBytes(const uint8_t* in, uint32_t count, uint8_t* out) {
  uint32_t i = 0;
#if defined(__SSE2__)
  const __m128i low_byte = _mm_set1_epi16(0xFF);
  for (; count - i >= 16; i += 16) {
    // Little-endian 16-bit lanes hold the first byte of each sample low.
    const __m128i a = _mm_and_si128(Load16(in + 2 * i), low_byte);
    const __m128i b = _mm_and_si128(Load16(in + 2 * i + 16), low_byte);
    Store16(out + i, _mm_packus_epi16(a, b));
  }
#endif
  for (; i < count; ++i) out[i] = in[2 * i];
}

}  // namespace engine
