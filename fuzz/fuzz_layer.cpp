// One entry of a document extracted through layerpack's GetFile, as a BMP
// memory block (output mode 0x100) and as a file in a directory (output
// mode 0). GetFile takes only file names, so each input is written to a
// file in /dev/shm first; the same entry is also decoded from an exactly
// sized memory image through DecodePictureW with the request GetFile makes.
// A document read from a file has zero bytes after it and a memory image
// has none, so the two must agree byte for byte: a difference means the
// engine read past the end of the document.
//
// Input: the first byte selects the entry (0 to 7), the rest is the
// document.
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "engine/serve/plugin_abi.h"
#include "fuzz/fuzz_support.h"

using namespace fuzzcheck;

namespace {

std::string g_document;   // input file
std::string g_directory;  // output directory

int g_progress_calls;
int32_t g_progress_last;

int32_t WINAPI CountProgress(int32_t numerator, int32_t denominator,
                             intptr_t user_data) {
  Require(user_data == 0x5eed, "callback data", user_data);
  Require(denominator == 100, "progress denominator", denominator);
  ++g_progress_calls;
  g_progress_last = numerator;
  return 1;  // asks to stop; extraction must not care
}

void WriteInput(const uint8_t* data, size_t size) {
  const int fd = open(g_document.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  Require(fd >= 0, "cannot write the input file");
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    Require(n > 0, "short write of the input file");
    done += static_cast<size_t>(n);
  }
  close(fd);
}

std::vector<uint8_t> ReadBack(const std::string& path, bool* found) {
  std::vector<uint8_t> bytes;
  const int fd = open(path.c_str(), O_RDONLY);
  *found = fd >= 0;
  if (fd < 0) return bytes;
  uint8_t chunk[65536];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  close(fd);
  unlink(path.c_str());
  return bytes;
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void RemoveFiles() {
  unlink(g_document.c_str());
  rmdir(g_directory.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SendLogToNowhere();
  atexit(RemoveFiles);
  const std::string stem = "/dev/shm/fuzz_layer." + std::to_string(getpid());
  g_document = stem + ".psd";
  g_directory = stem + ".out";
  mkdir(g_directory.c_str(), 0700);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t entry = data[0] % 8;
  const std::vector<uint8_t> tamed = Tamed(data + 1, size - 1);
  const uint8_t* document = tamed.data();
  const size_t length = size - 1;

  // The entry from an exactly sized memory image, as GetFile asks for it.
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  DecodeRequest request =
      MemoryRequest(document, length, entry, &header, &pixels);
  request.image_size = 0xA5A5A5A5u;
  const int32_t result = DecodePictureW(&request);
  Require(result == 0 || result == 3 || result == 4, "decode result", result);
  std::vector<uint8_t> expected;  // the BMP GetFile should produce
  if (result == 0) {
    RequireHeld(2);
    if (request.image_size != 0xA5A5A5A5u) {
      Require(entry > 0, "image_size written for the merged picture");
      Require(request.image_size == LocalSize(pixels), "layer image_size",
              request.image_size, static_cast<long long>(LocalSize(pixels)));
      CheckLayerPicture(header, pixels);
    } else {
      CheckMergedPicture(header, pixels, document, length);
    }
    const size_t h = LocalSize(header);
    const size_t b = LocalSize(pixels);
    if (b > 0) {
      const uint32_t total = static_cast<uint32_t>(14 + h + b);
      const uint32_t offset = static_cast<uint32_t>(14 + h);
      const uint8_t file_header[14] = {'B',
                                       'M',
                                       uint8_t(total),
                                       uint8_t(total >> 8),
                                       uint8_t(total >> 16),
                                       uint8_t(total >> 24),
                                       0,
                                       0,
                                       0,
                                       0,
                                       uint8_t(offset),
                                       uint8_t(offset >> 8),
                                       uint8_t(offset >> 16),
                                       uint8_t(offset >> 24)};
      expected.assign(file_header, file_header + 14);
      const uint8_t* hp = static_cast<const uint8_t*>(LocalLock(header));
      expected.insert(expected.end(), hp, hp + h);
      const uint8_t* pp = static_cast<const uint8_t*>(LocalLock(pixels));
      expected.insert(expected.end(), pp, pp + b);
      LocalUnlock(pixels);
      LocalUnlock(header);
    }
  } else if (result == 4) {
    Require(pixels == nullptr, "pixel block on 4");
  } else {
    Require(header == nullptr && pixels == nullptr, "slots written on 3");
  }
  LocalFree(header);
  LocalFree(pixels);
  RequireNothingLive();

  // The same entry through GetFile, into a memory block.
  WriteInput(document, length);
  HLOCAL bmp = nullptr;
  g_progress_calls = 0;
  const int32_t got =
      GetFile(g_document.c_str(), entry, reinterpret_cast<LPSTR>(&bmp),
              kOutputMemory, CountProgress, 0x5eed);
  Require(got == result, "GetFile and the memory request differ", got, result);
  if (got == 0) {
    RequireHeld(1);
    Require(g_progress_calls == 2 && g_progress_last == 50, "GetFile progress",
            g_progress_calls, g_progress_last);
    Require(bmp != nullptr, "no BMP block");
    const size_t n = LocalSize(bmp);
    const uint8_t* p = static_cast<const uint8_t*>(LocalLock(bmp));
    TouchBytes(p, n);
    Require(n == expected.size(), "BMP size", static_cast<long long>(n),
            static_cast<long long>(expected.size()));
    if (n > 0) {
      Require(Le32(p + 2) == n, "bfSize", Le32(p + 2),
              static_cast<long long>(n));
      Require(memcmp(p, expected.data(), n) == 0,
              "file and memory decodes differ");
    }
    LocalUnlock(bmp);
    LocalFree(bmp);
  } else {
    Require(g_progress_calls == 1 && g_progress_last == 0,
            "GetFile progress on failure", g_progress_calls);
    Require(bmp == nullptr, "BMP block on failure");
  }
  RequireNothingLive();

  // And into a directory.
  const int32_t to_file =
      GetFile(g_document.c_str(), entry, const_cast<LPSTR>(g_directory.c_str()),
              kOutputFile, nullptr, 0);
  Require(to_file == result, "GetFile to a directory differs", to_file, result);
  RequireNothingLive();
  if (to_file == 0) {
    char name[32];
    if (entry == 0) {
      snprintf(name, sizeof name, "compound.bmp");
    } else {
      snprintf(name, sizeof name,
               expected.empty() ? "layer%04u.dat" : "layer%04u.bmp", entry);
    }
    bool found = false;
    const std::vector<uint8_t> written =
        ReadBack(g_directory + "/" + name, &found);
    Require(found, "output file missing");
    Require(written == expected, "written file differs",
            static_cast<long long>(written.size()),
            static_cast<long long>(expected.size()));
  }
  return 0;
}
