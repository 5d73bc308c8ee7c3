#include "recio/descriptor.h"

#include <cstdint>

namespace recio {

std::int32_t type_size(std::uint8_t type) {
  switch (type) {
    case kTypeLogical1:
    case kTypeInt1:
      return 1;
    case kTypeLogical2:
    case kTypeInt2:
      return 2;
    case kTypeLogical4:
    case kTypeInt4:
    case kTypeReal4:
      return 4;
    case kTypeLogical8:
    case kTypeInt8:
    case kTypeReal8:
      return 8;
    default:
      return 0;
  }
}

bool decode_item(std::uint8_t type, std::uint8_t mode, IoArgs args, std::size_t* next, Item* item) {
  auto take = [&](IoArg* out) {
    if (*next >= args.size()) return false;
    *out = args[(*next)++];
    return true;
  };
  IoArg a, b;
  *item = Item{};
  item->type = type;
  item->mode = mode;
  switch (mode) {
    case kPassValue:
      if (!take(&a)) return false;
      item->value = a.value;
      item->length = type_size(type);
      return true;
    case kPassAddress:
      if (!take(&a) || a.addr == nullptr) return false;
      item->addr = a.addr;
      item->length = type_size(type);
      return true;
    case kPassLenAddr:
    case kPassSizeAddr:
      if (!take(&a) || !take(&b) || b.addr == nullptr) return false;
      if (a.value < 0 || a.value > INT32_MAX) return false;
      item->length = static_cast<std::int32_t>(a.value);
      item->addr = b.addr;
      return true;
    default:
      return false;
  }
}

ItemCursor::Step ItemCursor::next(Item* item) {
  if (pos_ + 1 >= desc_.size()) return Step::kBad;
  const std::uint8_t type = desc_[pos_];
  const std::uint8_t mode = desc_[pos_ + 1];
  pos_ += 2;
  if (type == kTypeEnd) return Step::kEnd;
  if (type == kTypeMore) return Step::kMore;
  if (!decode_item(type, mode, args_, &arg_, item)) return Step::kBad;
  if (type != kTypeChar && type_size(type) == 0) return Step::kBad;
  if (type != kTypeChar && mode == kPassSizeAddr && item->length != type_size(type))
    return Step::kBad;
  return Step::kItem;
}

}  // namespace recio
