// The platform's reads of a fuzz target's units, as its input scripts them:
// the scripted stream in turn, each read cut to the next of the scripted
// sizes, and one read failing if the target asks for it. The read seam takes
// no context, so the script is the process's one.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "harness.h"
#include "recio/record_io.h"

namespace fuzz {

struct ReadScript {
  std::vector<std::size_t> sizes;  // largest byte count of each read, in turn, cyclic
  std::size_t fail_at = 0;         // this read (from 1) fails with EIO; 0: none
  std::string_view stream;
  std::size_t pos = 0;
  std::size_t calls = 0;
};
inline ReadScript read_script;

inline long scripted_read(int, char* buffer, std::size_t count, int* error) {
  ReadScript& s = read_script;
  ++s.calls;
  if (s.calls == s.fail_at) {
    *error = EIO;
    return -1;
  }
  std::size_t n = std::min(count, s.stream.size() - s.pos);
  if (!s.sizes.empty()) n = std::min(n, s.sizes[(s.calls - 1) % s.sizes.size()]);
  std::memcpy(buffer, s.stream.data() + s.pos, n);
  s.pos += n;
  return static_cast<long>(n);
}

// A quiet run-time whose reads follow the script; the empty scratch file a
// target's unit is connected to.
inline const char* start_scripted_reads() {
  quiet_run_time();
  recio::for__set_read_input_seam(scripted_read);
  return empty_scratch_file();
}

// A new script whose read sizes come from the input: a byte whose low four
// bits count them, then a byte each (255: unlimited, else one more than it).
inline void new_read_script(Bytes& in) {
  read_script = ReadScript{};
  for (std::size_t i = 0, n = in.take() & 15u; i < n; ++i) {
    const std::uint8_t b = in.take();
    read_script.sizes.push_back(b == 255 ? SIZE_MAX : std::size_t{b} + 1);
  }
}

}  // namespace fuzz
