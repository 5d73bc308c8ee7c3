// Command-line arguments.
#include "rt/args.h"

#include <cstring>
#include <limits>

#include "rt/memory.h"

namespace rt {

int for__l_argc = 0;
char** for__a_argv = nullptr;

void for__set_arguments(int argc, char** argv) {
  if (argc < 0 || argv == nullptr) {
    argc = 0;
    argv = nullptr;
  }
  for__l_argc = argc;
  for__a_argv = argv;
}

void GETARG(const std::int16_t* n, char* buffer, std::int32_t buffer_length, std::int16_t* status) {
  if (n == nullptr || *n < 0 || *n >= for__l_argc) {
    if (status != nullptr) *status = -1;
    return;
  }
  const char* arg = for__a_argv[*n] != nullptr ? for__a_argv[*n] : "";
  const std::size_t length = std::strlen(arg);
  if (buffer != nullptr && buffer_length > 0) {
    const auto cap = static_cast<std::size_t>(buffer_length);
    const std::size_t copied = length < cap ? length : cap;
    std::memcpy(buffer, arg, copied);
    std::memset(buffer + copied, ' ', cap - copied);
  }
  if (status != nullptr) {
    constexpr std::size_t kMax = std::numeric_limits<std::int16_t>::max();
    *status = static_cast<std::int16_t>(length < kMax ? length : kMax);
  }
}

std::int32_t NARGS() {
  return for__l_argc;
}

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// One pass of the split. With argv and chars null it only counts; with them
// set it fills the block laid out from those counts, so both passes must walk
// the line identically.
class Splitter {
 public:
  Splitter(std::string_view line, const LeadByteTable* lead, char** argv, char* chars)
      : s_(line), lead_(lead), argv_(argv), out_(chars) {}

  void run() {
    argument_zero();
    for (;;) {
      while (i_ < s_.size() && is_blank(s_[i_])) ++i_;
      if (i_ >= s_.size()) break;
      further_argument();
    }
    if (argv_ != nullptr) argv_[args_] = nullptr;
  }

  std::size_t args() const { return args_; }
  std::size_t chars() const { return chars_; }

 private:
  bool is_lead(char c) const {
    return lead_ != nullptr && lead_->lead[static_cast<unsigned char>(c)];
  }
  void put(char c) {
    if (out_ != nullptr) *out_++ = c;
    ++chars_;
  }
  void begin() {
    if (argv_ != nullptr) argv_[args_] = out_;
    ++args_;
  }
  void end() { put('\0'); }
  // Copies the character at i_ (with its trail byte when it is a lead byte)
  // and moves past it.
  void copy_character() {
    if (is_lead(s_[i_]) && i_ + 1 < s_.size()) put(s_[i_++]);
    put(s_[i_++]);
  }

  void argument_zero() {
    begin();
    if (i_ < s_.size() && s_[i_] == '"') {
      ++i_;
      while (i_ < s_.size() && s_[i_] != '"') copy_character();
      if (i_ < s_.size()) ++i_;  // the closing quote
    } else {
      while (i_ < s_.size() && !is_blank(s_[i_])) copy_character();
    }
    end();
  }

  void further_argument() {
    begin();
    bool in_quotes = false;
    for (;;) {
      std::size_t backslashes = 0;
      while (i_ < s_.size() && s_[i_] == '\\') {
        ++backslashes;
        ++i_;
      }
      bool copy = true;
      if (i_ < s_.size() && s_[i_] == '"') {
        if (backslashes % 2 == 0) {
          if (in_quotes && i_ + 1 < s_.size() && s_[i_ + 1] == '"') {
            ++i_;  // a doubled quote inside quotes: copy one, and the group ends
          } else {
            copy = false;
          }
          in_quotes = !in_quotes;
        }
        backslashes /= 2;
      }
      for (; backslashes != 0; --backslashes) put('\\');
      if (i_ >= s_.size() || (!in_quotes && is_blank(s_[i_]))) break;
      if (copy) {
        copy_character();
      } else {
        ++i_;
      }
    }
    end();
  }

  std::string_view s_;
  const LeadByteTable* lead_;
  char** argv_;
  char* out_;
  std::size_t i_ = 0;
  std::size_t args_ = 0;
  std::size_t chars_ = 0;
};

}  // namespace

void ArgumentBlock::Free::operator()(char** p) const {
  for__free_vm(p);
}

ArgumentBlock split_command_line(std::string_view line, std::string_view module_path,
                                 const LeadByteTable* lead_bytes) {
  line = line.substr(0, line.find('\0'));
  if (line.empty()) line = module_path.substr(0, module_path.find('\0'));

  Splitter count(line, lead_bytes, nullptr, nullptr);
  count.run();

  ArgumentBlock result;
  // Every argument holds at least its terminator, so the count is bounded by
  // the line length; only a count beyond int needs refusing.
  if (count.args() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return result;
  const std::size_t pointers = (count.args() + 1) * sizeof(char*);
  // for__get_vm is malloc: storage aligned for the pointers that, in C++20, implicitly
  // creates the pointer array and the characters that follow it.
  result.block_.reset(static_cast<char**>(for__get_vm(pointers + count.chars())));
  if (result.block_ == nullptr) return result;

  char** argv = result.block_.get();
  Splitter fill(line, lead_bytes, argv, reinterpret_cast<char*>(argv) + pointers);
  fill.run();
  result.argc_ = static_cast<int>(fill.args());
  return result;
}

}  // namespace rt
