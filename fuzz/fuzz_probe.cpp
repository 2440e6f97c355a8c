// The identity and probe exports with hostile arguments: GetPluginInfo and
// GetPluginInfoW with any index and buffer length (buffers allocated to
// exactly that length), IsSupported and IsSupportedW with a memory head of
// at least 12 bytes and a file name taken from the input, and with a file
// handle on a file holding the input.
//
// Input: byte 0 selects the index, byte 1 the buffer length, byte 2 how
// many of the following bytes form the head (12 or more); the rest is the
// file name.
#include <fcntl.h>

#include <string>

#include "common/identity.h"
#include "fuzz/fuzz_support.h"

using namespace fuzzcheck;

namespace {

const char* const kStrings[6] = {PLUGIN_INTERFACE_CODE,
                                 "PSD Plug-in Version 1.5+1",
                                 "*.PSD",
                                 "PSD",
                                 "*.PSB",
                                 "PSB"};

// "8BPS", version 1 or 2, six zero bytes.
bool Signed(const uint8_t* head) {
  const uint8_t v1[12] = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
  const uint8_t v2[12] = {'8', 'B', 'P', 'S', 0, 2, 0, 0, 0, 0, 0, 0};
  return memcmp(head, v1, 12) == 0 || memcmp(head, v2, 12) == 0;
}

std::string g_head_file;

bool EndsInPsdOrPsb(const std::u16string& name) {
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos) return false;
  std::u16string ext = name.substr(dot);
  if (ext.size() != 4) return false;
  for (char16_t& c : ext) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return ext == u".psd" || ext == u".psb";
}

void CheckInfo(int32_t index, int32_t length) {
  // Narrow: exactly `length` bytes of room.
  std::vector<char> narrow(length > 0 ? length : 1, '\x7f');
  const int32_t n =
      GetPluginInfo(index, length > 0 ? narrow.data() : nullptr, length);
  if (length < 1) {
    Require(n == 0, "GetPluginInfo without room", n);
  } else {
    Require(n >= 0 && n < length, "GetPluginInfo length", n, length);
    Require(narrow[n] == 0, "GetPluginInfo terminator", n);
    const char* want = index >= 0 && index < 6 ? kStrings[index] : "";
    // Index 1 continues with the maker's notice.
    const size_t known = strlen(want);
    const size_t compared = static_cast<size_t>(n) < known ? n : known;
    Require(memcmp(narrow.data(), want, compared) == 0, "identity text", index);
    if (index != 1) {
      Require(static_cast<size_t>(n) == (known < static_cast<size_t>(length - 1)
                                             ? known
                                             : static_cast<size_t>(length - 1)),
              "identity length", n, index);
    }
  }
  // Wide: `length` characters of room.
  std::vector<WCHAR> wide(length > 0 ? length : 1, 0x7f7f);
  const int32_t w =
      GetPluginInfoW(index, length > 0 ? wide.data() : nullptr, length);
  if (length < 1) {
    Require(w == 0, "GetPluginInfoW without room", w);
    return;
  }
  Require(w >= 0 && w < length && wide[w] == 0, "GetPluginInfoW length", w,
          length);
  for (int32_t i = 0; i < w; ++i) {
    Require(wide[i] == static_cast<uint8_t>(narrow[i]),
            "wide and narrow identity differ", i);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SendLogToNowhere();
  g_head_file = "/dev/shm/fuzz_probe." + std::to_string(getpid());
  atexit([] { unlink(g_head_file.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int32_t index = static_cast<int8_t>(data[0]);
  const int32_t length = static_cast<int8_t>(data[1]);
  CheckInfo(index, length);
  CheckInfo(index, data[1]);

  const size_t head_size = 12 + data[2] % 32;
  if (size < 3 + head_size) return 0;
  // The head, exactly sized: the probe may read its first 12 bytes only.
  std::vector<uint8_t> head(data + 3, data + 3 + head_size);
  const bool signed_head = Signed(head.data());

  // The name, narrow and widened byte by byte (ASCII and Latin-1 agree with
  // the platform's UTF-8 only for ASCII, so other bytes widen to '?').
  std::string narrow(reinterpret_cast<const char*>(data + 3 + head_size),
                     size - 3 - head_size);
  narrow = narrow.substr(0, narrow.find('\0'));
  std::u16string wide;
  for (char c : narrow) {
    wide.push_back(static_cast<unsigned char>(c) < 0x80 ? c : u'?');
  }
  const uintptr_t address = reinterpret_cast<uintptr_t>(head.data());
  const bool by_name = EndsInPsdOrPsb(wide);

  const int32_t w = IsSupportedW(wide.c_str(), address);
  Require(w == (signed_head || by_name ? 1 : 0), "IsSupportedW", w);
  Require(IsSupportedW(nullptr, address) == (signed_head ? 1 : 0),
          "IsSupportedW without a name");
  const int32_t a = IsSupported(narrow.c_str(), address);
  Require(a == (signed_head || by_name ? 1 : 0), "IsSupported", a);
  RequireNothingLive();

  // The same head through a file handle: at most 2048 bytes are read; a
  // file shorter than 12 bytes never matches.
  const int fd = open(g_head_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  Require(fd >= 0, "cannot write the head file");
  const size_t stored = data[2] & 0x80 ? data[2] % 12 : head_size;
  Require(write(fd, head.data(), stored) == static_cast<ssize_t>(stored),
          "short write");
  close(fd);
  HANDLE file =
      CreateFileA(g_head_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  Require(file != INVALID_HANDLE_VALUE, "cannot open the head file");
  const uintptr_t handle = reinterpret_cast<uintptr_t>(file);
  Require(handle < 0x10000, "handle looks like an address");
  const int32_t h = IsSupportedW(nullptr, handle);
  Require(h == (signed_head && stored >= 12 ? 1 : 0), "IsSupportedW by handle",
          h);
  CloseHandle(file);
  RequireNothingLive();
  return 0;
}
