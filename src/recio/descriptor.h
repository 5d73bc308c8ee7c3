// Item descriptors and the argument list of an I/O statement.
//
// A descriptor is a byte string of two-byte entries, one per item: byte 0 the
// type code, byte 1 the passing mode. Type code 1 ends the statement after the
// current call, 2 says more calls follow. The arguments travel as a span of
// IoArg words instead of C varargs: each entry consumes the words its passing
// mode names (for a text: the length, then the address).
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace recio {

// Type codes of the item descriptor (byte 0 of an entry).
enum TypeCode : std::uint8_t {
  kTypeEnd = 0x01,   // end of statement after this call
  kTypeMore = 0x02,  // more calls follow
  kTypeLogical1 = 0x03,
  kTypeLogical2 = 0x04,
  kTypeLogical4 = 0x05,
  kTypeLogical8 = 0x06,
  kTypeInt1 = 0x07,
  kTypeInt2 = 0x08,
  kTypeInt4 = 0x09,
  kTypeInt8 = 0x0A,
  kTypeReal4 = 0x1A,
  kTypeReal8 = 0x30,
  kTypeChar = 0x38,
};

// Passing modes (byte 1 of an entry).
enum PassMode : std::uint8_t {
  kPassNone = 0x00,      // terminator entries
  kPassValue = 0x01,     // the value itself
  kPassAddress = 0x03,   // the address of the variable
  kPassLenAddr = 0x04,   // a length (bytes), then the address: texts
  kPassSizeAddr = 0x05,  // an element size (bytes), then the address
};

// One item entry: what the item is and how its argument words pass it.
struct ItemEntry {
  TypeCode type;
  PassMode mode;
};

// The entries the program's statements are made of.
inline constexpr ItemEntry kTextItem{kTypeChar, kPassLenAddr};        // length, address
inline constexpr ItemEntry kInt4Variable{kTypeInt4, kPassAddress};    // address
inline constexpr ItemEntry kInt4Value{kTypeInt4, kPassValue};         // the value
inline constexpr ItemEntry kReal4Variable{kTypeReal4, kPassAddress};  // address
inline constexpr ItemEntry kReal4Element{kTypeReal4, kPassSizeAddr};  // size, address
inline constexpr ItemEntry kByteVariable{kTypeInt1, kPassAddress};    // address

// How the call that reaches the end of a descriptor leaves the statement.
enum class Terminator : std::uint8_t { kEnd = kTypeEnd, kMore = kTypeMore };

// Item descriptor: the entries in order, then the terminator entry. A
// compile-time byte array, so a statement sees the same constant as if the
// bytes were spelled out.
template <std::size_t N>
constexpr std::array<std::uint8_t, 2 * N + 2> item_descriptor(const ItemEntry (&entries)[N],
                                                              Terminator end) {
  std::array<std::uint8_t, 2 * N + 2> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    bytes[2 * i] = entries[i].type;
    bytes[2 * i + 1] = entries[i].mode;
  }
  bytes[2 * N] = static_cast<std::uint8_t>(end);
  bytes[2 * N + 1] = kPassNone;
  return bytes;
}
// A descriptor of the terminator alone: a call that moves no item.
constexpr std::array<std::uint8_t, 2> item_descriptor(Terminator end) {
  return {static_cast<std::uint8_t>(end), kPassNone};
}

// One entry of an OPEN or CLOSE descriptor: the item that carries the
// keyword's value and the keyword code (a four-byte entry).
struct KeywordEntry {
  ItemEntry item;
  std::uint8_t keyword;
};

// OPEN/CLOSE descriptor: the keyword entries in order, then the end entry.
template <std::size_t N>
constexpr std::array<std::uint8_t, 4 * N + 2> keyword_descriptor(const KeywordEntry (&entries)[N]) {
  std::array<std::uint8_t, 4 * N + 2> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    bytes[4 * i] = entries[i].item.type;
    bytes[4 * i + 1] = entries[i].item.mode;
    bytes[4 * i + 2] = entries[i].keyword;
    bytes[4 * i + 3] = 0;
  }
  bytes[4 * N] = kTypeEnd;
  bytes[4 * N + 1] = kPassNone;
  return bytes;
}
// A descriptor without keywords.
constexpr std::array<std::uint8_t, 2> keyword_descriptor() {
  return {kTypeEnd, kPassNone};
}

// One argument word: an address or an integer value, as the entry says.
struct IoArg {
  void* addr = nullptr;
  std::int64_t value = 0;

  static IoArg address(void* p) { return IoArg{p, 0}; }
  // Output items are only read through; the cast never leads to a write.
  static IoArg address(const void* p) { return IoArg{const_cast<void*>(p), 0}; }
  static IoArg val(std::int64_t v) { return IoArg{nullptr, v}; }
};

using Descriptor = std::span<const std::uint8_t>;
using IoArgs = std::span<const IoArg>;

// One decoded item.
struct Item {
  std::uint8_t type = 0;    // TypeCode
  std::uint8_t mode = 0;    // PassMode
  void* addr = nullptr;     // the variable (null for by-value items)
  std::int64_t value = 0;   // by-value items
  std::int32_t length = 0;  // byte length of the item (text length, element size)
};

// Byte size of a numeric type code; 0 for text and terminators.
inline constexpr std::array<std::uint8_t, 256> kTypeSizes = [] {
  std::array<std::uint8_t, 256> t{};
  t[kTypeLogical1] = t[kTypeInt1] = 1;
  t[kTypeLogical2] = t[kTypeInt2] = 2;
  t[kTypeLogical4] = t[kTypeInt4] = t[kTypeReal4] = 4;
  t[kTypeLogical8] = t[kTypeInt8] = t[kTypeReal8] = 8;
  return t;
}();
inline std::int32_t type_size(std::uint8_t type) {
  return kTypeSizes[type];
}

// Decodes the arguments of one entry (type, mode) starting at args[*next];
// advances *next. False for an unknown mode or a missing argument.
inline bool decode_item(std::uint8_t type, std::uint8_t mode, IoArgs args, std::size_t* next,
                        Item* item) {
  const std::size_t at = *next;
  item->type = type;
  item->mode = mode;
  item->value = 0;
  item->addr = nullptr;
  switch (mode) {
    case kPassValue:
      if (at >= args.size()) return false;
      item->value = args[at].value;
      item->length = type_size(type);
      *next = at + 1;
      return true;
    case kPassAddress:
      if (at >= args.size() || args[at].addr == nullptr) return false;
      item->addr = args[at].addr;
      item->length = type_size(type);
      *next = at + 1;
      return true;
    case kPassLenAddr:
    case kPassSizeAddr: {
      if (at + 1 >= args.size() || args[at + 1].addr == nullptr) return false;
      const std::int64_t length = args[at].value;
      if (length < 0 || length > INT32_MAX) return false;
      item->length = static_cast<std::int32_t>(length);
      item->addr = args[at + 1].addr;
      *next = at + 2;
      return true;
    }
    default:
      return false;
  }
}

// A decoded item is usable: text, or a known numeric type whose given
// element size matches it.
inline bool item_is_valid(const Item& item) {
  if (item.type == kTypeChar) return true;
  const std::int32_t size = type_size(item.type);
  return size != 0 && (item.mode != kPassSizeAddr || item.length == size);
}

// The integer an item holds: its value, or the variable at its address of 1,
// 2, 4 or 8 bytes. False for another width.
inline bool item_integer(const Item& item, std::int64_t* v) {
  if (item.mode == kPassValue) {
    *v = item.value;
    return true;
  }
  switch (item.length) {
    case 1: {
      std::int8_t x;
      std::memcpy(&x, item.addr, 1);
      *v = x;
      return true;
    }
    case 2: {
      std::int16_t x;
      std::memcpy(&x, item.addr, 2);
      *v = x;
      return true;
    }
    case 4: {
      std::int32_t x;
      std::memcpy(&x, item.addr, 4);
      *v = x;
      return true;
    }
    case 8:
      std::memcpy(v, item.addr, 8);
      return true;
    default:
      return false;
  }
}

// Stores the low bytes of v into an integer variable of 1, 2, 4 or 8 bytes
// (any other width is taken as 8).
inline void store_integer(void* addr, std::int32_t width, std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  switch (width) {
    case 1: {
      const auto x = static_cast<std::uint8_t>(u);
      std::memcpy(addr, &x, 1);
      break;
    }
    case 2: {
      const auto x = static_cast<std::uint16_t>(u);
      std::memcpy(addr, &x, 2);
      break;
    }
    case 4: {
      const auto x = static_cast<std::uint32_t>(u);
      std::memcpy(addr, &x, 4);
      break;
    }
    default:
      std::memcpy(addr, &u, 8);
      break;
  }
}

// The call of a value moved in a loop (an array element): one numeric entry
// passed as size and address, more calls to follow. Fills *item as the
// cursor would; false for any other call, which the cursor then walks.
inline bool element_call(Descriptor desc, IoArgs args, Item* item) {
  if (desc.size() != 4 || desc[1] != kPassSizeAddr || desc[2] != kTypeMore || args.size() != 2)
    return false;
  const std::int32_t size = type_size(desc[0]);
  if (size == 0 || args[0].value != size || args[1].addr == nullptr) return false;
  item->type = desc[0];
  item->mode = kPassSizeAddr;
  item->addr = args[1].addr;
  item->value = 0;
  item->length = size;
  return true;
}

// A call that moves nothing and ends the statement.
inline bool end_call(Descriptor desc) {
  return desc.size() >= 2 && desc[0] == kTypeEnd;
}

// Walks a descriptor and its arguments entry by entry.
class ItemCursor {
 public:
  ItemCursor(Descriptor desc, IoArgs args) : desc_(desc), args_(args) {}

  enum class Step { kItem, kMore, kEnd, kBad };
  // Decodes the next entry. kItem fills *item; kMore/kEnd are terminators;
  // kBad is a malformed entry or missing argument (internal argument error).
  Step next(Item* item) {
    if (pos_ + 1 >= desc_.size()) return Step::kBad;
    const std::uint8_t type = desc_[pos_];
    const std::uint8_t mode = desc_[pos_ + 1];
    pos_ += 2;
    if (type == kTypeEnd) return Step::kEnd;
    if (type == kTypeMore) return Step::kMore;
    if (!decode_item(type, mode, args_, &arg_, item) || !item_is_valid(*item)) return Step::kBad;
    return Step::kItem;
  }
  // True when the entry after the current one ends the statement.
  bool next_is_end() const { return pos_ + 1 < desc_.size() && desc_[pos_] == kTypeEnd; }

 private:
  Descriptor desc_;
  IoArgs args_;
  std::size_t pos_ = 0;
  std::size_t arg_ = 0;
};

}  // namespace recio
