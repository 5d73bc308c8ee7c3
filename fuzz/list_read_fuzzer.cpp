// List-directed read from an internal record: a random record and a random
// item list, split over the start call and item calls at random. With the
// error branch every failure must come back as its number; without it the
// severe end must arrive through the seam. Either way items are written only
// within their own bytes (each lives in its own exact-size allocation), items
// of calls after a failure stay untouched, and unit -5 is given back.
//
// Input: byte 0 options, byte 1 item count and call grouping, one byte per
// item (kind, text length), then the record.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "harness.h"
#include "recio/io_api.h"

namespace {

using recio::IoArg;

struct ItemKind {
  std::uint8_t type;
  std::uint8_t mode;
  std::int32_t size;  // 0: a text, its length from the item byte
};

constexpr ItemKind kKinds[] = {
    {recio::kTypeChar, recio::kPassLenAddr, 0},     {recio::kTypeChar, recio::kPassLenAddr, 0},
    {recio::kTypeInt4, recio::kPassAddress, 4},     {recio::kTypeReal4, recio::kPassAddress, 4},
    {recio::kTypeReal4, recio::kPassSizeAddr, 4},   {recio::kTypeReal8, recio::kPassAddress, 8},
    {recio::kTypeInt1, recio::kPassAddress, 1},     {recio::kTypeInt2, recio::kPassAddress, 2},
    {recio::kTypeInt8, recio::kPassAddress, 8},     {recio::kTypeLogical1, recio::kPassAddress, 1},
    {recio::kTypeLogical2, recio::kPassAddress, 2}, {recio::kTypeLogical4, recio::kPassAddress, 4},
    {recio::kTypeLogical8, recio::kPassAddress, 8}, {recio::kTypeInt4, recio::kPassSizeAddr, 4},
    {recio::kTypeReal8, recio::kPassSizeAddr, 8},   {recio::kTypeReal4, recio::kPassAddress, 4},
};
constexpr std::int32_t kTextLengths[] = {0,  1,  2,  3,  5,  8,   8,    8,
                                         12, 16, 20, 40, 80, 100, 2049, 2050};
constexpr std::uint8_t kFill = 0xA5;

struct TestItem {
  ItemKind kind;
  std::int32_t length;
  std::unique_ptr<std::uint8_t[]> bytes;
};

// Appends an item's descriptor entry and arguments.
void add_item(const TestItem& item, std::vector<std::uint8_t>* desc, std::vector<IoArg>* args) {
  desc->push_back(item.kind.type);
  desc->push_back(item.kind.mode);
  if (item.kind.mode != recio::kPassAddress) args->push_back(IoArg::val(item.length));
  args->push_back(IoArg::address(item.bytes.get()));
}

bool untouched(const TestItem& item) {
  for (std::int32_t i = 0; i < item.length; ++i) {
    if (item.bytes[static_cast<std::size_t>(i)] != kFill) return false;
  }
  return true;
}

// A result the reader may give with the error branch: success, end of file,
// syntax error, conversion error, or a type the value cannot serve.
bool expected_result(int r) {
  return r == 0 || r == -1 || r == 59 || r == 61 || r == 64;
}

// A severe end the reader may cause without a branch.
bool expected_end(std::uint32_t status) {
  return status == msg::kEndOfFile || status == msg::kListSyntax ||
         status == msg::kFormatMismatch || status == msg::kInputConversion;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_run_time();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(data, size);
  const std::uint8_t options = in.take();
  const std::uint8_t shape = in.take();
  const bool error_branch = (options & 1) == 0;
  const bool undelimited = (options & 2) == 0;  // the program's flag words have it
  const bool first_in_start = (options & 4) != 0;
  const bool separate_end = (options & 8) != 0;
  const bool call_after_failure = (options & 16) != 0;
  const std::size_t count = (shape & 7u) + 1;
  const std::size_t group = ((shape >> 3) & 3u) + 1;  // items per item call

  std::vector<TestItem> items;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = in.take();
    TestItem item;
    item.kind = kKinds[b & 15u];
    item.length = item.kind.size != 0 ? item.kind.size : kTextLengths[b >> 4];
    item.bytes = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(item.length));
    std::memset(item.bytes.get(), kFill, static_cast<std::size_t>(item.length));
    items.push_back(std::move(item));
  }
  const char* record = in.rest();
  const auto record_length = static_cast<std::int64_t>(in.rest_size());

  std::uint32_t flags = error_branch ? recio::kFlagsErrBranch : recio::kFlagsNoBranch;
  if (!undelimited) flags &= ~static_cast<std::uint32_t>(recio::kFlagUndelimited);

  // The calls: each a descriptor and its arguments, items in order.
  struct Call {
    std::vector<std::uint8_t> desc;
    std::vector<IoArg> args;
    std::size_t first_item, item_count;
  };
  std::vector<Call> calls;
  Call start{{recio::kTypeChar, recio::kPassLenAddr},
             {IoArg::val(record_length), IoArg::address(record)},
             0,
             0};
  std::size_t next = 0;
  if (first_in_start) {
    add_item(items[0], &start.desc, &start.args);
    start.item_count = 1;
    next = 1;
  }
  calls.push_back(std::move(start));
  while (next < items.size()) {
    Call call{{}, {}, next, 0};
    for (; next < items.size() && call.item_count < group; ++next, ++call.item_count)
      add_item(items[next], &call.desc, &call.args);
    calls.push_back(std::move(call));
  }
  if (separate_end) calls.push_back(Call{{}, {}, items.size(), 0});
  for (std::size_t c = 0; c < calls.size(); ++c) {
    const bool last = c + 1 == calls.size();
    calls[c].desc.push_back(last ? recio::kTypeEnd : recio::kTypeMore);
    calls[c].desc.push_back(recio::kPassNone);
  }

  recio::IoControlBlock cb{};
  std::size_t failed_call = calls.size();
  std::size_t c = 0;
  try {
    for (; c < calls.size(); ++c) {
      const int r = c == 0 ? recio::for_read_int_lis(&cb, flags, calls[c].desc, calls[c].args)
                           : recio::for_read_int_lis_xmit(&cb, calls[c].desc, calls[c].args);
      if (!error_branch && r != 0) fuzz::fail("call %zu without a branch returned %d", c, r);
      if (!expected_result(r)) fuzz::fail("call %zu returned %d", c, r);
      if (r != 0) {
        failed_call = c;
        break;
      }
    }
  } catch (const fuzz::ProcessEnd& end) {
    if (!expected_end(end.status)) fuzz::fail("severe end with 0x%08X", end.status);
    failed_call = c;
  }

  if (failed_call < calls.size()) {
    // The statement is over; later calls of it are refused and change nothing.
    for (std::size_t later = failed_call + 1; later < calls.size(); ++later) {
      const Call& call = calls[later];
      if (call_after_failure && error_branch) {
        const int r = recio::for_read_int_lis_xmit(&cb, call.desc, call.args);
        if (r != msg::number(msg::kArgumentError))
          fuzz::fail("call %zu after the failure returned %d", later, r);
      }
      for (std::size_t i = call.first_item; i < call.first_item + call.item_count; ++i)
        if (!untouched(items[i])) fuzz::fail("item %zu written after the failure", i);
    }
  }
  fuzz::check_units_released("a list-directed read");
  return 0;
}
