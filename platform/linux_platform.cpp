// The Win32 calls of win32_api.h on Linux, with the semantics the plug-ins
// rely on: fixed local blocks with a size header, file handles that are file
// descriptors guarded by flock() for share modes, UTF-8 as the ANSI code
// page, the user32 formatter, and the module path of the shared object.

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "platform/accounting.h"
#include "platform/win32_api.h"

namespace {

thread_local DWORD last_error = ERROR_SUCCESS;

void SetError(DWORD code) { last_error = code; }

// ---------------------------------------------------------------------------
// Accounting

std::atomic<int64_t> live_local_blocks{0};
std::atomic<int64_t> live_heap_blocks{0};
std::atomic<int64_t> live_files{0};
std::atomic<int64_t> fail_countdown{0};

// Which descriptors CreateFile handed out, so that CloseHandle on some other
// descriptor (a host's own file) does not disturb the open-file count.
constexpr int kTrackedDescriptors = 1 << 16;
std::atomic<bool> descriptor_is_ours[kTrackedDescriptors];

// True when this allocation is the one PlatformFailAllocation chose.
bool AllocationShouldFail() {
  int64_t left = fail_countdown.load();
  while (left > 0) {
    if (fail_countdown.compare_exchange_weak(left, left - 1)) {
      return left == 1;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Blocks: a 16-byte header holding the requested size sits in front of the
// address handed out, which keeps the block 16-byte aligned.

constexpr size_t kHeaderBytes = 16;
// Requests above this are refused like a request the system cannot satisfy;
// a 64-bit Windows process could not commit more either.
constexpr size_t kLargestBlock = size_t{1} << 40;

void* AllocateBlock(SIZE_T bytes, bool zero) {
  if (AllocationShouldFail() || bytes > kLargestBlock ||
      bytes > SIZE_MAX - kHeaderBytes) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  unsigned char* base = static_cast<unsigned char*>(
      zero ? calloc(1, bytes + kHeaderBytes) : malloc(bytes + kHeaderBytes));
  if (base == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  memcpy(base, &bytes, sizeof bytes);
  return base + kHeaderBytes;
}

unsigned char* BlockBase(void* block) {
  return static_cast<unsigned char*>(block) - kHeaderBytes;
}

SIZE_T BlockSize(void* block) {
  SIZE_T bytes;
  memcpy(&bytes, BlockBase(block), sizeof bytes);
  return bytes;
}

// ---------------------------------------------------------------------------
// Files

int HandleToDescriptor(HANDLE file) {
  intptr_t value = reinterpret_cast<intptr_t>(file);
  if (value <= 0 || value > INT_MAX) return -1;
  return static_cast<int>(value);
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

// Windows reports a missing file in an existing directory as "file not
// found" and a missing directory on the way as "path not found".
DWORD MissingFileError(const char* path) {
  const char* slash = strrchr(path, '/');
  if (slash == nullptr) return ERROR_FILE_NOT_FOUND;
  size_t length = static_cast<size_t>(slash - path);
  if (length == 0) return ERROR_FILE_NOT_FOUND;
  char* directory = static_cast<char*>(malloc(length + 1));
  if (directory == nullptr) return ERROR_FILE_NOT_FOUND;
  memcpy(directory, path, length);
  directory[length] = '\0';
  struct stat info;
  bool exists = stat(directory, &info) == 0 && S_ISDIR(info.st_mode);
  free(directory);
  return exists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

HANDLE OpenFile(char* path, DWORD desired, DWORD share, DWORD disposition) {
  for (char* p = path; *p != '\0'; ++p) {
    if (*p == '\\') *p = '/';
  }
  int flags = O_CLOEXEC;
  bool reads = (desired & GENERIC_READ) != 0;
  bool writes = (desired & GENERIC_WRITE) != 0;
  flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      // Truncated only once the share lock is held, so that a failed open
      // leaves a file that someone else holds untouched.
      flags |= O_CREAT;
      truncate = true;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    default:
      SetError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  if (truncate && !writes) {
    SetError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  bool existed = false;
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) {
    existed = access(path, F_OK) == 0;
  }
  int fd = open(path, flags, 0666);
  if (fd < 0) {
    int error = errno;
    SetError(error == ENOENT ? MissingFileError(path) : ErrorFromErrno(error));
    return INVALID_HANDLE_VALUE;
  }
  // A handle of 0 would read as "no handle": move the descriptor up.
  if (fd == 0) {
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    if (moved < 0) {
      SetError(ErrorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    fd = moved;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    SetError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (flock(fd, (share == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    close(fd);
    SetError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  if (truncate && ftruncate(fd, 0) != 0) {
    int error = errno;
    close(fd);
    SetError(ErrorFromErrno(error));
    return INVALID_HANDLE_VALUE;
  }
  if (fd < kTrackedDescriptors) descriptor_is_ours[fd] = true;
  live_files.fetch_add(1);
  SetError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

// ---------------------------------------------------------------------------
// Text

constexpr char16_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at `in` (at most `left` bytes). Returns the
// bytes consumed; an ill-formed sequence yields U+FFFD for its maximal
// valid prefix (at least one byte), as Windows does.
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

// Appends one code point as UTF-8; `out` has room for 4 bytes.
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

// Reads one code point from UTF-16 (a lone surrogate reads as U+FFFD).
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

// Converts a whole UTF-16 string to a freshly allocated UTF-8 string.
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

WCHAR FoldCase(WCHAR c) {
  if (c >= 'A' && c <= 'Z') return static_cast<WCHAR>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<WCHAR>(c + 0x20);
  return c;
}

// ---------------------------------------------------------------------------
// The user32 formatter: %d %i %u %x %X %c %s %%, flags '-', '0' and '#',
// width, precision, 'l'/'h' prefixes. Output is cut at 1024 units including
// the terminator.

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

// ---------------------------------------------------------------------------
// The module: the address of this object identifies the binary the platform
// layer was linked into.

const char module_anchor = 0;

DWORD CopyPath(const char* path, LPSTR buffer, DWORD size) {
  size_t length = strlen(path);
  if (size == 0) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (length >= size) {
    memcpy(buffer, path, size - 1);
    buffer[size - 1] = '\0';
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  memcpy(buffer, path, length + 1);
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(length);
}

__attribute__((constructor)) void AttachModule() {
  DllMain(reinterpret_cast<HINSTANCE>(const_cast<char*>(&module_anchor)),
          DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void DetachModule() {
  DllMain(reinterpret_cast<HINSTANCE>(const_cast<char*>(&module_anchor)),
          DLL_PROCESS_DETACH, nullptr);
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------
// Accounting

void PlatformGetCounts(PlatformCounts* counts) {
  counts->local_blocks = live_local_blocks.load();
  counts->heap_blocks = live_heap_blocks.load();
  counts->open_files = live_files.load();
}

void PlatformFailAllocation(int64_t n) { fail_countdown.store(n < 0 ? 0 : n); }

// ---------------------------------------------------------------------------
// Local memory

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  void* block = AllocateBlock(bytes, (flags & LMEM_ZEROINIT) != 0);
  if (block != nullptr) live_local_blocks.fetch_add(1);
  return block;
}

LPVOID LocalLock(HLOCAL block) {
  if (block == nullptr) SetError(ERROR_INVALID_HANDLE);
  return block;
}

BOOL LocalUnlock(HLOCAL block) {
  // A fixed block stays valid and at its address after unlocking.
  (void)block;
  return TRUE;
}

SIZE_T LocalSize(HLOCAL block) {
  if (block == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return BlockSize(block);
}

HLOCAL LocalFree(HLOCAL block) {
  if (block == nullptr) return nullptr;
  free(BlockBase(block));
  live_local_blocks.fetch_sub(1);
  return nullptr;
}

// ---------------------------------------------------------------------------
// The process heap

HANDLE GetProcessHeap(void) {
  static char heap_anchor;
  return &heap_anchor;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  (void)heap;
  void* block = AllocateBlock(bytes, (flags & HEAP_ZERO_MEMORY) != 0);
  if (block != nullptr) live_heap_blocks.fetch_add(1);
  return block;
}

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
  (void)heap;
  (void)flags;
  if (block == nullptr) return TRUE;
  free(BlockBase(block));
  live_heap_blocks.fetch_sub(1);
  return TRUE;
}

// ---------------------------------------------------------------------------
// Files

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void* security,
                   DWORD disposition, DWORD attributes, HANDLE template_file) {
  (void)security;
  (void)attributes;
  (void)template_file;
  if (name == nullptr || name[0] == '\0') {
    SetError(name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  char* path = strdup(name);
  if (path == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = OpenFile(path, access, share, disposition);
  free(path);
  return file;
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security,
                   DWORD disposition, DWORD attributes, HANDLE template_file) {
  (void)security;
  (void)attributes;
  (void)template_file;
  if (name == nullptr || name[0] == 0) {
    SetError(name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  char* path = WideToUtf8(name);
  if (path == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = OpenFile(path, access, share, disposition);
  free(path);
  return file;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD bytes_read,
              void* overlapped) {
  (void)overlapped;
  if (bytes_read != nullptr) *bytes_read = 0;
  int fd = HandleToDescriptor(file);
  if (fd < 0) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD done = 0;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  while (done < bytes) {
    ssize_t n = read(fd, out + done, bytes - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (bytes_read != nullptr) *bytes_read = done;
      SetError(ErrorFromErrno(errno));
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (bytes_read != nullptr) *bytes_read = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes,
               LPDWORD bytes_written, void* overlapped) {
  (void)overlapped;
  if (bytes_written != nullptr) *bytes_written = 0;
  int fd = HandleToDescriptor(file);
  if (fd < 0) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD done = 0;
  const unsigned char* in = static_cast<const unsigned char*>(buffer);
  while (done < bytes) {
    ssize_t n = write(fd, in + done, bytes - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (bytes_written != nullptr) *bytes_written = done;
      SetError(ErrorFromErrno(errno));
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (bytes_written != nullptr) *bytes_written = done;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high,
                     DWORD method) {
  int fd = HandleToDescriptor(file);
  if (fd < 0) {
    SetError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move = distance;
  if (distance_high != nullptr) {
    move = static_cast<int64_t>(
        (static_cast<uint64_t>(static_cast<uint32_t>(*distance_high)) << 32) |
        static_cast<uint32_t>(distance));
  }
  int whence = method == FILE_BEGIN     ? SEEK_SET
               : method == FILE_CURRENT ? SEEK_CUR
               : method == FILE_END     ? SEEK_END
                                        : -1;
  if (whence < 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  off_t position = lseek(fd, static_cast<off_t>(move), whence);
  if (position < 0) {
    SetError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  uint64_t result = static_cast<uint64_t>(position);
  if (distance_high != nullptr) {
    *distance_high = static_cast<LONG>(result >> 32);
  }
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(result);
}

DWORD GetFileSize(HANDLE file, LPDWORD size_high) {
  int fd = HandleToDescriptor(file);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    SetError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(info.st_size);
  if (size_high != nullptr) *size_high = static_cast<DWORD>(size >> 32);
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL CloseHandle(HANDLE object) {
  int fd = HandleToDescriptor(object);
  if (fd < 0) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  bool ours =
      fd < kTrackedDescriptors && descriptor_is_ours[fd].exchange(false);
  if (close(fd) != 0) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (ours) live_files.fetch_sub(1);
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR name) {
  if (name == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char* path = WideToUtf8(name);
  if (path == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  for (char* p = path; *p != '\0'; ++p) {
    if (*p == '\\') *p = '/';
  }
  struct stat info;
  BOOL ok = FALSE;
  if (lstat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
    SetError(ERROR_ACCESS_DENIED);
  } else if (unlink(path) != 0) {
    int error = errno;
    SetError(error == ENOENT ? MissingFileError(path) : ErrorFromErrno(error));
  } else {
    ok = TRUE;
  }
  free(path);
  return ok;
}

DWORD GetLastError(void) { return last_error; }

// ---------------------------------------------------------------------------
// Text

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
      if (need == 2) {
        destination[units] =
            static_cast<WCHAR>(0xD800 + ((code - 0x10000) >> 10));
        destination[units + 1] = static_cast<WCHAR>(0xDC00 + (code & 0x3FF));
      } else {
        destination[units] = static_cast<WCHAR>(code);
      }
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

// ---------------------------------------------------------------------------
// The module and the clock

DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size) {
  char resolved[PATH_MAX];
  if (module != nullptr) {
    Dl_info info;
    struct link_map* map = nullptr;
    if (dladdr1(module, &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) == 0 ||
        map == nullptr) {
      SetError(ERROR_INVALID_HANDLE);
      if (size > 0) path[0] = '\0';
      return 0;
    }
    // The main program has an empty name in the link map.
    if (map->l_name != nullptr && map->l_name[0] != '\0') {
      if (realpath(map->l_name, resolved) == nullptr) {
        return CopyPath(map->l_name, path, size);
      }
      return CopyPath(resolved, path, size);
    }
  }
  ssize_t length = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
  if (length < 0) {
    SetError(ERROR_INVALID_HANDLE);
    if (size > 0) path[0] = '\0';
    return 0;
  }
  resolved[length] = '\0';
  return CopyPath(resolved, path, size);
}

void GetLocalTime(LPSYSTEMTIME time) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

// Huge requests must come back as NULL under the address sanitizer too, the
// way they do in the plain build, rather than ending the process.
#if defined(__SANITIZE_ADDRESS__)
#define PLATFORM_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLATFORM_UNDER_ASAN 1
#endif
#endif
#ifdef PLATFORM_UNDER_ASAN
__attribute__((weak)) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
#endif

}  // extern "C"
