// Text for psdhost's output: printf-style formatting into strings, escaped
// byte fields, UTF-16 and UTF-8 conversion, and error lines.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#if defined(__clang__)
#define HOST_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define HOST_PRINTF_FORMAT __attribute__((format(gnu_printf, 1, 2)))
#endif

// printf into a string of at most 511 bytes.
std::string Format(const char* format, ...) HOST_PRINTF_FORMAT;

// "psdhost: MESSAGE" on standard error.
void Error(const std::string& message);

// UTF-16 (as 16-bit units) to UTF-8. Unpaired surrogates become U+FFFD.
// Stops at the first NUL unit or after `length` units.
std::string Utf8FromUtf16(const uint16_t* text, size_t length);

// UTF-8 to UTF-16 units, without a terminator. Malformed sequences become
// U+FFFD; code points above U+FFFF become surrogate pairs.
std::u16string Utf16FromUtf8(const std::string& text);

// Printable text for a byte field: printable ASCII as it is, a backslash as
// "\\", every other byte as "\xNN". Stops at the first NUL or at `size`.
std::string EscapeBytes(const void* bytes, size_t size);
