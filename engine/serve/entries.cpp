#include "engine/serve/entries.h"

namespace engine {
namespace {

const char kCompound[] = "compound.bmp";

}  // namespace

void EntryNameA(uint32_t entry, bool has_pixels, char* name) {
  if (entry == 0) {
    wsprintfA(name, "%s", kCompound);
  } else {
    wsprintfA(name, has_pixels ? "layer%04d.bmp" : "layer%04d.dat", entry);
  }
}

void EntryNameW(uint32_t entry, bool has_pixels, WCHAR* name) {
  char narrow[kEntryNameRoom];
  EntryNameA(entry, has_pixels, narrow);
  uint32_t i = 0;
  for (; narrow[i] != 0; ++i) name[i] = static_cast<WCHAR>(narrow[i]);
  name[i] = 0;
}

bool EntryFromName(const char* name, uint32_t* entry) {
  uint32_t i = 0;
  while (kCompound[i] != 0 && name[i] == kCompound[i]) ++i;
  if (kCompound[i] == 0 && name[i] == 0) {
    *entry = 0;
    return true;
  }
  if (name[0] != 'l') return false;
  for (i = 1; i < 5; ++i) {
    if (name[i] == 0) return false;
  }
  if (name[5] < '0' || name[5] > '9') return false;
  // Decimal digits up to the first other character, saturating like a
  // 32-bit strtol.
  uint32_t value = 0;
  for (const char* p = name + 5; *p >= '0' && *p <= '9'; ++p) {
    const uint32_t digit = static_cast<uint32_t>(*p - '0');
    value =
        value > (0x7FFFFFFFu - digit) / 10 ? 0x7FFFFFFFu : value * 10 + digit;
  }
  *entry = value;
  return true;
}

}  // namespace engine
