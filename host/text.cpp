#include "host/text.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) >= sizeof(buffer)) n = sizeof(buffer) - 1;
  return std::string(buffer, static_cast<size_t>(n));
}

void Error(const std::string& message) {
  fprintf(stderr, "psdhost: %s\n", message.c_str());
}

std::string Utf8FromUtf16(const uint16_t* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length && text[i] != 0; ++i) {
    uint32_t unit = text[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < length &&
        text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      uint32_t low = text[++i];
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &out);
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(0xFFFD, &out);
    } else {
      AppendUtf8(unit, &out);
    }
  }
  return out;
}

std::u16string Utf16FromUtf8(const std::string& text) {
  std::u16string out;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
  size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    uint8_t lead = p[i];
    uint32_t code = 0xFFFD;
    size_t extra = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
      code = lead;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      extra = 1, code = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      extra = 2, code = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      extra = 3, code = lead & 0x07, minimum = 0x10000;
    }
    size_t used = 1;
    if (extra > 0) {
      bool ok = i + extra < n;
      for (size_t k = 1; ok && k <= extra; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) ok = false;
      }
      if (ok) {
        for (size_t k = 1; k <= extra; ++k)
          code = (code << 6) | (p[i + k] & 0x3F);
        if (code < minimum || code > 0x10FFFF ||
            (code >= 0xD800 && code < 0xE000)) {
          code = 0xFFFD;
        }
        used = extra + 1;
      } else {
        code = 0xFFFD;
      }
    }
    i += used;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string EscapeBytes(const void* bytes, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  std::string out;
  for (size_t i = 0; i < size && p[i] != 0; ++i) {
    if (p[i] == '\\') {
      out += "\\\\";
    } else if (p[i] >= 0x20 && p[i] < 0x7F) {
      out.push_back(static_cast<char>(p[i]));
    } else {
      out += Format("\\x%02x", p[i]);
    }
  }
  return out;
}
