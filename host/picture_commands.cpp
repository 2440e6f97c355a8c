// info and picture: a picture plug-in's information record and its merged
// picture, written as a BMP file.
#include <stdio.h>
#include <string.h>

#include <string>

#include "host/commands.h"
#include "host/host_files.h"
#include "host/picture_records.h"
#include "host/progress.h"
#include "host/thread_count.h"

namespace {

bool SameInfo(const PictureInfo& a, const PictureInfo& b) {
  return a.left == b.left && a.top == b.top && a.width == b.width &&
         a.height == b.height && a.x_density == b.x_density &&
         a.y_density == b.y_density && a.color_depth == b.color_depth &&
         a.text_info == b.text_info;
}

// GetPictureInfo and GetPictureInfoW for one document; the wide call must
// give the same record. A name without an exact ANSI form gets the wide
// call alone.
int InfoOne(GetPictureInfoFn get_info, GetPictureInfoWFn get_info_w,
            const Source& source) {
  // Fill both records with the same pattern, so fields a call leaves
  // alone show up alike and the two can be compared field by field.
  PictureInfo info;
  PictureInfo info_w;
  memset(&info, 0xA5, sizeof(info));
  memset(&info_w, 0xA5, sizeof(info_w));
  if (!source.narrow_usable()) {
    int32_t result_w =
        get_info_w(source.wide_source(), source.size(), source.mode(), &info_w);
    printf("%s: GetPictureInfoW%s result %d\n", source.path.c_str(),
           source.label(), result_w);
    if (result_w == 0) printf("%s", DescribePictureInfo(info_w).c_str());
    return result_w != 0 ? 1 : 0;
  }
  int32_t result =
      get_info(source.source(), source.size(), source.mode(), &info);
  printf("%s: GetPictureInfo%s result %d\n", source.path.c_str(),
         source.label(), result);
  if (result == 0) printf("%s", DescribePictureInfo(info).c_str());
  int32_t result_w =
      get_info_w(source.wide_source(), source.size(), source.mode(), &info_w);
  bool same = result_w == result && (result != 0 || SameInfo(info, info_w));
  if (same) {
    printf("  GetPictureInfoW: the same\n");
  } else {
    printf("  GetPictureInfoW: result %d, differs\n", result_w);
    if (result_w == 0) printf("%s", DescribePictureInfo(info_w).c_str());
  }
  return result != 0 || !same ? 1 : 0;
}

std::string BlockSize(const Block& block) {
  return block.empty() ? "none" : std::to_string(block.size()) + " bytes";
}

// The header block and the pixels behind a BMP file header.
int WriteBmp(const std::string& path, Block* header, Block* pixels,
             const std::string& out) {
  size_t header_size = header->size();
  size_t pixel_size = pixels->size();
  if (header_size > 0x7FFFFFFFu || pixel_size > 0x7FFFFFFFu ||
      header_size + pixel_size > 0xFFFFFFF0u) {
    Error(path + ": blocks too large for a BMP file");
    return 1;
  }
  uint8_t file_header[14];
  MakeBmpFileHeader(static_cast<uint32_t>(header_size),
                    static_cast<uint32_t>(pixel_size), file_header);
  const uint8_t* header_bytes = header->Lock();
  const uint8_t* pixel_bytes = pixels->Lock();
  bool written = WriteWholeFile(out, {{file_header, sizeof(file_header)},
                                      {header_bytes, header_size},
                                      {pixel_bytes, pixel_size}});
  pixels->Unlock();
  header->Unlock();
  if (!written) return 1;
  printf("  BMP bfSize %zu bfOffBits %zu -> %s\n",
         14 + header_size + pixel_size, 14 + header_size, out.c_str());
  return 0;
}

// GetPicture, or GetPictureW (looked up when first needed) for a name
// without an exact ANSI form.
struct PictureCalls {
  GetPictureFn narrow = nullptr;
  GetPictureWFn wide = nullptr;
};

int DecodeOne(const Plugin& plugin, const PictureCalls& calls,
              const Source& source, const std::string& out) {
  Block header(plugin);
  Block pixels(plugin);
  ProgressLog progress;
  intptr_t token = StartProgress(&progress);
  const bool wide = !source.narrow_usable();
  const char* call = wide ? "GetPictureW" : "GetPicture";
  NoteThreadsBefore();
  int32_t result =
      wide ? calls.wide(source.wide_source(), source.size(), source.mode(),
                        header.slot(), pixels.slot(), &RecordProgress, token)
           : calls.narrow(source.source(), source.size(), source.mode(),
                          header.slot(), pixels.slot(), &RecordProgress, token);
  if (!NoThreadLeft(call, pixels.empty() ? 0 : pixels.size())) return 1;
  printf("%s: %s%s result %d\n", source.path.c_str(), call, source.label(),
         result);
  printf("  progress %s\n", DescribeProgress(progress).c_str());
  if (!header.empty() || !pixels.empty()) {
    printf("  header block %s, pixel block %s\n", BlockSize(header).c_str(),
           BlockSize(pixels).c_str());
  }
  if (!header.empty()) {
    const uint8_t* bytes = header.Lock();
    printf("%s", DescribeBitmapHeader(bytes, header.size()).c_str());
    header.Unlock();
  }
  if (result != 0) return 1;
  if (header.empty() || pixels.empty()) {
    Error(source.path + ": result 0 without both blocks");
    return 1;
  }
  return WriteBmp(source.path, &header, &pixels, out);
}

}  // namespace

int CommandInfo(const Plugin& plugin, const Arguments& args) {
  GetPictureInfoFn get_info = nullptr;
  GetPictureInfoWFn get_info_w = nullptr;
  if (!CheckInterface(plugin, "00IN", "info") ||
      !Export(plugin, "GetPictureInfo", &get_info) ||
      !Export(plugin, "GetPictureInfoW", &get_info_w)) {
    return 2;
  }
  return ForEachFile(args, "info", [&](const std::string& path) {
    Source source;
    return source.Load(path, args.memory) &&
           InfoOne(get_info, get_info_w, source) == 0;
  });
}

int CommandPicture(const Plugin& plugin, const Arguments& args) {
  PictureCalls calls;
  if (!CheckInterface(plugin, "00IN", "picture") ||
      !Export(plugin, "GetPicture", &calls.narrow)) {
    return 2;
  }
  if (args.positional.empty() || args.output.empty() ||
      (!args.batch && args.positional.size() != 1)) {
    Error("picture needs FILE -o OUT.bmp, or FILE... --batch -o DIR");
    return 2;
  }
  if (args.batch && !MakeDirectory(args.output)) return 2;
  int status = 0;
  for (size_t i = 0; i < args.positional.size(); ++i) {
    const std::string& path = args.positional[i];
    std::string out = args.batch
                          ? args.output + "/" + BatchName(i, path) + ".bmp"
                          : args.output;
    Source source;
    if (!source.Load(path, args.memory)) {
      status = 1;
      continue;
    }
    if (!source.narrow_usable() && calls.wide == nullptr &&
        !Export(plugin, "GetPictureW", &calls.wide)) {
      return 2;
    }
    if (DecodeOne(plugin, calls, source, out) != 0) status = 1;
  }
  return status;
}
