// Text output: list-directed output to a unit (one leading blank per record,
// records of at most the line width) and list-directed output into an
// internal record. The records themselves are written by the record writer.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "recio/connection.h"
#include "recio/io_api.h"
#include "recio/numeric.h"
#include "recio/record_io.h"
#include "recio/statement.h"
#include "recio/unit_table.h"
#include "rt/diagnostics.h"

namespace recio {
namespace {

constexpr char kInternalWriteName[] = "Internal List-Directed Write";
constexpr int kIntegerWidth = 12;  // list-directed width of a 4-byte integer
constexpr int kRealWidth = 15;

// Text of a numeric item in its list-directed field; returns its length.
std::size_t format_value(const Item& item, char* out, std::size_t cap) {
  std::int64_t v = 0;
  item_integer(item, &v);  // reals are read from the item below
  switch (item.type) {
    case kTypeLogical1:
    case kTypeLogical2:
    case kTypeLogical4:
    case kTypeLogical8:
      std::memset(out, ' ', 2);
      out[1] = (v & 1) != 0 ? 'T' : 'F';
      return 2;
    case kTypeReal4:
    case kTypeReal8: {
      double d = 0;
      if (item.type == kTypeReal4) {
        float f;
        std::memcpy(&f, item.mode == kPassValue ? static_cast<const void*>(&item.value) : item.addr,
                    4);
        d = f;
      } else {
        std::memcpy(&d, item.mode == kPassValue ? static_cast<const void*>(&item.value) : item.addr,
                    8);
      }
      const int n = std::snprintf(out, cap, "%*.*E", item.type == kTypeReal4 ? kRealWidth : 24,
                                  item.type == kTypeReal4 ? 7 : 15, d);
      return n > 0 ? std::min(static_cast<std::size_t>(n), cap - 1) : 0;
    }
    default: {
      const int w = item.length == 8 ? 22 : kIntegerWidth;
      cvt_integer_to_text(v, w, 1, 0, out);
      return static_cast<std::size_t>(w);
    }
  }
}

// List-directed output of one item to a unit whose records hold `width`
// characters, the first of them the leading blank.
msg::Id put_list_item(UnitBlock* u, const Item& item) {
  const std::size_t width =
      static_cast<std::size_t>(std::max<std::int32_t>(u->connection.list_width, 2));
  if (u->position.area_end < width) {
    if (msg::Id id = for__adjust_buffer(u, width - u->position.area_end)) return id;
    for__start_output_record(u);
  }
  char* base = u->position.buffer.data();
  auto new_record = [&]() -> msg::Id {
    if (msg::Id id = for__put_sf(u)) return id;
    for__start_output_record(u);
    return 0;
  };
  auto leading_blank = [&]() {
    if (u->position.cur == 0) {
      u->position.cur = 1;
    }
  };
  if (item.type == kTypeChar) {
    const char* text = static_cast<const char*>(item.addr);
    std::size_t left = static_cast<std::size_t>(item.length);
    leading_blank();
    while (left > width - u->position.cur) {
      const std::size_t part = width - u->position.cur;
      std::memcpy(base + u->position.cur, text, part);
      u->position.cur += part;
      u->statement.high_water = std::max(u->statement.high_water, u->position.cur);
      text += part;
      left -= part;
      if (msg::Id id = new_record()) return id;
      base = u->position.buffer.data();
      leading_blank();
    }
    std::memcpy(base + u->position.cur, text, left);
    u->position.cur += left;
    u->statement.high_water = std::max(u->statement.high_water, u->position.cur);
    return 0;
  }
  char field[40];
  const std::size_t n = format_value(item, field, sizeof field);
  leading_blank();
  if (u->position.cur + n > width && u->position.cur > 1) {
    if (msg::Id id = new_record()) return id;
    base = u->position.buffer.data();
    leading_blank();
  }
  if (msg::Id id = u->position.cur + n > u->position.area_end
                       ? for__adjust_buffer(u, u->position.cur + n - u->position.area_end)
                       : 0)
    return id;
  std::memcpy(u->position.buffer.data() + u->position.cur, field, n);
  u->position.cur += n;
  u->statement.high_water = std::max(u->statement.high_water, u->position.cur);
  return 0;
}

int list_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc, IoArgs args) {
  return run_items(
      cb, u, desc, args,
      [u](const Item& item, const ItemCursor&) { return put_list_item(u, item); },
      [u] { return for__put_sf(u); });
}

// List-directed output into the private copy of an internal record.
msg::Id put_internal_item(UnitBlock* u, const Item& item) {
  char* base = u->position.buffer.data();
  const std::size_t length = static_cast<std::size_t>(u->statement.internal.length);
  if (item.type == kTypeChar) {
    if (u->position.cur == 0 && u->statement.flags.has(kFlagUndelimited)) {
      // The leading blank needs its column too.
      if (length == 0) return msg::kOutputOverflow;
      u->position.cur = 1;
    }
    const std::size_t n = static_cast<std::size_t>(item.length);
    if (n > length - u->position.cur) return msg::kOutputOverflow;
    std::memcpy(base + u->position.cur, item.addr, n);
    u->position.cur += n;
    return 0;
  }
  char field[40];
  const std::size_t n = format_value(item, field, sizeof field);
  if (n > length - u->position.cur) return msg::kOutputOverflow;
  std::memcpy(base + u->position.cur, field, n);
  u->position.cur += n;
  return 0;
}

int internal_items(IoControlBlock* cb, UnitBlock* u, Descriptor desc, IoArgs args) {
  return run_items(
      cb, u, desc, args,
      [u](const Item& item, const ItemCursor&) { return put_internal_item(u, item); },
      [u]() -> msg::Id {
        std::memcpy(u->statement.internal.target, u->position.buffer.data(),
                    static_cast<std::size_t>(u->statement.internal.length));
        return 0;
      });
}

}  // namespace

int for_write_seq_lis(IoControlBlock* cb, std::int32_t unit, std::uint32_t flags, Descriptor desc,
                      IoArgs args) {
  int result = 0;
  UnitBlock* u = start_sequential(
      cb, unit, flags,
      SequentialStatement{StatementKind::kWriteList, kFormFormatted, kStatusUnknown, true},
      &result);
  if (u == nullptr) return result;
  for__start_output_record(u);
  return list_items(cb, u, desc, args);
}

int for_write_seq_lis_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args) {
  UnitBlock* u = statement_unit(cb);
  return u != nullptr ? list_items(cb, u, desc, args) : no_statement();
}

int for_write_int_lis(IoControlBlock* cb, std::uint32_t flags, Descriptor desc, IoArgs args) {
  int result = 0;
  UnitBlock* u = start_internal(cb, flags, StatementKind::kInternalWrite, kInternalWriteName, false,
                                &desc, &args, &result);
  if (u == nullptr) return result;
  return internal_items(cb, u, desc, args);
}

int for_write_int_lis_xmit(IoControlBlock* cb, Descriptor desc, IoArgs args) {
  UnitBlock* u = statement_unit(cb);
  return u != nullptr ? internal_items(cb, u, desc, args) : no_statement();
}

}  // namespace recio
