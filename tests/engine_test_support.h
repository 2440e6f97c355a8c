// Helpers shared by the engine's unit tests: run one request through
// DecodePictureW, copy what it handed out, check that the caller holds
// exactly those blocks, and collect the log lines and progress calls.
#pragma once

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/serve/plugin_abi.h"
#include "platform/accounting.h"
#include "psd_writer.h"

namespace enginetest {

using psdw::Bytes;

inline std::string LogPath() {
  char exe[PATH_MAX];
  if (!realpath("/proc/self/exe", exe)) return "";
  return std::string(exe) + ".LOG";
}

// The log's bytes from `from` on.
inline std::string ReadFrom(const std::string& path, size_t from) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (!in || size <= static_cast<std::streamoff>(from)) return "";
  in.seekg(static_cast<std::streamoff>(from));
  std::string tail(static_cast<size_t>(size) - from, '\0');
  in.read(&tail[0], static_cast<std::streamsize>(tail.size()));
  return tail;
}

inline size_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<size_t>(in.tellg()) : 0;
}

inline ino_t FileIdentity(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// Lines appended to the log since construction, without their time stamps.
// A log that passed its cap meanwhile is now the older one (".1"): its lines
// come first.
class LogWatch {
 public:
  LogWatch() : start_(FileSize(LogPath())), file_(FileIdentity(LogPath())) {}
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const bool rotated = FileIdentity(LogPath()) != file_;
    const std::string tail =
        rotated ? ReadFrom(LogPath() + ".1", start_) + ReadFrom(LogPath(), 0)
                : ReadFrom(LogPath(), start_);
    size_t pos = 0;
    while (pos < tail.size()) {
      size_t end = tail.find("\r\n", pos);
      if (end == std::string::npos) {
        ADD_FAILURE() << "log line without CR LF: " << tail.substr(pos);
        break;
      }
      std::string line = tail.substr(pos, end - pos);
      // "YYYY-MM-DD hh:mm:ss " then the message.
      bool stamped = line.size() >= 20 && line[4] == '-' && line[7] == '-' &&
                     line[10] == ' ' && line[13] == ':' && line[16] == ':' &&
                     line[19] == ' ';
      EXPECT_TRUE(stamped) << "log line without time stamp: " << line;
      lines.push_back(stamped ? line.substr(20) : line);
      pos = end + 2;
    }
    return lines;
  }

 private:
  size_t start_;
  ino_t file_;
};

inline bool HasLine(const std::vector<std::string>& lines,
                    const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

inline int CountPrefix(const std::vector<std::string>& lines,
                       const std::string& prefix) {
  int n = 0;
  for (const std::string& l : lines) {
    if (l.compare(0, prefix.size(), prefix) == 0) ++n;
  }
  return n;
}

inline std::string Hex(size_t v) {
  char b[32];
  snprintf(b, sizeof b, "%zx", v);
  return b;
}

struct ProgressLog {
  std::vector<std::pair<int32_t, int32_t>> calls;
};

inline int32_t WINAPI RecordProgress(int32_t num, int32_t den,
                                     intptr_t user_data) {
  reinterpret_cast<ProgressLog*>(user_data)->calls.emplace_back(num, den);
  return 1;  // asks to cancel; the engine must not care
}

struct Options {
  uint32_t entry = 0;
  uint32_t flags = 0;
  bool want_pixels = true;
  bool progress = false;
  uint32_t image_size = 0xA5A5A5A5u;  // what the caller puts there
  std::u16string file_name;           // used when not from memory
  bool from_memory = true;
};

// What one request returned, copied out of the blocks (which are freed).
struct Decoded {
  int32_t result = -99;
  DecodeRequest request{};
  bool header_written = false;  // the header slot's variable changed
  bool has_header = false;
  bool has_pixels = false;
  Bytes header;  // whole header block (40 + palette bytes)
  Bytes pixels;  // whole pixel or directory block
  std::vector<std::string> log;
  ProgressLog progress;

  BITMAPINFOHEADER Info() const {
    BITMAPINFOHEADER h{};
    if (header.size() >= sizeof h) memcpy(&h, header.data(), sizeof h);
    return h;
  }
  Bytes Palette() const {
    return header.size() > 40 ? Bytes(header.begin() + 40, header.end())
                              : Bytes();
  }
};

inline HLOCAL Sentinel() { return reinterpret_cast<HLOCAL>(0x5151); }

// A block's bytes; the block is freed.
inline Bytes TakeBlock(HLOCAL block) {
  const SIZE_T n = LocalSize(block);
  const auto* p = static_cast<const uint8_t*>(LocalLock(block));
  Bytes bytes(p, p + n);
  LocalUnlock(block);
  LocalFree(block);
  return bytes;
}

// Runs one request. Checks the block accounting: afterwards the caller holds
// exactly the blocks in the two slots, no heap block and no file is left.
inline Decoded Decode(const Bytes& doc, const Options& o = Options()) {
  Decoded d;
  PlatformCounts before{}, after{};
  PlatformGetCounts(&before);
  LogWatch watch;

  HLOCAL header = Sentinel();
  HLOCAL pixels = Sentinel();
  DecodeRequest& r = d.request;
  r.size = sizeof(DecodeRequest);
  r.flags = o.flags;
  r.entry_index = o.entry;
  r.reserved_out = 77;
  r.result_flags = 0xFFFFFFFFu;
  r.entry_count = 0xFFFFFFFFu;
  r.reserved3 = r.reserved4 = 0x1234;
  r.image_size = o.image_size;
  if (o.from_memory) {
    r.memory_image = doc.data();
    r.memory_length = doc.size();
    r.file_name = u"/nonexistent/never/opened.psd";
  } else {
    r.file_name = o.file_name.c_str();
  }
  if (o.progress) {
    r.progress = RecordProgress;
    r.user_data = reinterpret_cast<intptr_t>(&d.progress);
  }
  r.header_slot = &header;
  r.pixels_slot = o.want_pixels ? &pixels : nullptr;

  d.result = DecodePictureW(&r);

  PlatformGetCounts(&after);
  d.header_written = header != Sentinel();
  d.has_header = d.header_written && header != nullptr;
  d.has_pixels = o.want_pixels && pixels != Sentinel() && pixels != nullptr;
  int64_t held = (d.has_header ? 1 : 0) + (d.has_pixels ? 1 : 0);
  EXPECT_EQ(after.local_blocks - before.local_blocks, held)
      << "local blocks held by the caller";
  EXPECT_EQ(after.heap_blocks, before.heap_blocks) << "heap blocks left";
  EXPECT_EQ(after.open_files, before.open_files) << "files left open";
  EXPECT_EQ(r.reserved_out, 0u);
  EXPECT_EQ(r.reserved3, 0u);
  EXPECT_EQ(r.reserved4, 0u);

  if (d.has_header) d.header = TakeBlock(header);
  if (d.has_pixels) d.pixels = TakeBlock(pixels);
  if (o.want_pixels && pixels == Sentinel() && d.result != 3 && d.result != 6 &&
      d.result != 8) {
    // Results 0 and 4 after the header always store the pixel slot.
    if (d.result == 0) ADD_FAILURE() << "result 0 without a pixel block";
  }
  d.log = watch.Lines();
  return d;
}

inline Options Entry(uint32_t entry) {
  Options o;
  o.entry = entry;
  return o;
}

inline Options List() {
  Options o;
  o.flags = kListFlag;
  return o;
}

inline Options HeaderOnly(uint32_t entry = 0) {
  Options o;
  o.entry = entry;
  o.want_pixels = false;
  return o;
}

// Builds the bytes of a bottom-up DIB of `e` bytes a pixel: pixel(x, y, i)
// gives byte i of the pixel at column x of file row y (y = 0 at the top).
// Row padding is zero.
inline Bytes Dib(
    uint32_t width, uint32_t height, uint32_t e,
    const std::function<uint8_t(uint32_t, uint32_t, uint32_t)>& pixel) {
  uint32_t stride = (width * e + 3) & ~3u;
  Bytes out(static_cast<size_t>(stride) * height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = &out[static_cast<size_t>(height - 1 - y) * stride];
    for (uint32_t x = 0; x < width; ++x) {
      for (uint32_t i = 0; i < e; ++i) row[x * e + i] = pixel(x, y, i);
    }
  }
  return out;
}

// Position of the first differing byte, for readable failures.
inline std::string FirstDifference(const Bytes& got, const Bytes& want) {
  if (got.size() != want.size()) {
    return "sizes differ: " + std::to_string(got.size()) + " vs " +
           std::to_string(want.size());
  }
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i] != want[i]) {
      return "byte " + std::to_string(i) + ": " + std::to_string(got[i]) +
             " vs " + std::to_string(want[i]);
    }
  }
  return "equal";
}

#define EXPECT_BYTES(got, want) \
  EXPECT_TRUE((got) == (want)) << ::enginetest::FirstDifference((got), (want))

// A temporary file holding `bytes`, removed on destruction.
class TempFile {
 public:
  explicit TempFile(const Bytes& bytes) {
    char name[] = "/tmp/engine_test_XXXXXX";
    int fd = mkstemp(name);
    path_ = name;
    if (fd >= 0) {
      size_t done = 0;
      while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      close(fd);
    }
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }
  std::u16string wide() const {
    return std::u16string(path_.begin(), path_.end());
  }

 private:
  std::string path_;
};

}  // namespace enginetest
