// The item and OPEN/CLOSE descriptors of the program's statements, each
// defined once by name. The asserts pin every one to the bytes the record
// I/O services have always been given, so a change to a builder cannot
// silently change a statement.
#pragma once

#include <array>
#include <cstdint>

#include "recio/descriptor.h"
#include "recio/io_api.h"

namespace app::desc {

using recio::item_descriptor;
using recio::keyword_descriptor;
using recio::Terminator;
template <std::size_t N>
using Bytes = std::array<std::uint8_t, N>;

// Items of a statement. "Record" entries come first in an internal read or
// write: the line text the values are read from or written into.
inline constexpr auto kTextEnd = item_descriptor({recio::kTextItem}, Terminator::kEnd);
inline constexpr auto kTextMore = item_descriptor({recio::kTextItem}, Terminator::kMore);
inline constexpr auto kRecordTextMore =
    item_descriptor({recio::kTextItem, recio::kTextItem}, Terminator::kMore);
inline constexpr auto kRecordIntMore =
    item_descriptor({recio::kTextItem, recio::kInt4Variable}, Terminator::kMore);
inline constexpr auto kRecordRealMore =
    item_descriptor({recio::kTextItem, recio::kReal4Variable}, Terminator::kMore);
inline constexpr auto kRecordRealEnd =
    item_descriptor({recio::kTextItem, recio::kReal4Variable}, Terminator::kEnd);
inline constexpr auto kTextCountMore =
    item_descriptor({recio::kTextItem, recio::kInt4Variable}, Terminator::kMore);
inline constexpr auto kIntMore = item_descriptor({recio::kInt4Variable}, Terminator::kMore);
inline constexpr auto kIntEnd = item_descriptor({recio::kInt4Variable}, Terminator::kEnd);
inline constexpr auto kIntValueEnd = item_descriptor({recio::kInt4Value}, Terminator::kEnd);
inline constexpr auto kRealMore = item_descriptor({recio::kReal4Variable}, Terminator::kMore);
inline constexpr auto kRealEnd = item_descriptor({recio::kReal4Variable}, Terminator::kEnd);
inline constexpr auto kFieldValueMore = item_descriptor({recio::kReal4Element}, Terminator::kMore);
inline constexpr auto kMore = item_descriptor(Terminator::kMore);
inline constexpr auto kEnd = item_descriptor(Terminator::kEnd);

// OPEN of either map file: FILE, STATUS, FORM as texts, BLANK by value.
inline constexpr recio::KeywordEntry kOpenMapKeywords[] = {
    {recio::kTextItem, recio::kKeyFile},
    {recio::kTextItem, recio::kKeyStatus},
    {recio::kTextItem, recio::kKeyForm},
    {recio::kInt4Value, recio::kKeyBlank},
};
inline constexpr auto kOpenInput = keyword_descriptor(kOpenMapKeywords);
inline constexpr auto kOpenOutput = keyword_descriptor(kOpenMapKeywords);
inline constexpr auto kCloseNoKeywords = keyword_descriptor();

static_assert(kTextEnd == Bytes<4>{0x38, 0x04, 0x01, 0x00});
static_assert(kTextMore == Bytes<4>{0x38, 0x04, 0x02, 0x00});
static_assert(kRecordTextMore == Bytes<6>{0x38, 0x04, 0x38, 0x04, 0x02, 0x00});
static_assert(kRecordIntMore == Bytes<6>{0x38, 0x04, 0x09, 0x03, 0x02, 0x00});
static_assert(kRecordRealMore == Bytes<6>{0x38, 0x04, 0x1A, 0x03, 0x02, 0x00});
static_assert(kRecordRealEnd == Bytes<6>{0x38, 0x04, 0x1A, 0x03, 0x01, 0x00});
static_assert(kTextCountMore == Bytes<6>{0x38, 0x04, 0x09, 0x03, 0x02, 0x00});
static_assert(kIntMore == Bytes<4>{0x09, 0x03, 0x02, 0x00});
static_assert(kIntEnd == Bytes<4>{0x09, 0x03, 0x01, 0x00});
static_assert(kIntValueEnd == Bytes<4>{0x09, 0x01, 0x01, 0x00});
static_assert(kRealMore == Bytes<4>{0x1A, 0x03, 0x02, 0x00});
static_assert(kRealEnd == Bytes<4>{0x1A, 0x03, 0x01, 0x00});
static_assert(kFieldValueMore == Bytes<4>{0x1A, 0x05, 0x02, 0x00});
static_assert(kMore == Bytes<2>{0x02, 0x00});
static_assert(kEnd == Bytes<2>{0x01, 0x00});
static_assert(kOpenInput == Bytes<18>{0x38, 0x04, 0x0D, 0x00, 0x38, 0x04, 0x1A, 0x00, 0x38, 0x04,
                                      0x0F, 0x00, 0x09, 0x01, 0x06, 0x00, 0x01, 0x00});
static_assert(kOpenOutput == kOpenInput);
static_assert(kCloseNoKeywords == Bytes<2>{0x01, 0x00});

}  // namespace app::desc
