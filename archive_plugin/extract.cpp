// GetFile: one entry of the document as a BMP file in a directory, or as a
// BMP image in one memory block for the host.
#include <string.h>

#include "engine/serve/entries.h"
#include "engine/serve/plugin_abi.h"

using engine::EntryNameW;
using engine::kBmpFileHeaderBytes;
using engine::kEntryNameRoom;

namespace {

const int kNameUnits = 260;
// Room of the composed output path, terminator included.
#if UINTPTR_MAX > 0xFFFFFFFFu
const uint32_t kPathUnits = 264;
#else
const uint32_t kPathUnits = 260;
#endif

uint32_t WideLength(const WCHAR* text) {
  uint32_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// directory + "\" + name, when it fits the path's room.
bool ComposePath(const WCHAR* directory, const WCHAR* name, WCHAR* path) {
  const uint32_t d = WideLength(directory);
  const uint32_t n = WideLength(name);
  if (static_cast<uint64_t>(d) + 1 + n + 1 > kPathUnits) return false;
  for (uint32_t i = 0; i < d; ++i) path[i] = directory[i];
  path[d] = '\\';
  for (uint32_t i = 0; i <= n; ++i) path[d + 1 + i] = name[i];
  return true;
}

// The 14-byte BITMAPFILEHEADER, little-endian, no padding.
void FillFileHeader(uint32_t total, uint32_t header_size, uint8_t* out) {
  const uint32_t offset = kBmpFileHeaderBytes + header_size;
  const uint8_t bytes[kBmpFileHeaderBytes] = {
      'B',
      'M',
      static_cast<uint8_t>(total),
      static_cast<uint8_t>(total >> 8),
      static_cast<uint8_t>(total >> 16),
      static_cast<uint8_t>(total >> 24),
      0,
      0,
      0,
      0,
      static_cast<uint8_t>(offset),
      static_cast<uint8_t>(offset >> 8),
      static_cast<uint8_t>(offset >> 16),
      static_cast<uint8_t>(offset >> 24)};
  memcpy(out, bytes, kBmpFileHeaderBytes);
}

bool WriteAll(HANDLE file, const void* bytes, SIZE_T size) {
  DWORD written = 0;
  return WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) &&
         written == size;
}

struct Bmp {
  uint8_t file_header[kBmpFileHeaderBytes];
  HLOCAL header_block;
  HLOCAL pixel_block;
  SIZE_T header_size;  // H
  SIZE_T pixel_size;   // B
  uint32_t total;      // 0 when there are no pixels
};

int32_t WriteToMemory(const Bmp& bmp, HLOCAL* out) {
  HLOCAL block = LocalAlloc(LMEM_FIXED, bmp.total);
  if (block == nullptr) return kResultNoMemory;
  if (bmp.total > 0) {
    uint8_t* bytes = static_cast<uint8_t*>(LocalLock(block));
    memcpy(bytes, bmp.file_header, kBmpFileHeaderBytes);
    memcpy(bytes + kBmpFileHeaderBytes, LocalLock(bmp.header_block),
           bmp.header_size);
    memcpy(bytes + kBmpFileHeaderBytes + bmp.header_size,
           LocalLock(bmp.pixel_block), bmp.pixel_size);
    LocalUnlock(bmp.pixel_block);
    LocalUnlock(bmp.header_block);
    LocalUnlock(block);
  }
  *out = block;
  return kResultOk;
}

// Creates the file (never replacing one) and writes the three parts
// straight from the blocks. An existing file stays untouched (result 0);
// any other failure removes what was written and reports 6.
int32_t WriteToFile(const Bmp& bmp, const WCHAR* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const bool exists =
        error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return exists ? kResultOk : kResultReadError;
  }
  bool ok = true;
  if (bmp.total > 0) {
    ok = WriteAll(file, bmp.file_header, kBmpFileHeaderBytes) &&
         WriteAll(file, LocalLock(bmp.header_block), bmp.header_size) &&
         WriteAll(file, LocalLock(bmp.pixel_block), bmp.pixel_size);
    LocalUnlock(bmp.header_block);
    LocalUnlock(bmp.pixel_block);
  }
  ok = CloseHandle(file) && ok;
  if (!ok) {
    DeleteFileW(path);
    return kResultReadError;
  }
  return kResultOk;
}

}  // namespace

PLUGIN_API int32_t WINAPI GetFile(LPCSTR source, intptr_t entry,
                                  LPSTR destination, uint32_t mode,
                                  ProgressCallback progress,
                                  intptr_t callback_data) {
  if ((mode & kOutputMask) > kOutputMemory || (mode & kInputMask) != 0) {
    return kResultBadMode;
  }
  WCHAR source_name[kNameUnits];
  source_name[0] = 0;
  MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, source, -1, source_name,
                      kNameUnits);
  source_name[kNameUnits - 1] = 0;

  const uint32_t entry_index = static_cast<uint32_t>(entry);
  const bool to_file = (mode & kOutputMask) == kOutputFile;
  WCHAR directory[kNameUnits];
  WCHAR path[kPathUnits];
  if (to_file) {
    // A directory name or path that does not fit is refused, never cut.
    directory[0] = 0;
    WCHAR longest[kEntryNameRoom];
    EntryNameW(entry_index, true, longest);
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, destination, -1, directory,
                            kNameUnits) == 0 ||
        !ComposePath(directory, longest, path)) {
      return kResultReadError;
    }
  }

  if (progress != nullptr) progress(0, 100, callback_data);
  DecodeRequest request;
  memset(&request, 0, sizeof(request));
  request.size = sizeof(DecodeRequest);
  request.entry_index = entry_index;
  request.file_name = source_name;
  Bmp bmp;
  memset(&bmp, 0, sizeof(bmp));
  request.header_slot = &bmp.header_block;
  request.pixels_slot = &bmp.pixel_block;
  int32_t result = DecodePictureW(&request);
  if (result != kResultOk) {
    if (bmp.header_block != nullptr) LocalFree(bmp.header_block);
    if (bmp.pixel_block != nullptr) LocalFree(bmp.pixel_block);
    return result;
  }

  bmp.pixel_size = LocalSize(bmp.pixel_block);
  bmp.header_size = LocalSize(bmp.header_block);
  if (bmp.pixel_size > 0) {
    bmp.total = static_cast<uint32_t>(kBmpFileHeaderBytes + bmp.header_size +
                                      bmp.pixel_size);
  }
  FillFileHeader(bmp.total, static_cast<uint32_t>(bmp.header_size),
                 bmp.file_header);
  if (to_file) {
    WCHAR name[kEntryNameRoom];
    EntryNameW(entry_index, bmp.total > 0, name);
    ComposePath(directory, name, path);
    result = WriteToFile(bmp, path);
  } else {
    result = WriteToMemory(bmp, reinterpret_cast<HLOCAL*>(destination));
  }
  LocalFree(bmp.pixel_block);
  LocalFree(bmp.header_block);
  if (result != kResultOk) return result;
  if (progress != nullptr) progress(50, 100, callback_data);
  return kResultOk;
}
