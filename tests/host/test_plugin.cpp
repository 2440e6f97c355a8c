// A stand-in plug-in for psdhost's own tests: it answers every export with
// values derived from a toy document, so the host's printing, BMP writing,
// extraction and freeing can be checked without the PSD engine.
//
// Toy document: "8BPS", then width (byte 4), height (byte 5) and a layer
// count (byte 6). The picture is 24-bit; pixel byte k of the block is
// k % 251. Layer n is "layerNNNN.bmp" with the picture's size when n is odd
// and an empty "layerNNNN.dat" when n is even. Anything else is result 3.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "host/plugin_api.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

int g_live_blocks = 0;

struct LiveBlockCheck {
  ~LiveBlockCheck() {
    if (g_live_blocks != 0) {
      fprintf(stderr, "test plug-in: %d blocks not freed\n", g_live_blocks);
    }
  }
} g_check;

struct Document {
  int width = 0;
  int height = 0;
  int layers = 0;
};

int ReadDocument(const char* source, intptr_t size, uint32_t mode,
                 Document* doc) {
  uint8_t head[7] = {0};
  if ((mode & 7) == 1) {
    if (size < 7) return 3;
    memcpy(head, source, 7);
  } else if ((mode & 7) == 0) {
    FILE* file = fopen(source, "rb");
    if (file == nullptr) return 6;
    size_t got = fread(head, 1, 7, file);
    fclose(file);
    if (got < 7) return 3;
  } else {
    return -1;
  }
  if (memcmp(head, "8BPS", 4) != 0 || head[4] == 0 || head[5] == 0) return 3;
  doc->width = head[4];
  doc->height = head[5];
  doc->layers = head[6];
  return 0;
}

uint32_t Stride(const Document& doc) { return (doc.width * 3 + 3) & ~3u; }

HLOCAL NewBlock(size_t size);

HLOCAL HeaderBlock(const Document& doc) {
  HLOCAL block = NewBlock(40);
  BITMAPINFOHEADER header;
  memset(&header, 0, sizeof(header));
  header.biSize = 40;
  header.biWidth = doc.width;
  header.biHeight = doc.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biSizeImage = Stride(doc) * doc.height;
  header.biXPelsPerMeter = 2835;
  header.biYPelsPerMeter = 2835;
  memcpy(block, &header, sizeof(header));
  return block;
}

HLOCAL PixelBlock(const Document& doc) {
  size_t size = Stride(doc) * doc.height;
  HLOCAL block = NewBlock(size);
  for (size_t k = 0; k < size; ++k) {
    static_cast<uint8_t*>(block)[k] = static_cast<uint8_t>(k % 251);
  }
  return block;
}

void EntryName(uint32_t n, bool pixels, char* out) {
  if (n == 0) {
    strcpy(out, "compound.bmp");
  } else {
    snprintf(out, 200, "layer%04u.%s", n, pixels ? "bmp" : "dat");
  }
}

bool HasPixels(uint32_t n) { return n == 0 || n % 2 == 1; }

bool EndsWithPsd(const char* name) {
  const char* dot = strrchr(name, '.');
  return dot != nullptr && strcasecmp(dot, ".psd") == 0;
}

}  // namespace

// Local memory: a size in front of every block.
EXPORT HLOCAL LocalAlloc(UINT, SIZE_T bytes) {
  size_t* raw = static_cast<size_t*>(malloc(bytes + 16));
  if (raw == nullptr) return nullptr;
  raw[0] = bytes;
  ++g_live_blocks;
  return reinterpret_cast<uint8_t*>(raw) + 16;
}
EXPORT HLOCAL LocalFree(HLOCAL block) {
  if (block != nullptr) {
    --g_live_blocks;
    free(static_cast<uint8_t*>(block) - 16);
  }
  return nullptr;
}
EXPORT SIZE_T LocalSize(HLOCAL block) {
  return *reinterpret_cast<size_t*>(static_cast<uint8_t*>(block) - 16);
}
EXPORT LPVOID LocalLock(HLOCAL block) { return block; }
EXPORT BOOL LocalUnlock(HLOCAL) { return TRUE; }

namespace {
HLOCAL NewBlock(size_t size) { return LocalAlloc(LMEM_FIXED, size); }
}  // namespace

EXPORT int32_t GetPluginInfo(int32_t index, LPSTR buffer, int32_t length) {
  const char* text = "";
  if (index == 0) text = TEST_PLUGIN_CODE;
  if (index == 1) text = "Stand-in plug-in";
  if (index == 2) text = "*.PSD";
  if (index == 3) text = "PSD";
  if (index == 4) text = "*.PSB";
  if (index == 5) text = "PSB";
  if (length < 1) return 0;
  snprintf(buffer, static_cast<size_t>(length), "%s", text);
  return static_cast<int32_t>(strlen(buffer));
}

EXPORT int32_t GetPluginInfoW(int32_t index, LPWSTR buffer, int32_t length) {
  char narrow[80];
  GetPluginInfo(index, narrow, sizeof(narrow));
  // Index 1 comes back with a non-ASCII letter, to check the conversion.
  int32_t n = 0;
  for (const char* p = narrow; *p && n + 1 < length; ++p) buffer[n++] = *p;
  if (index == 1 && n + 1 < length) buffer[n++] = 0x00E9;
  if (length > 0) buffer[n] = 0;
  return n;
}

EXPORT int32_t IsSupported(LPCSTR name, uintptr_t head) {
  uint8_t bytes[2048];
  const uint8_t* test = reinterpret_cast<const uint8_t*>(head);
  if (head < 0x10000) {
    if (read(static_cast<int>(head), bytes, sizeof(bytes)) < 4) return 0;
    test = bytes;
  }
  if (memcmp(test, "8BPS", 4) == 0) return 1;
  return name != nullptr && EndsWithPsd(name) ? 1 : 0;
}

EXPORT int32_t IsSupportedW(LPCWSTR name, uintptr_t head) {
  char narrow[512] = {0};
  for (int i = 0; name != nullptr && name[i] && i < 511; ++i) {
    narrow[i] = name[i] < 0x80 ? static_cast<char>(name[i]) : '?';
  }
  return IsSupported(name != nullptr ? narrow : nullptr, head);
}

EXPORT int32_t GetPictureInfo(LPCSTR source, intptr_t size, uint32_t mode,
                              PictureInfo* info) {
  Document doc;
  int32_t result = ReadDocument(source, size, mode, &doc);
  if (result != 0) return result;
  info->left = 0;
  info->top = 0;
  info->width = doc.width;
  info->height = doc.height;
  info->x_density = 2835 / 39;
  info->y_density = 2835 / 39;
  info->color_depth = 24;
  info->text_info = nullptr;
  return 0;
}

EXPORT int32_t GetPictureInfoW(LPCWSTR source, intptr_t size, uint32_t mode,
                               PictureInfo* info) {
  char narrow[512] = {0};
  if ((mode & 7) == 0) {
    for (int i = 0; source[i] && i < 511; ++i) {
      narrow[i] = static_cast<char>(source[i]);
    }
    return GetPictureInfo(narrow, size, mode, info);
  }
  return GetPictureInfo(reinterpret_cast<LPCSTR>(source), size, mode, info);
}

#ifndef TEST_PLUGIN_INCOMPLETE
EXPORT int32_t GetPicture(LPCSTR source, intptr_t size, uint32_t mode,
                          HLOCAL* header, HLOCAL* pixels,
                          ProgressCallback progress, intptr_t user_data) {
  Document doc;
  int32_t result = ReadDocument(source, size, mode, &doc);
  if (result != 0) return result;
  if (progress) progress(0, 100, user_data);
  *header = HeaderBlock(doc);
  if (pixels == nullptr) return 8;
  *pixels = PixelBlock(doc);
  if (progress) progress(100, 100, user_data);
  return 0;
}
#endif

EXPORT int32_t GetArchiveInfo(LPCSTR source, intptr_t size, uint32_t mode,
                              HLOCAL* listing) {
  Document doc;
  int32_t result = ReadDocument(source, size, mode, &doc);
  if (result != 0) return result;
  uint32_t count = static_cast<uint32_t>(doc.layers) + 1;
  HLOCAL block = NewBlock((count + 2) * sizeof(ArchiveFileInfo));
  ArchiveFileInfo* records = static_cast<ArchiveFileInfo*>(block);
  memset(records, 0x5A, (count + 2) * sizeof(ArchiveFileInfo));
  uint32_t image = 54 + Stride(doc) * doc.height;
  for (uint32_t n = 0; n < count; ++n) {
    ArchiveFileInfo& r = records[n];
    memcpy(r.kind, n == 0 ? "PSD com" : "PSD lay", 8);
    r.entry_number = n;
    r.packed_size = r.unpacked_size = HasPixels(n) ? image : 0;
    r.time_stamp = 0;
    r.folder[0] = 0;
    EntryName(n, HasPixels(n), r.entry_name);
    r.checksum = 0;
  }
  records[count].kind[0] = 0;
  *listing = block;
  return 0;
}

EXPORT int32_t GetFileInfo(LPCSTR source, intptr_t size, LPCSTR name,
                           uint32_t mode, ArchiveFileInfo* info) {
  Document doc;
  int32_t result = ReadDocument(source, size, mode, &doc);
  if (result != 0) return result;
  uint32_t n = 0;
  if (strcmp(name, "compound.bmp") != 0) {
    if (strncmp(name, "layer", 5) != 0) return 6;
    n = static_cast<uint32_t>(strtoul(name + 5, nullptr, 10));
  }
  memcpy(info->kind, n == 0 ? "PSD com" : "PSD lay", 8);
  info->entry_number = n;
  info->packed_size = info->unpacked_size = 54 + Stride(doc) * doc.height;
  info->time_stamp = 0;
  info->folder[0] = 0;
  EntryName(n, true, info->entry_name);
  info->checksum = 0;
  return 0;
}

EXPORT int32_t GetFile(LPCSTR source, intptr_t entry, LPSTR destination,
                       uint32_t mode, ProgressCallback progress,
                       intptr_t user_data) {
  if ((mode & 7) != 0 || (mode & 0x700) > 0x100) return -1;
  if (progress) progress(0, 100, user_data);
  Document doc;
  int32_t result = ReadDocument(source, 0, 0, &doc);
  if (result != 0) return result;
  uint32_t n = static_cast<uint32_t>(entry);
  bool pixels = HasPixels(n);
  HLOCAL header = HeaderBlock(doc);
  HLOCAL body = pixels ? PixelBlock(doc) : NewBlock(0);
  size_t h = LocalSize(header);
  size_t b = LocalSize(body);
  size_t total = b > 0 ? 14 + h + b : 0;
  uint8_t file_header[14] = {'B', 'M'};
  for (int i = 0; i < 4; ++i) {
    file_header[2 + i] = static_cast<uint8_t>(total >> (8 * i));
    file_header[10 + i] = static_cast<uint8_t>((14 + h) >> (8 * i));
  }
  if ((mode & 0x700) == 0x100) {
    uint8_t* out = static_cast<uint8_t*>(NewBlock(total));
    if (total > 0) {
      memcpy(out, file_header, 14);
      memcpy(out + 14, header, h);
      memcpy(out + 14 + h, body, b);
    }
    *reinterpret_cast<HLOCAL*>(destination) = out;
  } else {
    char name[200];
    EntryName(n, pixels, name);
    char path[1024];
    snprintf(path, sizeof(path), "%s/%s", destination, name);
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      if (total > 0) {
        ssize_t ok = write(fd, file_header, 14) + write(fd, header, h) +
                     write(fd, body, b);
        (void)ok;
      }
      close(fd);
    }
  }
  LocalFree(header);
  LocalFree(body);
  if (progress) progress(50, 100, user_data);
  return 0;
}
