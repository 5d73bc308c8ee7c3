#include "recio/format.h"

namespace recio {

msg::Id for__interp_fmt(std::span<const std::uint32_t> format, std::uint32_t* pos,
                        FormatElement* element) {
  if (*pos >= format.size()) return msg::kFormatSyntax;
  const std::uint32_t head = format[*pos];
  *element = FormatElement{};
  element->op = static_cast<std::uint8_t>(head & 0xFF);
  // Operands computed at run time are not supported by any compiled format here.
  if (((head >> 8) & 0xFF) != 0) return msg::kFormatSyntax;
  switch (element->op) {
    case kFmtOpen:
    case kFmtClose:
    case kFmtDollar:
      *pos += 1;
      return 0;
    case kFmtA:
      element->repeat = static_cast<std::uint16_t>(head >> 16);
      *pos += 1;
      return 0;
    case kFmtSkip:
      if (*pos + 2 >= format.size()) return msg::kFormatSyntax;
      element->count = format[*pos + 1];
      element->width = format[*pos + 2];
      *pos += 3;
      return 0;
    default:
      return msg::kFormatSyntax;
  }
}

}  // namespace recio
