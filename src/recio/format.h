// Compiled formats: constant sequences of 32-bit words. Each element starts
// with a head word whose low byte is the operation code; the code alone fixes
// the element's length. Short forms are the head word (bytes 2-3: a 16-bit
// repeat count where the element has one); the long form (nX) is the head
// word followed by a count word and a width word.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "rt/messages.h"

namespace recio {

enum FormatOp : std::uint8_t {
  kFmtSkip = 0x0B,    // nX, long form: count word n, width word 1
  kFmtOpen = 0x36,    // "("
  kFmtClose = 0x37,   // ")"
  kFmtDollar = 0x45,  // "$": leave the output record open
  kFmtA = 0x48,       // A: one text item, width = the item's length
  // Input only: the number of characters of the record not yet transferred,
  // into one integer item (tells a caller that its text item cut the record).
  kFmtRemaining = 0x51,
};

// The head word of an element: its operation, and the repeat count where it
// has one (an A edit without a count transfers one item).
constexpr std::uint32_t format_word(FormatOp op, std::uint16_t repeat = 0) {
  return static_cast<std::uint32_t>(repeat) << 16 | op;
}
inline constexpr std::uint32_t kWordA = format_word(kFmtA, 1);

// (A)
inline constexpr std::array<std::uint32_t, 3> kFormatA = {format_word(kFmtOpen), kWordA,
                                                          format_word(kFmtClose)};
// (A,Q): the text and how many characters of the record it left over.
inline constexpr std::array<std::uint32_t, 4> kFormatAWithRemaining = {
    format_word(kFmtOpen), kWordA, format_word(kFmtRemaining), format_word(kFmtClose)};
// (A,Q,65535A): a typed answer, how much of the line it left over, and the
// rest of the line in as many pieces as the caller asks for.
inline constexpr std::array<std::uint32_t, 5> kFormatAnswer = {
    format_word(kFmtOpen), kWordA, format_word(kFmtRemaining), format_word(kFmtA, 0xFFFF),
    format_word(kFmtClose)};
// (1X,A,$): the long form of nX is its head word, the count n and the width 1.
inline constexpr std::array<std::uint32_t, 7> kFormatPrompt = {
    format_word(kFmtOpen),   format_word(kFmtSkip), 1, 1, kWordA,
    format_word(kFmtDollar), format_word(kFmtClose)};
static_assert(kFormatA[1] == 0x10048 && kFormatAnswer[3] == 0xFFFF0048);

struct FormatElement {
  std::uint8_t op = 0;
  std::uint16_t repeat = 0;
  std::uint32_t count = 0;
  std::uint32_t width = 0;
};

// Decodes the element at *pos and advances *pos past it. Returns 0, or
// msg::kFormatSyntax for an unknown operation code, run-time operand flags, or
// a format that ends inside an element. Inline: it runs for every element of
// every formatted statement.
inline msg::Id for__interp_fmt(std::span<const std::uint32_t> format, std::uint32_t* pos,
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
    case kFmtRemaining:
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
