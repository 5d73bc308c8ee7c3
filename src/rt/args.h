// Command-line arguments: the process-wide argument table, GETARG and NARGS,
// and the splitting of a command line handed over as one string.
//
// The table is set once at start-up (for__set_arguments) and only read after
// that; the strings it points to must outlive the run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace rt {

// Process-wide state of the run-time: argument count (argument 0, the program
// name, included) and vector, ended by a null entry. Zero and null until set.
extern int for__l_argc;
extern char** for__a_argv;

// Takes over the start-up layer's argument table. A negative count or a null
// vector leaves the table empty.
void for__set_arguments(int argc, char** argv);

// Copies argument *n into buffer[0..buffer_length), blank-padded, and stores
// its full length in *status. An argument number that is negative or not less
// than the count (or a null n) stores -1 and leaves the buffer untouched. A
// length of 0 or less copies and fills nothing. status may be null. Lengths
// above 32767 are reported as 32767 so that they never read as "absent".
void GETARG(const std::int16_t* n, char* buffer, std::int32_t buffer_length, std::int16_t* status);

// The argument count, argument 0 included.
std::int32_t NARGS();

// Which bytes of the active code page begin a two-byte character.
struct LeadByteTable {
  std::array<bool, 256> lead{};
};

// An argument vector in one owned block: the argc + 1 pointers, then the
// characters they point to. Moving keeps the pointers valid.
class ArgumentBlock {
 public:
  ArgumentBlock() = default;

  // False when the block could not be allocated.
  bool ok() const { return block_ != nullptr; }
  int argc() const { return argc_; }
  // argv()[argc()] is null; the whole vector is null when !ok().
  char** argv() const { return block_.get(); }

 private:
  friend ArgumentBlock split_command_line(std::string_view, std::string_view, const LeadByteTable*);
  struct Free {
    void operator()(char** p) const;
  };
  std::unique_ptr<char*, Free> block_;
  int argc_ = 0;
};

// Splits a command line into arguments. An empty line stands for the module
// path. Argument 0 is either quoted (up to the next double quote, nothing
// interpreted) or runs to the first blank or tab. Further arguments are
// separated by blanks and tabs only; double quotes group, 2n backslashes
// before a quote give n backslashes and a grouping quote, 2n+1 give n
// backslashes and a literal quote, and a doubled quote inside a group gives
// one quote and ends the group. A lead byte (lead_bytes null: single-byte code
// page) is copied with the byte after it, which is never taken as a quote,
// backslash, blank or tab. The line ends at its first NUL.
ArgumentBlock split_command_line(std::string_view line, std::string_view module_path,
                                 const LeadByteTable* lead_bytes);

}  // namespace rt
