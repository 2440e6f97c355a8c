// What the pieces of the Linux platform layer share: the thread's last error,
// the open-file count the accounting reports, and the UTF-8/UTF-16 steps the
// file names and the formatter convert with. Hidden, so that no module built
// from the layer exports them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/win32_api.h"

#pragma GCC visibility push(hidden)
namespace linux_platform {

// linux_error.cpp: what GetLastError reports on this thread.
void SetError(DWORD code);

// linux_files.cpp: handles from CreateFileA/W not yet closed.
int64_t OpenFileCount();

// linux_threads.cpp: closes `object` when it is a thread's handle (true),
// else leaves it alone (false).
bool CloseThreadHandle(HANDLE object);

// linux_text.cpp
constexpr char16_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at `in` (at most `left` bytes). Returns the
// bytes consumed; an ill-formed sequence yields U+FFFD for its maximal
// valid prefix (at least one byte), as Windows does.
size_t DecodeUtf8(const unsigned char* in, size_t left, uint32_t* code,
                  bool* valid);
// Appends one code point as UTF-8; `out` has room for 4 bytes.
size_t EncodeUtf8(uint32_t code, char* out);
// Appends one code point as UTF-16; `out` has room for 2 units.
size_t EncodeUtf16(uint32_t code, WCHAR* out);
// Reads one code point from UTF-16 (a lone surrogate reads as U+FFFD).
size_t DecodeUtf16(const WCHAR* in, size_t left, uint32_t* code);
// Converts a whole UTF-16 string to a freshly allocated UTF-8 string.
char* WideToUtf8(LPCWSTR text);

}  // namespace linux_platform
#pragma GCC visibility pop
