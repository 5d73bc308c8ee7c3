// The message catalog: number, severity class and text template of every
// run-time condition, sorted by identifier. Templates are printf-style and end
// with CR LF; those of I/O conditions end in ", unit %d, file %s".
#pragma once

#include <cstddef>
#include <span>

#include "rt/messages.h"

namespace rt {

struct CatalogRow {
  msg::Id id;
  const char* text;
};

// Every row, sorted by identifier.
std::span<const CatalogRow> catalog_rows();

// Template for the exact identifier, or "Message not found\n" when there is no row.
const char* catalog_lookup(msg::Id id);

}  // namespace rt
