// A small reader of action descriptors, the keyed structures of fill layer
// blocks: it finds items by key and reads numbers, enumerations, colours,
// lists and nested descriptors, stepping over every other kind of value.
// Nothing outside the block is read; nesting and counts are bounded, and a
// malformed structure simply yields no item.
#pragma once

#include <stdint.h>

namespace engine {

// The items of one descriptor: [items, end) holds `count` items.
struct Descriptor {
  char class_id[4];  // the first 4 characters of its class
  const uint8_t* items;
  const uint8_t* end;
  uint32_t count;
  uint32_t depth;  // nesting below the block's descriptor
};

// One value: its 4-character type and its bytes, which run to `end` at most.
struct DescriptorValue {
  uint32_t type;
  const uint8_t* data;
  const uint8_t* end;
  uint32_t depth;
};

// A descriptor at `p` (its name, class and item count come first).
bool ReadDescriptor(const uint8_t* p, const uint8_t* end, Descriptor* d);

// Whether the descriptor at `p` and everything within it lie before `end`.
bool DescriptorWhole(const uint8_t* p, const uint8_t* end);

// The value of the item whose key is `key` (4 characters, or a longer key
// written out).
bool FindItem(const Descriptor& d, const char* key, DescriptorValue* value);

// Numbers: "doub", "UntF" (the unit is not looked at) and "long", in 16.16
// fixed point, held within +-2^40.
bool ValueFixed(const DescriptorValue& v, int64_t* fixed);
bool ItemFixed(const Descriptor& d, const char* key, int64_t* fixed);

// An enumeration's value ("enum"): its first 4 characters.
bool ItemEnum(const Descriptor& d, const char* key, char* value4);
// Whether the enumeration's value is `value` in full ("linearBurn").
bool ItemEnumIs(const Descriptor& d, const char* key, const char* value);
bool ItemBool(const Descriptor& d, const char* key, bool* value);
// A string ("TEXT") as ASCII (other characters as '?'), up to its first
// NUL and at most `room` characters; returns how many (0: none).
uint32_t ItemText(const Descriptor& d, const char* key, char* text,
                  uint32_t room);

// A nested descriptor ("Objc" or "GlbO").
bool ValueDescriptor(const DescriptorValue& v, Descriptor* d);
bool ItemDescriptor(const Descriptor& d, const char* key, Descriptor* inner);

// A list ("VlLs"): its elements one after another.
struct DescriptorList {
  const uint8_t* next;
  const uint8_t* end;
  uint32_t left;
  uint32_t depth;
};
bool ItemList(const Descriptor& d, const char* key, DescriptorList* list);
bool NextElement(DescriptorList* list, DescriptorValue* value);

}  // namespace engine
