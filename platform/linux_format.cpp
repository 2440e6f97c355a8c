// The user32 formatter behind wsprintfA, wsprintfW and wvsprintfA: %d %i %u
// %x %X %c %s %%, flags '-', '0' and '#', width, precision, 'l'/'h'
// prefixes. Output is cut at 1024 units including the terminator.

#include <stdarg.h>
#include <stdint.h>

#include "platform/linux_internal.h"
#include "platform/win32_api.h"

using linux_platform::DecodeUtf16;
using linux_platform::DecodeUtf8;
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
  if (!left && width > length) out->Repeat(' ', width - length);
  for (size_t i = 0; i < length; ++i) out->Put(converted[i]);
  if (left && width > length) out->Repeat(' ', width - length);
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
    if (code >= 0x10000) {
      converted[length++] =
          static_cast<WCHAR>(0xD800 + ((code - 0x10000) >> 10));
      converted[length++] = static_cast<WCHAR>(0xDC00 + (code & 0x3FF));
    } else {
      converted[length++] = static_cast<WCHAR>(code);
    }
  }
  if (!left && width > length) out->Repeat(u' ', width - length);
  for (size_t i = 0; i < length; ++i) out->Put(converted[i]);
  if (left && width > length) out->Repeat(u' ', width - length);
}

template <typename Char>
void PutNative(Output<Char>* out, const Char* text, size_t precision,
               size_t width, bool left) {
  size_t length = BoundedLength(text, precision);
  if (!left && width > length) out->Repeat(' ', width - length);
  for (size_t i = 0; i < length; ++i) out->Put(text[i]);
  if (left && width > length) out->Repeat(' ', width - length);
}

void PutString(Output<char>* out, const char* text, size_t precision,
               size_t width, bool left) {
  PutNative(out, text, precision, width, left);
}

void PutString(Output<WCHAR>* out, LPCWSTR text, size_t precision, size_t width,
               bool left) {
  PutNative(out, text, precision, width, left);
}

template <typename Char>
int Format(Char* destination, const Char* format, va_list args) {
  static const Char kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
  Output<Char> out{destination, 0};
  const Char* f = format;
  while (*f != 0) {
    if (*f != '%') {
      out.Put(*f++);
      continue;
    }
    ++f;
    bool left = false, zero = false, prefix = false;
    for (;; ++f) {
      if (*f == '-') {
        left = true;
      } else if (*f == '0') {
        zero = true;
      } else if (*f == '#') {
        prefix = true;
      } else {
        break;
      }
    }
    size_t width = 0;
    while (*f >= '0' && *f <= '9') {
      if (width < kFormatLimit)
        width = width * 10 + static_cast<size_t>(*f - '0');
      ++f;
    }
    bool has_precision = false;
    size_t precision = 0;
    if (*f == '.') {
      has_precision = true;
      ++f;
      while (*f >= '0' && *f <= '9') {
        if (precision < kFormatLimit) {
          precision = precision * 10 + static_cast<size_t>(*f - '0');
        }
        ++f;
      }
    }
    // Size prefixes: for strings and characters they pick the width of the
    // argument (narrow 'h', wide 'l'); integers are 32-bit either way.
    int size = 0;  // 0 native, 'h' narrow, 'l' wide
    if (*f == 'l' || *f == 'h') size = *f++;
    Char directive = *f;
    if (directive == 0) break;
    ++f;
    if (left) zero = false;
    switch (directive) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X': {
        uint32_t magnitude;
        bool negative = false;
        if (directive == 'd' || directive == 'i') {
          int32_t value = va_arg(args, int32_t);
          negative = value < 0;
          magnitude = negative ? 0u - static_cast<uint32_t>(value)
                               : static_cast<uint32_t>(value);
        } else {
          magnitude = va_arg(args, uint32_t);
        }
        char digits[16];
        size_t count = 0;
        uint32_t base = (directive == 'x' || directive == 'X') ? 16 : 10;
        const char* symbols =
            directive == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        do {
          digits[count++] = symbols[magnitude % base];
          magnitude /= base;
        } while (magnitude != 0);
        size_t digit_count = count;
        if (has_precision && precision > digit_count) digit_count = precision;
        size_t sign = negative ? 1 : 0;
        if (prefix && base == 16) sign += 2;
        size_t total = sign + digit_count;
        if (!left && !zero && width > total) out.Repeat(' ', width - total);
        if (negative) out.Put('-');
        if (prefix && base == 16) {
          out.Put('0');
          out.Put(static_cast<Char>(directive));
        }
        if (!left && zero && width > total) out.Repeat('0', width - total);
        out.Repeat('0', digit_count - count);
        while (count > 0) out.Put(static_cast<Char>(digits[--count]));
        if (left && width > total) out.Repeat(' ', width - total);
        break;
      }
      case 'c':
      case 'C': {
        int value = va_arg(args, int);
        bool wide_argument = sizeof(Char) == 1
                                 ? (size == 'l' || directive == 'C')
                                 : !(size == 'h' || directive == 'C');
        Char text[4] = {0, 0, 0, 0};
        if (sizeof(Char) == 1 && wide_argument) {
          char encoded[4];
          uint32_t code = static_cast<WCHAR>(value);
          if (code >= 0xD800 && code <= 0xDFFF) code = kReplacement;
          size_t n = EncodeUtf8(code, encoded);
          for (size_t i = 0; i < n; ++i)
            text[i] = static_cast<Char>(encoded[i]);
        } else {
          text[0] = static_cast<Char>(sizeof(Char) == 1 ? (value & 0xFF)
                                                        : (value & 0xFFFF));
        }
        if (!left && width > 1) out.Repeat(' ', width - 1);
        for (size_t i = 0; i < 4 && (i == 0 || text[i] != 0); ++i) {
          out.Put(text[i]);
        }
        if (left && width > 1) out.Repeat(' ', width - 1);
        break;
      }
      case 's':
      case 'S': {
        bool wide_argument = sizeof(Char) == 1
                                 ? (size == 'l' || directive == 'S')
                                 : !(size == 'h' || directive == 'S');
        size_t limit = has_precision ? precision : SIZE_MAX;
        if (wide_argument) {
          LPCWSTR text = va_arg(args, LPCWSTR);
          if (text == nullptr) {
            PutNative(&out, kNull, limit, width, left);
          } else {
            PutString(&out, text, limit, width, left);
          }
        } else {
          const char* text = va_arg(args, const char*);
          if (text == nullptr) {
            PutNative(&out, kNull, limit, width, left);
          } else {
            PutString(&out, text, limit, width, left);
          }
        }
        break;
      }
      default:
        // '%%' and unknown directives put the character itself.
        out.Put(directive);
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
