// A reader of the nested names of the C++ mangling that the toolchains here
// use. It reads the name part only: the function's parameter types are
// skipped, not shown, since a traceback column has no room for them.
#include "rt/demangle.h"

#include <cstring>
#include <string_view>

namespace rt {
namespace {

struct Writer {
  char* out;
  std::size_t cap;
  std::size_t n = 0;
  void put(std::string_view s) {
    for (char c : s) {
      if (n + 1 < cap) out[n++] = c;
    }
    out[n < cap ? n : cap - 1] = '\0';
  }
};

struct Reader {
  const char* p;
  bool at(char c) const { return *p == c; }
  bool take(char c) {
    if (*p != c) return false;
    ++p;
    return true;
  }
};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// A length beyond any name a linker keeps: the text is not a mangled name.
constexpr std::size_t kLongestSourceName = 4096;

// <number> <identifier>; false when malformed.
bool source_name(Reader& in, std::string_view* name) {
  if (!is_digit(*in.p)) return false;
  std::size_t length = 0;
  while (is_digit(*in.p)) {
    length = length * 10 + static_cast<std::size_t>(*in.p++ - '0');
    if (length > kLongestSourceName) return false;
  }
  if (std::strlen(in.p) < length) return false;
  *name = std::string_view(in.p, length);
  in.p += length;
  return true;
}

// Skips up to and including the E that closes what is open (depth 1):
// template arguments, a lambda's signature, a local name's parameters.
bool skip_to_close(Reader& in) {
  int depth = 1;
  while (*in.p != '\0') {
    const char c = *in.p;
    if (is_digit(c)) {
      std::string_view ignored;
      if (!source_name(in, &ignored)) return false;
      continue;
    }
    ++in.p;
    if (c == 'I' || c == 'N' || c == 'L' || c == 'Z' || c == 'J' || c == 'F') {
      ++depth;
    } else if (c == 'U' && (in.at('l'))) {
      ++in.p;
      ++depth;
    } else if (c == 'E') {
      if (--depth == 0) return true;
    }
  }
  return false;
}

struct Operator {
  char code[3];
  const char* name;
};
constexpr Operator kOperators[] = {
    {"cl", "operator()"}, {"ix", "operator[]"},   {"eq", "operator=="},      {"ne", "operator!="},
    {"aS", "operator="},  {"lt", "operator<"},    {"gt", "operator>"},       {"ls", "operator<<"},
    {"rs", "operator>>"}, {"pl", "operator+"},    {"mi", "operator-"},       {"ml", "operator*"},
    {"dv", "operator/"},  {"nw", "operator new"}, {"dl", "operator delete"},
};

// One component of a name; `last` is the component before it (for a
// constructor or destructor). False when it cannot be read.
bool component(Reader& in, Writer& w, std::string_view* last, bool* first) {
  auto separate = [&] {
    if (!*first) w.put("::");
    *first = false;
  };
  if (in.take('L')) {  // internal linkage: no mark in the name
  }
  if (is_digit(*in.p)) {
    std::string_view name;
    if (!source_name(in, &name)) return false;
    if (name.starts_with("_GLOBAL__N")) return true;  // the anonymous namespace
    separate();
    w.put(name);
    *last = name;
    return true;
  }
  if (in.take('S')) {
    if (!in.take('t')) return false;  // substitutions are not read
    separate();
    w.put("std");
    return true;
  }
  if (in.take('I')) {
    if (!skip_to_close(in)) return false;
    w.put("<...>");
    return true;
  }
  if (in.take('B')) {  // an ABI tag
    std::string_view ignored;
    return source_name(in, &ignored);
  }
  if (in.at('C') && (in.p[1] >= '1' && in.p[1] <= '5')) {
    in.p += 2;
    separate();
    w.put(*last);
    return true;
  }
  if (in.at('D') && (in.p[1] >= '0' && in.p[1] <= '5')) {
    in.p += 2;
    separate();
    w.put("~");
    w.put(*last);
    return true;
  }
  if (in.take('U')) {
    if (in.take('l')) {
      if (!skip_to_close(in)) return false;
    } else if (!in.take('t')) {
      return false;
    }
    while (is_digit(*in.p)) ++in.p;
    if (!in.take('_')) return false;
    separate();
    w.put(in.p[-2] == 'E' || is_digit(in.p[-2]) ? "{lambda}" : "{unnamed}");
    return true;
  }
  for (const Operator& op : kOperators) {
    if (in.p[0] == op.code[0] && in.p[0] != '\0' && in.p[1] == op.code[1]) {
      in.p += 2;
      separate();
      w.put(op.name);
      return true;
    }
  }
  return false;
}

bool name(Reader& in, Writer& w, bool* first);

// N [qualifiers] components E
bool nested_name(Reader& in, Writer& w, bool* first) {
  while (in.take('r') || in.take('V') || in.take('K')) {
  }
  if (!in.take('R')) in.take('O');
  std::string_view last;
  while (!in.take('E')) {
    if (*in.p == '\0' || !component(in, w, &last, first)) return false;
  }
  return true;
}

// Z encoding E entity: the function, then what is local to it.
bool local_name(Reader& in, Writer& w, bool* first) {
  if (!name(in, w, first)) return false;
  if (!skip_to_close(in)) return false;  // the function's parameters
  if (in.take('s')) return true;         // a string literal
  if (in.take('d')) {                    // a default argument
    while (is_digit(*in.p)) ++in.p;
    if (!in.take('_')) return false;
  }
  return name(in, w, first);
}

bool name(Reader& in, Writer& w, bool* first) {
  if (in.take('N')) return nested_name(in, w, first);
  if (in.take('Z')) return local_name(in, w, first);
  std::string_view last;
  if (in.at('S') && in.p[1] == 't') {
    in.p += 2;
    if (!*first) w.put("::");
    w.put("std");
    *first = false;
  }
  if (!component(in, w, &last, first)) return false;
  if (in.take('I')) {
    if (!skip_to_close(in)) return false;
    w.put("<...>");
  }
  return true;
}

}  // namespace

const char* demangle_routine(const char* symbol, char* out, std::size_t cap) {
  if (symbol == nullptr || cap == 0 || std::strncmp(symbol, "_Z", 2) != 0) return symbol;
  Writer w{out, cap};
  out[0] = '\0';
  Reader in{symbol + 2};
  bool first = true;
  if (!name(in, w, &first) || w.n == 0) return symbol;
  return out;
}

}  // namespace rt
