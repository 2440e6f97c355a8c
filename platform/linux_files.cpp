// Files: handles that are file descriptors, share modes kept with flock(),
// and Windows' error codes for what the system reports.

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "platform/linux_internal.h"
#include "platform/win32_api.h"

using linux_platform::SetError;
using linux_platform::WideToUtf8;

namespace {

std::atomic<int64_t> live_files{0};

// Which descriptors CreateFile handed out, so that CloseHandle on some other
// descriptor (a host's own file) does not disturb the open-file count.
constexpr int kTrackedDescriptors = 1 << 16;
std::atomic<bool> descriptor_is_ours[kTrackedDescriptors];

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

// Windows takes either separator; the system only '/'.
void UseForwardSlashes(char* path) {
  for (char* p = path; *p != '\0'; ++p) {
    if (*p == '\\') *p = '/';
  }
}

HANDLE OpenFile(char* path, DWORD desired, DWORD share, DWORD disposition) {
  UseForwardSlashes(path);
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

// A CreateFile name that is missing or empty opens nothing.
template <typename Char>
bool RefuseEmptyName(const Char* name) {
  if (name != nullptr && name[0] != 0) return false;
  SetError(name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
  return true;
}

// Opens the file a CreateFile call names, given the caller's own UTF-8 copy
// of the name (freed here; null when the copy could not be made).
HANDLE OpenPathCopy(char* path, DWORD desired, DWORD share, DWORD disposition) {
  if (path == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = OpenFile(path, desired, share, disposition);
  free(path);
  return file;
}

// The descriptor a ReadFile or WriteFile call works on, with the caller's
// count cleared first; -1, the error set, for a handle that is no file.
int TransferDescriptor(HANDLE file, LPDWORD moved) {
  if (moved != nullptr) *moved = 0;
  int fd = HandleToDescriptor(file);
  if (fd < 0) SetError(ERROR_INVALID_HANDLE);
  return fd;
}

// Ends a ReadFile or WriteFile call after `done` bytes: the count for the
// caller and, when the system failed with `error`, its Windows code.
BOOL EndTransfer(LPDWORD moved, DWORD done, int error) {
  if (moved != nullptr) *moved = done;
  if (error == 0) return TRUE;
  SetError(ErrorFromErrno(error));
  return FALSE;
}

}  // namespace

int64_t linux_platform::OpenFileCount() { return live_files.load(); }

extern "C" {

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void* /*security*/,
                   DWORD disposition, DWORD /*attributes*/,
                   HANDLE /*template_file*/) {
  if (RefuseEmptyName(name)) return INVALID_HANDLE_VALUE;
  return OpenPathCopy(strdup(name), access, share, disposition);
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* /*security*/,
                   DWORD disposition, DWORD /*attributes*/,
                   HANDLE /*template_file*/) {
  if (RefuseEmptyName(name)) return INVALID_HANDLE_VALUE;
  return OpenPathCopy(WideToUtf8(name), access, share, disposition);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD bytes_read,
              void* overlapped) {
  int fd = TransferDescriptor(file, bytes_read);
  if (fd < 0) return FALSE;
  DWORD done = 0;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  const OVERLAPPED* at = static_cast<const OVERLAPPED*>(overlapped);
  const off_t offset =
      at == nullptr
          ? 0
          : static_cast<off_t>((static_cast<uint64_t>(at->OffsetHigh) << 32) |
                               at->Offset);
  if (at != nullptr && bytes != 0) {
    struct stat info;
    if (fstat(fd, &info) == 0 && offset >= info.st_size) {
      SetError(ERROR_HANDLE_EOF);
      return FALSE;
    }
  }
  while (done < bytes) {
    ssize_t n = at == nullptr ? read(fd, out + done, bytes - done)
                              : pread(fd, out + done, bytes - done,
                                      offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return EndTransfer(bytes_read, done, errno);
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  return EndTransfer(bytes_read, done, 0);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes,
               LPDWORD bytes_written, void* /*overlapped*/) {
  int fd = TransferDescriptor(file, bytes_written);
  if (fd < 0) return FALSE;
  DWORD done = 0;
  const unsigned char* in = static_cast<const unsigned char*>(buffer);
  while (done < bytes) {
    ssize_t n = write(fd, in + done, bytes - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return EndTransfer(bytes_written, done, errno);
    }
    done += static_cast<DWORD>(n);
  }
  return EndTransfer(bytes_written, done, 0);
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
  if (linux_platform::CloseThreadHandle(object)) return TRUE;
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

BOOL MoveFileExA(LPCSTR existing, LPCSTR new_name, DWORD flags) {
  if (existing == nullptr || new_name == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char* from = strdup(existing);
  char* to = strdup(new_name);
  BOOL ok = FALSE;
  if (from == nullptr || to == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
  } else {
    UseForwardSlashes(from);
    UseForwardSlashes(to);
    if ((flags & MOVEFILE_REPLACE_EXISTING) == 0 && access(to, F_OK) == 0) {
      SetError(ERROR_ALREADY_EXISTS);
    } else if (rename(from, to) != 0) {
      const int error = errno;
      SetError(error == ENOENT ? MissingFileError(from)
                               : ErrorFromErrno(error));
    } else {
      ok = TRUE;
    }
  }
  free(from);
  free(to);
  return ok;
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
  UseForwardSlashes(path);
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

}  // extern "C"
