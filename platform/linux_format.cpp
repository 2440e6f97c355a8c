// The user32 formatter behind wsprintfA, wsprintfW and wvsprintfA: %d %i %u
// %x %X %c %s %%, flags '-', '0' and '#', width, precision, 'l'/'h'
// prefixes. Output is cut at 1024 units including the terminator.

#include <stdarg.h>
#include <stdint.h>

#include "platform/linux_internal.h"
#include "platform/win32_api.h"

using linux_platform::DecodeUtf16;
using linux_platform::DecodeUtf8;
using linux_platform::EncodeUtf16;
using linux_platform::EncodeUtf8;
using linux_platform::kReplacement;

namespace {

constexpr size_t kFormatLimit = 1024;

template <typename Char>
struct Output {
  Char* out;
  size_t length;
  void Put(Char c) {
    if (length < kFormatLimit - 1) out[length++] = c;
  }
  void Repeat(Char c, size_t count) {
    for (size_t i = 0; i < count; ++i) Put(c);
  }
};

// What stands between a '%' and the text after it.
template <typename Char>
struct Directive {
  bool left = false;    // '-': padding goes after the text
  bool zero = false;    // '0': numbers are padded with zeros
  bool prefix = false;  // '#': hexadecimal numbers get 0x
  size_t width = 0;
  bool has_precision = false;
  size_t precision = 0;
  // Size prefixes: for strings and characters they pick the width of the
  // argument (narrow 'h', wide 'l'); integers are 32-bit either way.
  int size = 0;  // 0 native, 'h' narrow, 'l' wide
  Char type = 0;
};

// Reads decimal digits into `count`, which stops growing at the limit.
template <typename Char>
const Char* ReadCount(const Char* f, size_t* count) {
  while (*f >= '0' && *f <= '9') {
    if (*count < kFormatLimit) {
      *count = *count * 10 + static_cast<size_t>(*f - '0');
    }
    ++f;
  }
  return f;
}

// Reads the directive that starts after a '%'. Returns the text after it;
// a format that ends inside the directive leaves its type 0.
template <typename Char>
const Char* ReadDirective(const Char* f, Directive<Char>* d) {
  for (;; ++f) {
    if (*f == '-') {
      d->left = true;
    } else if (*f == '0') {
      d->zero = true;
    } else if (*f == '#') {
      d->prefix = true;
    } else {
      break;
    }
  }
  f = ReadCount(f, &d->width);
  if (*f == '.') {
    d->has_precision = true;
    f = ReadCount(f + 1, &d->precision);
  }
  if (*f == 'l' || *f == 'h') d->size = *f++;
  d->type = *f;
  if (d->left) d->zero = false;
  return d->type == 0 ? f : f + 1;
}

// Whether a %c or %s argument is wide: a capital directive or 'l' takes
// the width the formatter does not write, 'h' the narrow one.
template <typename Char>
bool TakesWideArgument(const Directive<Char>& d) {
  bool capital = d.type == 'C' || d.type == 'S';
  return sizeof(Char) == 1 ? (d.size == 'l' || capital)
                           : !(d.size == 'h' || capital);
}

// Puts `length` units of `text`, padded with spaces to `width`.
template <typename Char>
void PutPadded(Output<Char>* out, const Char* text, size_t length, size_t width,
               bool left) {
  if (!left && width > length) out->Repeat(' ', width - length);
  for (size_t i = 0; i < length; ++i) out->Put(text[i]);
  if (left && width > length) out->Repeat(' ', width - length);
}

// Counts a narrow or wide string's units, stopping at `limit`.
template <typename Char>
size_t BoundedLength(const Char* text, size_t limit) {
  size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

// Puts a string of the other width, converted, honouring precision (in
// units of the source) and width (in output units).
void PutString(Output<char>* out, LPCWSTR wide, size_t precision, size_t width,
               bool left) {
  size_t units = BoundedLength(wide, precision);
  char converted[kFormatLimit * 4];
  size_t length = 0;
  for (size_t i = 0; i < units && length < kFormatLimit;) {
    uint32_t code;
    i += DecodeUtf16(wide + i, units - i, &code);
    length += EncodeUtf8(code, converted + length);
  }
  PutPadded(out, converted, length, width, left);
}

void PutString(Output<WCHAR>* out, const char* narrow, size_t precision,
               size_t width, bool left) {
  size_t bytes = BoundedLength(narrow, precision);
  WCHAR converted[kFormatLimit * 2];
  size_t length = 0;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(narrow);
  for (size_t i = 0; i < bytes && length < kFormatLimit;) {
    uint32_t code;
    bool valid;
    i += DecodeUtf8(in + i, bytes - i, &code, &valid);
    length += EncodeUtf16(code, converted + length);
  }
  PutPadded(out, converted, length, width, left);
}

// Puts a string of the formatter's own width.
template <typename Char>
void PutString(Output<Char>* out, const Char* text, size_t precision,
               size_t width, bool left) {
  PutPadded(out, text, BoundedLength(text, precision), width, left);
}

// %s %S: the argument, "(null)" for a null pointer.
template <typename Char, typename Argument>
void PutStringArgument(Output<Char>* out, const Directive<Char>& d,
                       const Argument* text) {
  static const Char kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
  size_t limit = d.has_precision ? d.precision : SIZE_MAX;
  if (text == nullptr) {
    PutString(out, kNull, limit, d.width, d.left);
  } else {
    PutString(out, text, limit, d.width, d.left);
  }
}

// %c %C: one character; a wide one in the narrow formatter as UTF-8.
template <typename Char>
void PutCharacter(Output<Char>* out, const Directive<Char>& d, int value) {
  Char text[4] = {0, 0, 0, 0};
  if (sizeof(Char) == 1 && TakesWideArgument(d)) {
    char encoded[4];
    uint32_t code = static_cast<WCHAR>(value);
    if (code >= 0xD800 && code <= 0xDFFF) code = kReplacement;
    size_t n = EncodeUtf8(code, encoded);
    for (size_t i = 0; i < n; ++i) text[i] = static_cast<Char>(encoded[i]);
  } else {
    text[0] = static_cast<Char>(sizeof(Char) == 1 ? (value & 0xFF)
                                                  : (value & 0xFFFF));
  }
  if (!d.left && d.width > 1) out->Repeat(' ', d.width - 1);
  for (size_t i = 0; i < 4 && (i == 0 || text[i] != 0); ++i) {
    out->Put(text[i]);
  }
  if (d.left && d.width > 1) out->Repeat(' ', d.width - 1);
}

// Writes the digits of `magnitude` in `base`, the lowest first; returns
// how many.
size_t LowDigitsFirst(uint32_t magnitude, uint32_t base, bool capitals,
                      char* digits) {
  const char* symbols = capitals ? "0123456789ABCDEF" : "0123456789abcdef";
  size_t count = 0;
  do {
    digits[count++] = symbols[magnitude % base];
    magnitude /= base;
  } while (magnitude != 0);
  return count;
}

// %d %i %u %x %X: sign or 0x, the digits with zeros up to the precision,
// padded to the width with spaces (zeros after the sign for '0').
template <typename Char>
void PutInteger(Output<Char>* out, const Directive<Char>& d, uint32_t magnitude,
                bool negative) {
  bool hex = d.type == 'x' || d.type == 'X';
  char digits[16];
  size_t count =
      LowDigitsFirst(magnitude, hex ? 16 : 10, d.type == 'X', digits);
  size_t digit_count = count;
  if (d.has_precision && d.precision > digit_count) digit_count = d.precision;
  size_t sign = negative ? 1 : 0;
  if (d.prefix && hex) sign += 2;
  size_t total = sign + digit_count;
  if (!d.left && !d.zero && d.width > total) out->Repeat(' ', d.width - total);
  if (negative) out->Put('-');
  if (d.prefix && hex) {
    out->Put('0');
    out->Put(d.type);
  }
  if (!d.left && d.zero && d.width > total) out->Repeat('0', d.width - total);
  out->Repeat('0', digit_count - count);
  while (count > 0) out->Put(static_cast<Char>(digits[--count]));
  if (d.left && d.width > total) out->Repeat(' ', d.width - total);
}

uint32_t Magnitude(int32_t value) {
  return value < 0 ? 0u - static_cast<uint32_t>(value)
                   : static_cast<uint32_t>(value);
}

template <typename Char>
int Format(Char* destination, const Char* format, va_list args) {
  Output<Char> out{destination, 0};
  const Char* f = format;
  while (*f != 0) {
    if (*f != '%') {
      out.Put(*f++);
      continue;
    }
    Directive<Char> d;
    f = ReadDirective(f + 1, &d);
    if (d.type == 0) break;
    switch (d.type) {
      case 'd':
      case 'i': {
        int32_t value = va_arg(args, int32_t);
        PutInteger(&out, d, Magnitude(value), value < 0);
        break;
      }
      case 'u':
      case 'x':
      case 'X':
        PutInteger(&out, d, va_arg(args, uint32_t), false);
        break;
      case 'c':
      case 'C':
        PutCharacter(&out, d, va_arg(args, int));
        break;
      case 's':
      case 'S':
        if (TakesWideArgument(d)) {
          PutStringArgument(&out, d, va_arg(args, LPCWSTR));
        } else {
          PutStringArgument(&out, d, va_arg(args, const char*));
        }
        break;
      default:
        // '%%' and unknown directives put the character itself.
        out.Put(d.type);
        break;
    }
  }
  destination[out.length] = 0;
  return static_cast<int>(out.length);
}

}  // namespace

extern "C" {

int wvsprintfA(LPSTR out, LPCSTR format, va_list args) {
  return Format<char>(out, format, args);
}

int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int length = Format<char>(out, format, args);
  va_end(args);
  return length;
}

int wsprintfW(LPWSTR out, LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  int length = Format<WCHAR>(out, format, args);
  va_end(args);
  return length;
}

}  // extern "C"
