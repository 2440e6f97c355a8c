#include <stdio.h>

#include <algorithm>
#include <functional>

#include "engine/serve/plugin_abi.h"
#include "hostile_support.h"

namespace hostile {

namespace {

bool Allowed(int32_t result) {
  return result == 0 || result == 3 || result == 4;
}

class Call {
 public:
  Call(Outcome* out, std::string name) : out_(out), name_(std::move(name)) {
    const PlatformCounts c = Counts();
    if (c.local_blocks != 0 || c.heap_blocks != 0 || c.open_files != 0) {
      Fail("blocks live before the call");
    }
  }
  void Fail(const std::string& what) {
    out_->failures.push_back(name_ + ": " + what);
  }
  void Result(int32_t result, bool (*allowed)(int32_t) = Allowed) {
    out_->results.push_back(result);
    out_->digest.Add(result);
    if (!allowed(result)) Fail("result " + std::to_string(result));
  }
  // Exactly `n` blocks held by the caller, nothing else live.
  void Held(int64_t n) {
    const PlatformCounts c = Counts();
    if (c.local_blocks != n) {
      Fail("caller holds " + std::to_string(c.local_blocks) +
           " blocks, expected " + std::to_string(n));
    }
    if (c.heap_blocks != 0) Fail("engine heap blocks left");
    if (c.open_files != 0) Fail("files left open");
  }
  // Reads the whole block into the digest (every byte is read).
  size_t Take(HLOCAL block) {
    if (block == nullptr) return 0;
    const size_t n = LocalSize(block);
    out_->digest.Add(LocalLock(block), n);
    LocalUnlock(block);
    LocalFree(block);
    return n;
  }

 private:
  Outcome* out_;
  std::string name_;
};

uint64_t Stride(int64_t width, uint32_t bits) {
  return (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
}

BITMAPINFOHEADER HeaderOf(HLOCAL block) {
  BITMAPINFOHEADER h{};
  if (block != nullptr && LocalSize(block) >= sizeof h) {
    memcpy(&h, LocalLock(block), sizeof h);
    LocalUnlock(block);
  }
  return h;
}

void MergedPicture(const ExactImage& doc, Outcome* out) {
  Call call(out, "GetPicture");
  HLOCAL header = nullptr, pixels = nullptr;
  const int32_t r = GetPicture(reinterpret_cast<LPCSTR>(doc.data()),
                               static_cast<intptr_t>(doc.size()), 1, &header,
                               &pixels, nullptr, 0);
  call.Result(r);
  call.Held((header ? 1 : 0) + (pixels ? 1 : 0));
  if (r == 0) {
    const BITMAPINFOHEADER h = HeaderOf(header);
    const uint32_t palette = h.biBitCount <= 8 ? 4u << h.biBitCount : 0;
    if (LocalSize(header) != 40 + palette) call.Fail("header block size");
    // Sides: up to 30000 in version 1 documents, 300000 in version 2.
    const LONG most = doc.size() > 5 && doc.data()[5] == 2 ? 300000 : 30000;
    if (h.biWidth <= 0 || h.biHeight <= 0 || h.biWidth > most ||
        h.biHeight > most) {
      call.Fail("picture size");
    } else if (h.biSizeImage != Stride(h.biWidth, h.biBitCount) * h.biHeight ||
               pixels == nullptr || LocalSize(pixels) != h.biSizeImage) {
      call.Fail("pixel block size");
    }
  } else if (pixels != nullptr) {
    call.Fail("pixel block on failure");
  } else if (r == 3 && header != nullptr) {
    call.Fail("header block on 3");
  }
  call.Take(header);
  call.Take(pixels);
  call.Held(0);

  Call info_call(out, "GetPictureInfo");
  PictureInfo info;
  memset(&info, 0, sizeof info);
  const int32_t i = GetPictureInfo(reinterpret_cast<LPCSTR>(doc.data()),
                                   static_cast<intptr_t>(doc.size()), 1, &info);
  info_call.Result(i);
  info_call.Held(0);
  if (i == 0) out->digest.Add(&info, sizeof info);
  if (r == 3 && i != 3) info_call.Fail("a refused document has information");
}

void Listing(const ExactImage& doc, Outcome* out) {
  Call call(out, "GetArchiveInfo");
  HLOCAL listing = nullptr;
  const int32_t r =
      GetArchiveInfo(reinterpret_cast<LPCSTR>(doc.data()),
                     static_cast<intptr_t>(doc.size()), 1, &listing);
  call.Result(r);
  call.Held(listing ? 1 : 0);
  size_t count = 0;
  if (r == 0 && listing != nullptr) {
    const size_t bytes = LocalSize(listing);
    const auto* e = static_cast<const ArchiveFileInfo*>(LocalLock(listing));
    const size_t records = bytes / sizeof(ArchiveFileInfo);
    while (count < records && e[count].kind[0] != 0) ++count;
    if (bytes % sizeof(ArchiveFileInfo) != 0 || count == 0 ||
        count >= records) {
      call.Fail("listing without entries or end marker");
    }
    LocalUnlock(listing);
  } else if (r == 0) {
    call.Fail("result 0 without a listing");
  }
  call.Take(listing);
  call.Held(0);

  const char* names[] = {"compound.bmp", "layer0001.bmp", "layer0002.dat",
                         "layer0009.bmp"};
  for (const char* name : names) {
    Call info_call(out, std::string("GetFileInfo ") + name);
    ArchiveFileInfo info;
    memset(&info, 0, sizeof info);
    const int32_t i =
        GetFileInfo(reinterpret_cast<LPCSTR>(doc.data()),
                    static_cast<intptr_t>(doc.size()), name, 1, &info);
    info_call.Result(i);
    info_call.Held(0);
    if (i == 0) out->digest.Add(&info, sizeof info);
    if (i != r) info_call.Fail("differs from GetArchiveInfo");
  }
}

void LayerRequest(const ExactImage& doc, uint32_t entry, bool pixels_wanted,
                  Outcome* out) {
  Call call(out, "DecodePictureW entry " + std::to_string(entry) +
                     (pixels_wanted ? "" : " header only"));
  HLOCAL header = nullptr, pixels = nullptr;
  DecodeRequest request =
      MemoryRequest(doc, entry, &header, pixels_wanted ? &pixels : nullptr);
  request.image_size = 0xA5A5A5A5u;
  const int32_t r = DecodePictureW(&request);
  call.Result(
      r, pixels_wanted ? Allowed
                       : [](int32_t v) { return v == 8 || v == 3 || v == 4; });
  call.Held((header ? 1 : 0) + (pixels ? 1 : 0));
  if (r == 0) {
    const BITMAPINFOHEADER h = HeaderOf(header);
    const size_t b = pixels ? LocalSize(pixels) : 0;
    if (pixels == nullptr || b != h.biSizeImage) call.Fail("pixel block size");
    if (request.image_size != 0xA5A5A5A5u) {
      if (request.image_size != b) call.Fail("image_size");
      if (h.biWidth > 0 && h.biHeight > 0 && b != 0 &&
          b != Stride(h.biWidth, h.biBitCount) * h.biHeight) {
        call.Fail("layer stride");
      }
    }
  }
  if (r == 8 && request.image_size != HeaderOf(header).biSizeImage) {
    call.Fail("header-only image_size");
  }
  out->digest.Add(request.image_size);
  out->digest.Add(request.entry_count);
  call.Take(header);
  call.Take(pixels);
  call.Held(0);
}

}  // namespace

Outcome RunEntryPoints(const ExactImage& doc, uint32_t layers) {
  Outcome out;
  MergedPicture(doc, &out);
  Listing(doc, &out);
  for (uint32_t entry = 1; entry <= layers + 1; ++entry) {
    LayerRequest(doc, entry, true, &out);
  }
  LayerRequest(doc, 1, false, &out);
  return out;
}

}  // namespace hostile
