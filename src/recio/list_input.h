// List-directed input from an in-memory record: cuts the record into values
// (blanks, commas, slashes, repeat counts r*, quoted and undelimited text,
// logical words, numbers, parenthesised pairs) and stores one value per item.
//
// Contract: list_scan_begin starts a statement on a record the caller keeps
// alive and unchanged until the statement ends; list_read_item is called once
// per item and returns 0 or the error identifier (msg::kEndOfFile,
// kListSyntax, kInputConversion, kFormatMismatch, kArgumentError). After an
// error every further call returns the same error. No units, no diagnostics,
// no allocation: the state holds its own token buffer and can be reused.
#pragma once

#include <cstdint>

#include "recio/descriptor.h"
#include "recio/io_api.h"
#include "recio/numeric_scan.h"
#include "rt/messages.h"

namespace recio {

// Longest character value accepted; the buffer keeps one spare byte.
inline constexpr std::int32_t kListValueMax = 2049;
inline constexpr std::int32_t kListTokenBufferSize = 2050;

// Classification of the current value; independent marks.
struct ListMarks {
  bool null = false;              // null value: the item keeps its value
  bool slash = false;             // slash seen: this and all later items keep their values
  bool character = false;         // character string ...
  bool quote_apostrophe = false;  // ... closed by an apostrophe
  bool quote_mark = false;        // ... closed by a quotation mark
  bool undelimited = false;       // ... without quotes
  bool logical = false;           // logical word; its first letter is the value
  bool numeric = false;
  bool integer_syntax = false;  // numeric without point and exponent letter
  bool point = false;           // numeric with a decimal point
  bool pair_open = false;       // inside "(re, im)"
  bool comma_passed = false;    // a separator comma was passed since the last value
  bool repeated = false;        // the value came with a repeat count r*
};

struct ListScanState {
  const char* record = nullptr;
  std::int32_t record_length = 0;
  std::int32_t pos = 0;  // next character to look at
  // The current value's text, into the record or token_buffer; set by every
  // scan before it is read.
  const char* token = nullptr;
  std::int32_t token_length = 0;
  std::int32_t repeat = 0;  // further uses of the pending value
  msg::Id status = 0;       // first error of the statement
  bool undelimited_allowed = false;
  bool padded = false;  // the record is followed by kListRecordPadding NUL bytes
  // padded, no error, no slash and no repeated value pending: a 4-byte real
  // item may take the short path. Kept up to date by every step that changes
  // one of them, so that the short path tests one byte.
  bool short_path = false;
  ListMarks marks;
  // A number of the decimal syntax, ended by a separator, is also kept as
  // the decimal scanned while the value was cut out, so a real item needs no
  // second pass over its text.
  bool plain_number = false;
  ParsedDecimal number;
  char token_buffer[kListTokenBufferSize];  // quoted values (doubled quotes undone)
};

// NUL bytes a caller may place after the record (padded = true) so that the
// scanner reads numbers without checking for the record's end at every step.
inline constexpr std::int32_t kListRecordPadding = 8;

// Inline: it starts every statement.
inline void list_scan_begin(ListScanState& s, const char* record, std::int32_t length,
                            std::uint32_t flag_word, bool padded = false) {
  s.record = record;
  s.padded = padded;
  s.short_path = padded;
  s.record_length = record != nullptr && length > 0 ? length : 0;
  s.pos = 0;
  s.repeat = 0;
  s.status = 0;
  s.undelimited_allowed = (flag_word & kFlagUndelimited) != 0;
  s.marks = ListMarks{};
}

// Item types: character (length = declared length), integers and logicals of
// 1, 2, 4 and 8 bytes, reals of 4 and 8 bytes. Any other type is
// msg::kFormatMismatch.
msg::Id list_read_item(ListScanState& s, const Item& item);
// list_read_item for a 4-byte real item at dest (a field value), without an
// item to decode.
msg::Id list_read_real4(ListScanState& s, float* dest);

}  // namespace recio
