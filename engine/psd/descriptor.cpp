// Action descriptors: a Unicode name (4-byte count of UTF-16 units and the
// units), a class identifier, a 4-byte item count and the items. A key or
// identifier is a 4-byte length and that many characters, or with a length
// of 0 four characters. Each item is a key, a 4-character type and a value
// whose layout the type gives.
#include "engine/psd/descriptor.h"

#include <string.h>

#include "engine/base/bytes.h"
#include "engine/base/numbers.h"

namespace engine {

namespace {

const uint32_t kMaxDepth = 16;

constexpr uint32_t Type(const char* t) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(t[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(t[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(t[2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(t[3]));
}

// Steps over `n` bytes; null when they are not there.
const uint8_t* Skip(const uint8_t* p, const uint8_t* end, uint64_t n) {
  return p != nullptr && BytesLeft(p, end) >= n ? p + n : nullptr;
}

// A 4-byte length and that many bytes, times `unit`.
const uint8_t* SkipCounted(const uint8_t* p, const uint8_t* end,
                           uint32_t unit) {
  if (p == nullptr || BytesLeft(p, end) < 4) return nullptr;
  return Skip(p + 4, end, static_cast<uint64_t>(ReadU32(p)) * unit);
}

const uint8_t* SkipUnicode(const uint8_t* p, const uint8_t* end) {
  return SkipCounted(p, end, 2);
}

// A key or class identifier; `text` (4 characters) receives its start.
const uint8_t* ReadKey(const uint8_t* p, const uint8_t* end, char* text) {
  if (p == nullptr || BytesLeft(p, end) < 4) return nullptr;
  const uint32_t length = ReadU32(p);
  const uint64_t n = length == 0 ? 4 : length;
  const uint8_t* next = Skip(p + 4, end, n);
  if (next != nullptr && text != nullptr) {
    memset(text, ' ', 4);
    memcpy(text, p + 4, n < 4 ? n : 4);
  }
  return next;
}

bool KeyMatches(const uint8_t* p, const uint8_t* end, const char* key) {
  const uint32_t length = ReadU32(p);
  const uint64_t n = length == 0 ? 4 : length;
  return strlen(key) == n && BytesLeft(p + 4, end) >= n &&
         memcmp(p + 4, key, n) == 0;
}

const uint8_t* SkipValue(uint32_t type, const uint8_t* p, const uint8_t* end,
                         uint32_t depth);

// A descriptor's body from its name on.
const uint8_t* SkipDescriptor(const uint8_t* p, const uint8_t* end,
                              uint32_t depth) {
  Descriptor d;
  if (depth > kMaxDepth || !ReadDescriptor(p, end, &d)) return nullptr;
  p = d.items;
  for (uint32_t i = 0; i < d.count && p != nullptr; ++i) {
    p = ReadKey(p, end, nullptr);
    if (p == nullptr || BytesLeft(p, end) < 4) return nullptr;
    p = SkipValue(ReadU32(p), p + 4, end, depth + 1);
  }
  return p;
}

// One element of a reference ("obj ").
const uint8_t* SkipReferenceItem(uint32_t type, const uint8_t* p,
                                 const uint8_t* end) {
  switch (type) {
    case Type("prop"):
      return ReadKey(ReadKey(SkipUnicode(p, end), end, nullptr), end, nullptr);
    case Type("Clss"):
      return ReadKey(SkipUnicode(p, end), end, nullptr);
    case Type("Enmr"):
      return ReadKey(
          ReadKey(ReadKey(SkipUnicode(p, end), end, nullptr), end, nullptr),
          end, nullptr);
    case Type("rele"):
      return Skip(ReadKey(SkipUnicode(p, end), end, nullptr), end, 4);
    case Type("Idnt"):
    case Type("indx"):
      return Skip(p, end, 4);
    case Type("name"):
      return SkipUnicode(ReadKey(SkipUnicode(p, end), end, nullptr), end);
    default:
      return nullptr;
  }
}

// A count and that many typed elements (lists and references).
const uint8_t* SkipElements(const uint8_t* p, const uint8_t* end,
                            uint32_t depth, bool reference) {
  if (depth > kMaxDepth || BytesLeft(p, end) < 4) return nullptr;
  const uint32_t count = ReadU32(p);
  p += 4;
  for (uint32_t i = 0; i < count && p != nullptr; ++i) {
    if (BytesLeft(p, end) < 4) return nullptr;
    const uint32_t type = ReadU32(p);
    p = reference ? SkipReferenceItem(type, p + 4, end)
                  : SkipValue(type, p + 4, end, depth + 1);
  }
  return p;
}

const uint8_t* SkipValue(uint32_t type, const uint8_t* p, const uint8_t* end,
                         uint32_t depth) {
  switch (type) {
    case Type("obj "):
      return SkipElements(p, end, depth, true);
    case Type("Objc"):
    case Type("GlbO"):
      return SkipDescriptor(p, end, depth);
    case Type("VlLs"):
      return SkipElements(p, end, depth, false);
    case Type("doub"):
    case Type("comp"):
      return Skip(p, end, 8);
    case Type("UntF"):
      return Skip(p, end, 12);
    case Type("UnFl"):
      return BytesLeft(p, end) >= 8 ? SkipCounted(p + 4, end, 8) : nullptr;
    case Type("TEXT"):
      return SkipUnicode(p, end);
    case Type("enum"):
      return ReadKey(ReadKey(p, end, nullptr), end, nullptr);
    case Type("long"):
      return Skip(p, end, 4);
    case Type("bool"):
      return Skip(p, end, 1);
    case Type("type"):
    case Type("GlbC"):
      return ReadKey(SkipUnicode(p, end), end, nullptr);
    case Type("alis"):
    case Type("tdta"):
    case Type("Pth "):
      return SkipCounted(p, end, 1);
    case Type("ObAr"):
      return BytesLeft(p, end) >= 4 ? SkipDescriptor(p + 4, end, depth)
                                    : nullptr;
    default:
      return nullptr;  // unknown: the rest cannot be found
  }
}

}  // namespace

bool ReadDescriptor(const uint8_t* p, const uint8_t* end, Descriptor* d) {
  memset(d, 0, sizeof(*d));
  p = ReadKey(SkipUnicode(p, end), end, d->class_id);
  if (p == nullptr || BytesLeft(p, end) < 4) return false;
  d->count = ReadU32(p);
  d->items = p + 4;
  d->end = end;
  return true;
}

bool DescriptorWhole(const uint8_t* p, const uint8_t* end) {
  return SkipDescriptor(p, end, 0) != nullptr;
}

bool FindItem(const Descriptor& d, const char* key, DescriptorValue* value) {
  const uint8_t* p = d.items;
  for (uint32_t i = 0; i < d.count && p != nullptr; ++i) {
    if (BytesLeft(p, d.end) < 4) return false;
    const bool match = KeyMatches(p, d.end, key);
    p = ReadKey(p, d.end, nullptr);
    if (p == nullptr || BytesLeft(p, d.end) < 4) return false;
    const uint32_t type = ReadU32(p);
    if (match) {
      *value = DescriptorValue{type, p + 4, d.end, d.depth};
      return true;
    }
    p = SkipValue(type, p + 4, d.end, d.depth + 1);
  }
  return false;
}

bool ValueFixed(const DescriptorValue& v, int64_t* fixed) {
  int64_t value;
  const uint32_t skip = v.type == Type("UntF") ? 4 : 0;
  if (v.type == Type("long") && BytesLeft(v.data, v.end) >= 4) {
    value = static_cast<int64_t>(static_cast<int32_t>(ReadU32(v.data))) * 65536;
  } else if ((v.type == Type("doub") || v.type == Type("UntF")) &&
             BytesLeft(v.data, v.end) >= skip + 8) {
    value = FixedFromDouble(ReadDoubleBits(v.data + skip), 16);
  } else {
    return false;
  }
  // Numbers beyond +-2^24 mean nothing to a fill; held there, their
  // products with small factors stay within 64 bits.
  const int64_t limit = int64_t{1} << 40;
  *fixed = value < -limit ? -limit : value > limit ? limit : value;
  return true;
}

bool ItemFixed(const Descriptor& d, const char* key, int64_t* fixed) {
  DescriptorValue v;
  return FindItem(d, key, &v) && ValueFixed(v, fixed);
}

// The value under `key` when it has the type `type` and `bytes` at least.
bool FindTyped(const Descriptor& d, const char* key, const char* type,
               uint32_t bytes, DescriptorValue* v) {
  return FindItem(d, key, v) && v->type == Type(type) &&
         BytesLeft(v->data, v->end) >= bytes;
}

bool ItemEnum(const Descriptor& d, const char* key, char* value4) {
  DescriptorValue v;
  return FindTyped(d, key, "enum", 0, &v) &&
         ReadKey(ReadKey(v.data, v.end, nullptr), v.end, value4) != nullptr;
}

bool ItemEnumIs(const Descriptor& d, const char* key, const char* value) {
  DescriptorValue v;
  if (!FindTyped(d, key, "enum", 0, &v)) return false;
  const uint8_t* p = ReadKey(v.data, v.end, nullptr);
  return p != nullptr && BytesLeft(p, v.end) >= 4 &&
         KeyMatches(p, v.end, value);
}

uint32_t ItemText(const Descriptor& d, const char* key, char* text,
                  uint32_t room) {
  DescriptorValue v;
  if (!FindTyped(d, key, "TEXT", 4, &v)) return 0;
  const uint32_t units = ReadU32(v.data);
  if (BytesLeft(v.data + 4, v.end) < 2ull * units) return 0;
  uint32_t n = 0;
  for (uint32_t i = 0; i < units && n < room; ++i) {
    const uint16_t unit = ReadU16(v.data + 4 + 2 * i);
    if (unit == 0) break;
    text[n++] = static_cast<char>(unit < 128 ? unit : '?');
  }
  return n;
}

bool ItemBool(const Descriptor& d, const char* key, bool* value) {
  DescriptorValue v;
  if (!FindTyped(d, key, "bool", 1, &v)) return false;
  *value = v.data[0] != 0;
  return true;
}

bool ValueDescriptor(const DescriptorValue& v, Descriptor* d) {
  if ((v.type != Type("Objc") && v.type != Type("GlbO")) ||
      v.depth >= kMaxDepth || !ReadDescriptor(v.data, v.end, d)) {
    return false;
  }
  d->depth = v.depth + 1;
  return true;
}

bool ItemDescriptor(const Descriptor& d, const char* key, Descriptor* inner) {
  DescriptorValue v;
  return FindItem(d, key, &v) && ValueDescriptor(v, inner);
}

bool ItemList(const Descriptor& d, const char* key, DescriptorList* list) {
  DescriptorValue v;
  if (!FindTyped(d, key, "VlLs", 4, &v) || v.depth >= kMaxDepth) return false;
  *list = DescriptorList{v.data + 4, v.end, ReadU32(v.data), v.depth + 1};
  return true;
}

bool NextElement(DescriptorList* list, DescriptorValue* value) {
  if (list->left == 0 || list->next == nullptr ||
      BytesLeft(list->next, list->end) < 4) {
    return false;
  }
  const uint32_t type = ReadU32(list->next);
  *value = DescriptorValue{type, list->next + 4, list->end, list->depth};
  list->next = SkipValue(type, list->next + 4, list->end, list->depth);
  --list->left;
  return true;
}

}  // namespace engine
