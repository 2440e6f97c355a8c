// Blending four pixels at once with SSE2 where the backdrop is opaque, the
// common case of a canvas once a layer without transparency is on it.
// There the result is one equation per channel,
//   Cr = (255 - as) Cb + as B(Cb, Cs), divided by 255 and rounded,
// whose every product fits in 16 bits, so 16-bit lanes give exactly the
// bytes of the scalar loops. Only modes whose mix B fits in 16-bit lanes
// have a vector form; a group of pixels with any backdrop alpha below 255
// goes through the scalar code pixel by pixel.
#pragma once

#include <stdint.h>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace engine {
namespace blendvec {

// Blue, green, red, alpha of two pixels as 16-bit lanes, and back.
inline __m128i Widen(__m128i bytes, bool high) {
  const __m128i zero = _mm_setzero_si128();
  return high ? _mm_unpackhi_epi8(bytes, zero) : _mm_unpacklo_epi8(bytes, zero);
}

// x / 255 rounded, for x up to 65025: (x + 128 + ((x + 128) >> 8)) >> 8.
inline __m128i Div255(__m128i x) {
  x = _mm_add_epi16(x, _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
}

inline __m128i MulDiv255(__m128i a, __m128i b) {
  return Div255(_mm_mullo_epi16(a, b));
}

// The mixes B(Cb, Cs) over 16-bit lanes of bytes.
struct Normal {
  static __m128i Mix(__m128i, __m128i s) { return s; }
};
struct Multiply {
  static __m128i Mix(__m128i b, __m128i s) { return MulDiv255(b, s); }
};
struct Screen {
  static __m128i Mix(__m128i b, __m128i s) {
    return _mm_sub_epi16(_mm_add_epi16(b, s), MulDiv255(b, s));
  }
};
struct Darken {
  static __m128i Mix(__m128i b, __m128i s) { return _mm_min_epi16(b, s); }
};
struct Lighten {
  static __m128i Mix(__m128i b, __m128i s) { return _mm_max_epi16(b, s); }
};
struct Difference {
  static __m128i Mix(__m128i b, __m128i s) {
    return _mm_sub_epi16(_mm_max_epi16(b, s), _mm_min_epi16(b, s));
  }
};
struct LinearDodge {
  static __m128i Mix(__m128i b, __m128i s) {
    return _mm_min_epi16(_mm_add_epi16(b, s), _mm_set1_epi16(255));
  }
};
struct LinearBurn {
  static __m128i Mix(__m128i b, __m128i s) {
    return _mm_subs_epu16(_mm_add_epi16(b, s), _mm_set1_epi16(255));
  }
};
struct Subtract {
  static __m128i Mix(__m128i b, __m128i s) { return _mm_subs_epu16(b, s); }
};
// Below 128: 2 Cb Cs; else 255 - 2 (255 - Cb)(255 - Cs); each product is at
// most 2 x 255 x 127.
struct HardLight {
  static __m128i Mix(__m128i b, __m128i s) {
    const __m128i full = _mm_set1_epi16(255);
    const __m128i low = Div255(_mm_mullo_epi16(_mm_add_epi16(b, b), s));
    const __m128i nb = _mm_sub_epi16(full, b), ns = _mm_sub_epi16(full, s);
    const __m128i high =
        _mm_sub_epi16(full, Div255(_mm_mullo_epi16(_mm_add_epi16(nb, nb), ns)));
    const __m128i is_low = _mm_cmplt_epi16(s, _mm_set1_epi16(128));
    return _mm_or_si128(_mm_and_si128(is_low, low),
                        _mm_andnot_si128(is_low, high));
  }
};
struct Overlay {
  static __m128i Mix(__m128i b, __m128i s) { return HardLight::Mix(s, b); }
};

// Two pixels' colours over an opaque backdrop; the alpha lanes come out as
// whatever and are replaced by the caller.
template <class V>
inline __m128i BlendOpaqueHalf(__m128i s, __m128i d) {
  // Each pixel's source alpha in all four of its lanes.
  const __m128i as = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF);
  const __m128i keep = _mm_sub_epi16(_mm_set1_epi16(255), as);
  const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(keep, d),
                                    _mm_mullo_epi16(as, V::Mix(d, s)));
  return Div255(sum);
}

// Blends the 4 pixels at `src` onto those at `dst` when every one of the
// latter is opaque (their alpha stays 255); false, touching nothing, when
// one is not.
template <class V>
inline bool BlendOpaqueFour(const uint8_t* src, uint8_t* dst) {
  const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
  const __m128i alpha = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(d, alpha), alpha)) !=
      0xFFFF) {
    return false;
  }
  const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
  const __m128i low = BlendOpaqueHalf<V>(Widen(s, false), Widen(d, false));
  const __m128i high = BlendOpaqueHalf<V>(Widen(s, true), Widen(d, true));
  const __m128i colour = _mm_andnot_si128(alpha, _mm_packus_epi16(low, high));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                   _mm_or_si128(colour, alpha));
  return true;
}

}  // namespace blendvec
}  // namespace engine

#endif  // __SSE2__
