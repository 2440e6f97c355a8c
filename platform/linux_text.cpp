// Text: UTF-8 (the ANSI code page) to and from UTF-16, and the comparison
// that ignores case.

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "platform/linux_internal.h"
#include "platform/win32_api.h"

namespace linux_platform {

size_t DecodeUtf8(const unsigned char* in, size_t left, uint32_t* code,
                  bool* valid) {
  unsigned char lead = in[0];
  *valid = true;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  size_t need;
  unsigned char low = 0x80, high = 0xBF;
  uint32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    *code = kReplacement;
    *valid = false;
    return 1;
  }
  size_t used = 1;
  for (size_t i = 0; i < need; ++i) {
    if (used >= left || in[used] < low || in[used] > high) {
      *code = kReplacement;
      *valid = false;
      return used;
    }
    value = (value << 6) | (in[used] & 0x3F);
    ++used;
    low = 0x80;
    high = 0xBF;
  }
  *code = value;
  return used;
}

size_t EncodeUtf8(uint32_t code, char* out) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code >> 12));
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code >> 18));
  out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

size_t EncodeUtf16(uint32_t code, WCHAR* out) {
  if (code < 0x10000) {
    out[0] = static_cast<WCHAR>(code);
    return 1;
  }
  out[0] = static_cast<WCHAR>(0xD800 + ((code - 0x10000) >> 10));
  out[1] = static_cast<WCHAR>(0xDC00 + (code & 0x3FF));
  return 2;
}

size_t DecodeUtf16(const WCHAR* in, size_t left, uint32_t* code) {
  uint32_t first = in[0];
  if (first >= 0xD800 && first <= 0xDBFF && left >= 2 && in[1] >= 0xDC00 &&
      in[1] <= 0xDFFF) {
    *code = 0x10000 + ((first - 0xD800) << 10) + (in[1] - 0xDC00);
    return 2;
  }
  *code = (first >= 0xD800 && first <= 0xDFFF) ? kReplacement : first;
  return 1;
}

char* WideToUtf8(LPCWSTR text) {
  size_t units = 0;
  while (text[units] != 0) ++units;
  char* out = static_cast<char*>(malloc(units * 3 + 1));
  if (out == nullptr) return nullptr;
  size_t length = 0;
  for (size_t i = 0; i < units;) {
    uint32_t code;
    i += DecodeUtf16(text + i, units - i, &code);
    length += EncodeUtf8(code, out + length);
  }
  out[length] = '\0';
  return out;
}

}  // namespace linux_platform

namespace {

WCHAR FoldCase(WCHAR c) {
  if (c >= 'A' && c <= 'Z') return static_cast<WCHAR>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<WCHAR>(c + 0x20);
  return c;
}

}  // namespace

using linux_platform::DecodeUtf8;
using linux_platform::EncodeUtf16;
using linux_platform::SetError;

extern "C" {

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR source,
                        int source_length, LPWSTR destination,
                        int destination_length) {
  if (source == nullptr || source_length == 0 || source_length < -1 ||
      destination_length < 0 ||
      (destination == nullptr && destination_length != 0) ||
      (code_page != CP_ACP && code_page != CP_UTF8)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t bytes = source_length == -1 ? strlen(source) + 1
                                     : static_cast<size_t>(source_length);
  const unsigned char* in = reinterpret_cast<const unsigned char*>(source);
  size_t units = 0;
  for (size_t i = 0; i < bytes;) {
    uint32_t code;
    bool valid;
    i += DecodeUtf8(in + i, bytes - i, &code, &valid);
    if (!valid && (flags & MB_ERR_INVALID_CHARS) != 0) {
      SetError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    size_t need = code >= 0x10000 ? 2 : 1;
    if (destination_length != 0) {
      if (units + need > static_cast<size_t>(destination_length)) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      EncodeUtf16(code, destination + units);
    }
    units += need;
    if (units > INT_MAX) {
      SetError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  SetError(ERROR_SUCCESS);
  return static_cast<int>(units);
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  if (a == nullptr || b == nullptr) {
    return a == b ? 0 : (a == nullptr ? -1 : 1);
  }
  for (size_t i = 0;; ++i) {
    WCHAR x = FoldCase(a[i]);
    WCHAR y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

}  // extern "C"
