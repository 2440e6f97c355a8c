// Whether a line of a plug-in's log is whole and one of the engine's
// messages: "YYYY-MM-DD HH:MM:SS " and a message that one of the formats
// prints. Shared by the thread tests of the Linux and the Windows builds.
#pragma once

#include <string>

#include "engine/base/log_messages.h"

namespace loglines {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when `text` is what `format` prints for some arguments: %d is an
// optional minus and decimal digits, %x lower-case hexadecimal digits.
inline bool Matches(const char* format, const std::string& text) {
  size_t i = 0;
  for (const char* f = format; *f; ++f) {
    if (f[0] == '%' && (f[1] == 'd' || f[1] == 'x')) {
      const bool hex = f[1] == 'x';
      ++f;
      if (!hex && i < text.size() && text[i] == '-') ++i;
      const size_t digits = i;
      while (i < text.size() &&
             (IsDigit(text[i]) || (hex && text[i] >= 'a' && text[i] <= 'f'))) {
        ++i;
      }
      if (i == digits) return false;
    } else if (i < text.size() && text[i] == *f) {
      ++i;
    } else {
      return false;
    }
  }
  return i == text.size();
}

inline bool KnownLine(const std::string& line) {
  static const char kStamp[] = "dddd-dd-dd dd:dd:dd ";
  if (line.size() < sizeof kStamp - 1) return false;
  for (size_t i = 0; i < sizeof kStamp - 1; ++i) {
    const bool ok = kStamp[i] == 'd' ? IsDigit(line[i]) : line[i] == kStamp[i];
    if (!ok) return false;
  }
  const std::string message = line.substr(sizeof kStamp - 1);
  for (const char* f : engine::logtext::kAll) {
    if (Matches(f, message)) return true;
  }
  return false;
}

}  // namespace loglines
