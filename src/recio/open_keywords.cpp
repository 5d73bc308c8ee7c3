// OPEN and CLOSE keywords: the keyword value tables, the table of the
// keywords each statement takes, and the decoding of keyword entries.
#include "recio/open_keywords.h"

#include <array>
#include <cctype>
#include <cstring>

#include "recio/connection.h"
#include "recio/foreign.h"
#include "recio/io_api.h"
#include "recio/unit.h"

namespace recio {
namespace {

struct KeyValue {
  const char* text;
  std::uint8_t code;
};

constexpr KeyValue kStatusValues[] = {{"OLD", kStatusOld},
                                      {"NEW", kStatusNew},
                                      {"SCRATCH", kStatusScratch},
                                      {"UNKNOWN", kStatusUnknown},
                                      {"REPLACE", kStatusReplace}};
constexpr KeyValue kFormValues[] = {
    {"FORMATTED", kFormFormatted}, {"UNFORMATTED", kFormUnformatted}, {"BINARY", kFormBinary}};
constexpr KeyValue kBlankValues[] = {{"ZERO", kBlankZero}, {"NULL", kBlankNull}};
constexpr KeyValue kAccessValues[] = {{"SEQUENTIAL", kAccessSequential},
                                      {"DIRECT", kAccessDirect},
                                      {"APPEND", kAccessAppend},
                                      {"KEYED", kAccessKeyed}};
// First-column control has no text form; it is reachable by code.
constexpr KeyValue kCarriageValues[] = {
    {nullptr, kCcFortran}, {"LIST", kCcList}, {"NONE", kCcNone}};
constexpr KeyValue kRecordTypeValues[] = {
    {"FIXED", kRecFixed},   {"VARIABLE", kRecVariable},  {"SEGMENTED", kRecSegmented},
    {"STREAM", kRecStream}, {"STREAM_LF", kRecStreamLF}, {"STREAM_CR", kRecStreamCR}};
constexpr KeyValue kOrganizationValues[] = {
    {"SEQUENTIAL", kOrgSequential}, {"RELATIVE", kOrgRelative}, {"INDEXED", kOrgIndexed}};
constexpr KeyValue kActionValues[] = {
    {"READ", kActionRead}, {"WRITE", kActionWrite}, {"READWRITE", kActionReadWrite}};
constexpr KeyValue kPositionValues[] = {
    {"ASIS", kPositionAsIs}, {"REWIND", kPositionRewind}, {"APPEND", kPositionAppend}};
constexpr KeyValue kPadValues[] = {{"YES", kPadYes}, {"NO", kPadNo}};
// CONVERT takes the foreign selections, texts and codes alike.
constexpr auto kConvertValues = [] {
  std::array<KeyValue, std::size(kForeignSelections)> values{};
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = {kForeignSelections[i].value, kForeignSelections[i].keyword_code};
  return values;
}();
constexpr KeyValue kShareValues[] = {{"DENYRW", kShareDenyRw},
                                     {"DENYWR", kShareDenyWr},
                                     {"DENYRD", kShareDenyRd},
                                     {"DENYNONE", kShareDenyNone}};
constexpr KeyValue kDispositionValues[] = {{"SAVE", kDispositionKeep},
                                           {"KEEP", kDispositionKeep},
                                           {"DELETE", kDispositionDelete},
                                           {"PRINT", kDispositionPrint},
                                           {"SUBMIT", kDispositionSubmit},
                                           {"PRINT/DELETE", kDispositionPrintDelete},
                                           {"SUBMIT/DELETE", kDispositionSubmitDelete}};

struct TableRef {
  const KeyValue* values;
  std::size_t count;
};

template <std::size_t N>
constexpr TableRef ref(const KeyValue (&v)[N]) {
  return {v, N};
}
template <std::size_t N>
constexpr TableRef ref(const std::array<KeyValue, N>& v) {
  return {v.data(), N};
}

// Indexed by KeyTable.
constexpr TableRef kKeyTables[] = {
    ref(kStatusValues),      ref(kFormValues),       ref(kBlankValues),        ref(kAccessValues),
    ref(kCarriageValues),    ref(kRecordTypeValues), ref(kOrganizationValues), ref(kActionValues),
    ref(kPositionValues),    ref(kPadValues),        ref(kConvertValues),      ref(kShareValues),
    ref(kDispositionValues),
};

// Keywords of OPEN: code, value table (or none for numbers, texts and flags).
enum class KeyKind : std::uint8_t { kTable, kNumber, kText, kFlag };
struct KeywordInfo {
  std::uint8_t code;
  KeyKind kind;
  KeyTable table;
};
constexpr KeywordInfo kOpenKeywords[] = {
    {kKeyAccess, KeyKind::kTable, KeyTable::kAccess},
    {kKeyAction, KeyKind::kTable, KeyTable::kAction},
    {kKeyBlank, KeyKind::kTable, KeyTable::kBlank},
    {kKeyBlocksize, KeyKind::kNumber, KeyTable::kStatus},
    {kKeyBuffercount, KeyKind::kNumber, KeyTable::kStatus},
    {kKeyCarriageControl, KeyKind::kTable, KeyTable::kCarriageControl},
    {kKeyDisposition, KeyKind::kTable, KeyTable::kDisposition},
    {kKeyFile, KeyKind::kText, KeyTable::kStatus},
    {kKeyForm, KeyKind::kTable, KeyTable::kForm},
    {kKeyOrganization, KeyKind::kTable, KeyTable::kOrganization},
    {kKeyPad, KeyKind::kTable, KeyTable::kPad},
    {kKeyReadonly, KeyKind::kFlag, KeyTable::kStatus},
    {kKeyRecl, KeyKind::kNumber, KeyTable::kStatus},
    {kKeyRecordType, KeyKind::kTable, KeyTable::kRecordType},
    {kKeyShared, KeyKind::kFlag, KeyTable::kStatus},
    {kKeyStatus, KeyKind::kTable, KeyTable::kStatus},
    {kKeyPosition, KeyKind::kTable, KeyTable::kPosition},
    {kKeyShare, KeyKind::kTable, KeyTable::kShare},
    {kKeyConvert, KeyKind::kTable, KeyTable::kConvert},
};

const KeywordInfo* find_keyword(std::uint8_t code) {
  for (const KeywordInfo& k : kOpenKeywords)
    if (k.code == code) return &k;
  return nullptr;
}

// A code given as a number must be one of the table's codes (0: default).
bool table_has_code(KeyTable table, std::int64_t number) {
  if (number == 0) return true;
  const TableRef& t = kKeyTables[static_cast<int>(table)];
  for (std::size_t i = 0; i < t.count; ++i)
    if (t.values[i].code == number) return true;
  return false;
}

// Checks one entry's value against its keyword's kind and records it.
msg::Id take_value(const KeywordInfo& info, std::uint8_t type, const Item& item, OpenRequest* rq) {
  const bool is_text = type == kTypeChar;
  std::int64_t number = 0;
  if (!is_text && !item_integer(item, &number)) return msg::kArgumentError;
  switch (info.kind) {
    case KeyKind::kText:
      if (!is_text) return msg::kArgumentError;
      rq->file = static_cast<const char*>(item.addr);
      rq->file_length = item.length;
      break;
    case KeyKind::kTable:
      if (is_text) {
        number = for__open_key(info.table, static_cast<const char*>(item.addr), item.length);
        if (number == 0) return msg::kKeywordValue;
      } else if (!table_has_code(info.table, number)) {
        return msg::kKeywordValue;
      }
      break;
    case KeyKind::kNumber:
    case KeyKind::kFlag:
      if (is_text) return msg::kArgumentError;
      if (info.kind == KeyKind::kFlag) number = 1;
      break;
  }
  rq->value[info.code] = number;
  rq->given[info.code] = true;
  return 0;
}

}  // namespace

int for__open_key(KeyTable table, const char* text, std::int32_t length) {
  if (length < 0) return 0;
  std::size_t n = static_cast<std::size_t>(length);
  while (n > 1 && text[n - 1] == ' ') --n;
  if (n == 1 && text[0] == ' ') return 0;  // one blank matches no entry
  const TableRef& t = kKeyTables[static_cast<int>(table)];
  for (std::size_t i = 0; i < t.count; ++i) {
    const char* v = t.values[i].text;
    if (v == nullptr || std::strlen(v) != n) continue;
    bool equal = true;
    for (std::size_t k = 0; k < n && equal; ++k)
      equal = std::toupper(static_cast<unsigned char>(text[k])) == v[k];
    if (equal) return t.values[i].code;
  }
  return 0;
}

msg::Id for__open_args(Descriptor desc, IoArgs args, OpenRequest* rq, bool close_statement) {
  std::size_t pos = 0, next_arg = 0;
  for (;;) {
    if (pos + 1 >= desc.size()) return msg::kArgumentError;
    if (desc[pos] == kTypeEnd) return 0;
    if (pos + 3 >= desc.size()) return msg::kArgumentError;
    const std::uint8_t type = desc[pos], mode = desc[pos + 1], key = desc[pos + 2];
    pos += 4;
    Item item;
    if (!decode_item(type, mode, args, &next_arg, &item)) return msg::kArgumentError;
    if (key < 2 || key >= OpenRequest::kKeywordSlots) return msg::kArgumentError;
    if (close_statement != (key == kKeyDisposition)) return msg::kArgumentError;
    const KeywordInfo* info = find_keyword(key);
    if (info == nullptr) return msg::kArgumentError;
    if (msg::Id id = take_value(*info, type, item, rq)) return id;
  }
}

}  // namespace recio
