// The message catalog: number, severity class and text template of every
// run-time condition, sorted by identifier. Templates are printf-style and end
// with CR LF; those of I/O conditions end in ", unit %d, file %s".
//
// The formatters below fill a caller's buffer and never allocate: a message
// text is at most kMessageTextMax characters, a diagnostic line at most
// kDiagnosticLineMax, so buffers one larger never truncate.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "rt/messages.h"

namespace rt {

struct CatalogRow {
  msg::Id id;
  const char* text;
};

// Every row, sorted by identifier.
std::span<const CatalogRow> catalog_rows();

inline constexpr char kMessageNotFound[] = "Message not found\n";

// Template for the exact identifier, or "Message not found\n" when there is no row.
const char* catalog_lookup(msg::Id id);

// Severity word for a class 0-3 (only the low two bits count).
const char* severity_word(unsigned cls);

// A template is copied into a work buffer of this size (terminator included)
// before formatting; a longer template is treated as not found.
inline constexpr std::size_t kTemplateBufferSize = 393;
inline constexpr std::size_t kMessageTextMax = 395;
// "forrtl: severe" + " (" + "-32768" + "): " + text
inline constexpr std::size_t kDiagnosticLineMax = 14 + 2 + 6 + 3 + kMessageTextMax;

// One argument of a template: an integer or a text (address and length, so
// fixed-length texts need no terminator).
struct FormatArg {
  enum class Kind : std::uint8_t { kInteger, kText };

  constexpr FormatArg(std::integral auto v)
      : kind(Kind::kInteger), integer(static_cast<std::int64_t>(v)) {}
  constexpr FormatArg(std::string_view s) : kind(Kind::kText), text(s) {}
  constexpr FormatArg(const char* s)
      : kind(Kind::kText), text(s != nullptr ? std::string_view(s) : std::string_view()) {}

  Kind kind;
  std::int64_t integer = 0;
  std::string_view text;
};

// Substitutes `args` into `tmpl` and stores the result, NUL-terminated, in
// out[0..cap). Conversions: %d %i %ld (signed decimal), %u (unsigned 32-bit),
// %lx (hex), %c, %s, %.*s (an integer precision, then a text), %%. Each
// conversion takes the next argument; an argument of the other kind is shown
// in its own form, and a conversion with no argument left stays as written.
// With no arguments the template is copied as it stands. A template that does
// not fit the work buffer gives "Message not found\n". The text is cut at
// kMessageTextMax (or cap - 1) characters, keeping a final CR LF.
// Returns the length stored, or -1 when out is null or cap is 0.
int format_template(char* out, std::size_t cap, const char* tmpl, std::span<const FormatArg> args);

// format_template over the catalog's template for `id`.
int format_message(char* out, std::size_t cap, msg::Id id, std::span<const FormatArg> args);

// The diagnostic line "%s (%i): %s": severity word of the identifier's class,
// its message number as a signed 16-bit decimal, the formatted message text.
int format_diagnostic_line(char* out, std::size_t cap, msg::Id id, std::span<const FormatArg> args);

// The same with the arguments listed directly: format_message(out, cap, id, 21, name).
template <typename T>
concept FormatArgSource = std::constructible_from<FormatArg, const T&>;

template <FormatArgSource... Args>
int format_message(char* out, std::size_t cap, msg::Id id, const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
  return format_message(out, cap, id, std::span<const FormatArg>(list));
}

template <FormatArgSource... Args>
int format_diagnostic_line(char* out, std::size_t cap, msg::Id id, const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
  return format_diagnostic_line(out, cap, id, std::span<const FormatArg>(list));
}

}  // namespace rt
