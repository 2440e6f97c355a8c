// The merged picture through flatview's entry points, from a memory image:
// GetPicture, GetPictureInfo and a header-only DecodePictureW request must
// agree with each other, hand out only defined, correctly sized blocks and
// leave nothing behind; the same bytes read from a file by name give the
// same picture, the same first layer and the same listing.
#include "engine/serve/plugin_abi.h"
#include "fuzz/fuzz_support.h"

using namespace fuzzcheck;

namespace {

struct Progress {
  int calls = 0;
  int32_t first = -1;
  int32_t last = -1;
};

int32_t WINAPI CountProgress(int32_t numerator, int32_t denominator,
                             intptr_t user_data) {
  Progress* p = reinterpret_cast<Progress*>(user_data);
  Require(denominator == 100, "progress denominator", denominator);
  if (p->calls == 0) p->first = numerator;
  p->last = numerator;
  ++p->calls;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SendLogToNowhere();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size == 0) return 0;  // a null image would mean "read the file"
  const std::vector<uint8_t> tamed = Tamed(input, size);
  const uint8_t* data = tamed.data();
  const LPCSTR source = reinterpret_cast<LPCSTR>(data);
  const intptr_t length = static_cast<intptr_t>(size);

  // The merged picture with both slots and a progress callback.
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  Progress progress;
  const int32_t result =
      GetPicture(source, length, kInputMemory, &header, &pixels, CountProgress,
                 reinterpret_cast<intptr_t>(&progress));
  Require(result == 0 || result == 3 || result == 4, "GetPicture result",
          result);
  Require(progress.calls == 2 && progress.first == 0 && progress.last == 100,
          "progress calls", progress.calls, progress.last);
  BITMAPINFOHEADER picture{};
  if (result == 0) {
    RequireHeld(2);
    CheckMergedPicture(header, pixels, data, size);
    memcpy(&picture, LocalLock(header), sizeof picture);
    LocalUnlock(header);
  } else if (result == 3) {
    Require(header == nullptr && pixels == nullptr, "slots written on 3");
    RequireHeld(0);
  } else {
    // Out of memory (or a picture too large for its document): the header
    // block may stand, the pixel slot holds null.
    Require(pixels == nullptr, "pixel block on 4");
    RequireHeld(header != nullptr ? 1 : 0);
    if (header != nullptr) CheckHeaderBlock(header);
  }
  LocalFree(header);
  LocalFree(pixels);
  RequireNothingLive();

  // Picture information: the same picture's size and depth.
  PictureInfo info;
  memset(&info, 0xA5, sizeof info);
  const int32_t info_result =
      GetPictureInfo(source, length, kInputMemory, &info);
  Require(info_result == 0 || info_result == 3 || info_result == 4,
          "GetPictureInfo result", info_result);
  RequireNothingLive();
  if (result == 0) {
    Require(info_result == 0, "info result for a readable picture",
            info_result);
    Require(info.width == picture.biWidth && info.height == picture.biHeight,
            "info size", info.width, info.height);
    Require(info.color_depth == picture.biBitCount, "info depth",
            info.color_depth);
    Require(info.text_info == nullptr, "info text");
  }
  if (result == 3) Require(info_result == 3, "info result on 3", info_result);

  // A header-only request reports the merged picture's size.
  DecodeRequest request;
  memset(&request, 0, sizeof request);
  request.size = sizeof request;
  request.memory_image = data;
  request.memory_length = size;
  HLOCAL only = nullptr;
  request.header_slot = &only;
  const int32_t header_result = DecodePictureW(&request);
  Require(header_result == 8 || header_result == 3 || header_result == 4,
          "header-only result", header_result);
  if (header_result == 8) {
    RequireHeld(1);
    const BITMAPINFOHEADER h = CheckHeaderBlock(only);
    Require(request.image_size == h.biSizeImage, "header-only image_size",
            request.image_size, h.biSizeImage);
    if (result == 0) {
      Require(memcmp(&h, &picture, sizeof h) == 0, "headers differ");
    }
  }
  LocalFree(only);
  RequireNothingLive();

  static const std::string path = DocumentFilePath();
  Require(WriteDocumentFile(path, data, size), "document file written");
  const uint32_t requests[3][2] = {{0, 0}, {1, 0}, {0, kListFlag}};
  for (const auto& r : requests) {
    const std::string differs =
        FileDiffersFromMemory(data, size, path, r[0], r[1]);
    if (!differs.empty()) fprintf(stderr, "%s\n", differs.c_str());
    Require(differs.empty(), "the file's request differs from memory's");
    RequireNothingLive();
  }
  // The merged picture (or composite) and a layer, in three bands.
  for (uint32_t entry = 0; entry < 2; ++entry) {
    const std::string differs = ThreadsDifferFromOne(data, size, entry, 0, 3);
    if (!differs.empty()) fprintf(stderr, "%s\n", differs.c_str());
    Require(differs.empty(), "three threads differ from one");
    RequireNothingLive();
  }
  return 0;
}
