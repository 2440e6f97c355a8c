// Colour tables kept between requests: a viewer shows many documents with
// the same profile, and CMYK tables take milliseconds to make. Entries are
// found by a hash of the profile's bytes, its length, the colour mode and
// whether the tables are a 16-bit document's;
// they are bounded in number and bytes, and an entry is dropped (oldest
// first) only while no request uses it. A short lock guards the table;
// tables are made outside it.
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/base/memory.h"
#include "engine/channels/colour.h"

namespace engine {
namespace {

struct KeptEntry {
  bool used;  // false: a free slot
  uint64_t hash;
  uint32_t length;
  uint16_t mode;
  bool wide;
  uint64_t last_use;
  ColourTables* tables;  // null when the profile is not used ...
  int32_t unused;        // ... and why
};

const uint32_t kSlots = 8;
static_assert(kSlots >= kLimits.max_kept_conversions, "slots for the limit");

KeptEntry kept[kSlots];
uint64_t kept_bytes = 0;
uint64_t use_clock = 0;
int kept_lock = 0;

void Lock() {
  while (__atomic_exchange_n(&kept_lock, 1, __ATOMIC_ACQUIRE) != 0) {
    while (__atomic_load_n(&kept_lock, __ATOMIC_RELAXED) != 0) {
#if defined(__i386__) || defined(__x86_64__)
      __builtin_ia32_pause();
#endif
    }
  }
}

void Unlock() { __atomic_store_n(&kept_lock, 0, __ATOMIC_RELEASE); }

// 64-bit FNV-1a.
uint64_t HashBytes(const uint8_t* bytes, uint64_t length) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint64_t i = 0; i < length; ++i) {
    h = (h ^ bytes[i]) * 0x100000001b3ull;
  }
  return h;
}

// Under the lock: the entry for the key, its use counted, or null.
KeptEntry* FindKept(uint64_t hash, uint32_t length, uint16_t mode, bool wide) {
  for (KeptEntry& e : kept) {
    if (e.used && e.hash == hash && e.length == length && e.mode == mode &&
        e.wide == wide) {
      e.last_use = ++use_clock;
      if (e.tables != nullptr) ++e.tables->users;
      return &e;
    }
  }
  return nullptr;
}

void FreeEntry(KeptEntry* e) {
  if (e->tables != nullptr) {
    kept_bytes -= e->tables->bytes;
    ReleaseColourTables(e->tables);
  }
  e->tables = nullptr;
  e->used = false;
}

// Under the lock: frees entries no request uses, oldest first, until
// `bytes` more fit; returns a free slot, or null when none can be made.
KeptEntry* MakeRoom(uint64_t bytes) {
  for (;;) {
    KeptEntry* free_slot = nullptr;
    KeptEntry* oldest = nullptr;
    uint32_t count = 0;
    for (KeptEntry& e : kept) {
      if (!e.used) {
        if (free_slot == nullptr) free_slot = &e;
        continue;
      }
      ++count;
      const bool idle = e.tables == nullptr || e.tables->users == 0;
      if (idle && (oldest == nullptr || e.last_use < oldest->last_use)) {
        oldest = &e;
      }
    }
    const bool fits = count < kLimits.max_kept_conversions &&
                      kept_bytes + bytes <= kLimits.max_kept_conversion_bytes;
    if (fits && free_slot != nullptr) return free_slot;
    if (oldest == nullptr) return nullptr;
    FreeEntry(oldest);
  }
}

// Keeps what a build made (tables, or why there are none), or takes what
// another request kept for the same profile meanwhile; tables that cannot
// be kept stay the request's own.
const ColourTables* Keep(ColourTables* made, int32_t* unused, uint64_t hash,
                         uint32_t length, uint16_t mode, bool wide) {
  Lock();
  KeptEntry* found = FindKept(hash, length, mode, wide);
  if (found != nullptr) {
    ColourTables* tables = found->tables;
    *unused = found->unused;
    Unlock();
    ReleaseColourTables(made);
    return tables;
  }
  const uint64_t bytes = made != nullptr ? made->bytes : 0;
  KeptEntry* slot =
      bytes <= kLimits.max_kept_conversion_bytes ? MakeRoom(bytes) : nullptr;
  if (slot != nullptr) {
    if (made != nullptr) {
      made->kept = true;
      made->users = 1;
    }
    slot->used = true;
    slot->hash = hash;
    slot->length = length;
    slot->mode = mode;
    slot->wide = wide;
    slot->last_use = ++use_clock;
    slot->tables = made;
    slot->unused = *unused;
    kept_bytes += bytes;
  }
  Unlock();
  return made;
}

// Modes and depths whose samples a profile converts.
bool Convertible(const Document* doc) {
  const uint16_t mode = doc->color_mode;
  const bool colour = mode == kModeGrayscale || mode == kModeIndexed ||
                      mode == kModeRgb || mode == kModeCmyk;
  return colour && (doc->depth == 8 || doc->depth == 16);
}

}  // namespace

Status OpenColourConversion(const Document* doc, const ColourTables** tables) {
  *tables = nullptr;
  if (doc->profile_length == 0 || !Convertible(doc)) return kDone;
  const uint32_t length = doc->profile_length;
  int32_t unused = kProfileTooLarge;
  if (length <= kLimits.max_profile_bytes) {
    Span profile;
    const Status read =
        ReadSpan(doc->source, doc->profile_at, length, &profile);
    if (read != kDone) return read;
    const uint64_t hash = HashBytes(profile.data, length);
    // 16-bit samples of gray, RGB and CMYK documents (an indexed document's
    // palette is 8-bit whatever its header says).
    const bool wide = doc->depth == 16 && doc->color_mode != kModeIndexed;
    Lock();
    const KeptEntry* found = FindKept(hash, length, doc->color_mode, wide);
    if (found != nullptr) {
      *tables = found->tables;
      unused = found->unused;
    }
    Unlock();
    Status built = kDone;
    if (found == nullptr) {
      ColourTables* made = nullptr;
      built = BuildColourTables(profile.data, length, doc->color_mode, wide,
                                &made, &unused);
      if (built == kDone) {
        *tables = Keep(made, &unused, hash, length, doc->color_mode, wide);
      }
    }
    ReleaseSpan(&profile);
    if (built != kDone) return built;
  }
  if (*tables != nullptr) {
    LogLine(doc->log, logtext::kProfileConverted, length);
  } else {
    LogLine(doc->log, logtext::kProfileUnused, length, unused);
  }
  return kDone;
}

void CloseColourConversion(const ColourTables* tables) {
  if (tables == nullptr) return;
  ColourTables* t = const_cast<ColourTables*>(tables);
  if (!t->kept) {
    ReleaseColourTables(t);
    return;
  }
  Lock();
  --t->users;
  Unlock();
}

void ReleaseKeptConversions() {
  Lock();
  for (KeptEntry& e : kept) FreeEntry(&e);
  kept_bytes = 0;
  Unlock();
  ReleaseKeptHeap();
}

}  // namespace engine
