#include "rt/args.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// Installs an argument table for one test and restores the previous one.
class GetargTest : public ::testing::Test {
 protected:
  void use(std::vector<std::string> args) {
    storage_ = std::move(args);
    pointers_.clear();
    for (auto& a : storage_) pointers_.push_back(a.data());
    pointers_.push_back(nullptr);
    rt::for__set_arguments(static_cast<int>(storage_.size()), pointers_.data());
  }
  void TearDown() override { rt::for__set_arguments(saved_argc_, saved_argv_); }

 private:
  int saved_argc_ = rt::for__l_argc;
  char** saved_argv_ = rt::for__a_argv;
  std::vector<std::string> storage_;
  std::vector<char*> pointers_;
};

TEST_F(GetargTest, CopiesPadsAndReportsLength) {
  const std::string long_arg(100, 'L');
  const std::string huge_arg(40000, 'H');
  use({"mapconv", "abcde", "", long_arg, huge_arg});
  struct Case {
    std::int16_t n;
    std::int32_t length;
    std::string buffer;  // 80 'x' before the call
    std::int16_t status;
  };
  const std::string untouched(80, 'x');
  const Case cases[] = {
      {0, 80, "mapconv" + std::string(73, ' '), 7},
      {1, 80, "abcde" + std::string(75, ' '), 5},
      {2, 80, std::string(80, ' '), 0},  // present but empty: no prompt
      {3, 80, long_arg.substr(0, 80), 100},
      {4, 80, std::string(80, 'H'), 32767},  // never wraps to a negative "absent"
      {1, 3, "abc" + std::string(77, 'x'), 5},
      {1, 0, untouched, 5},
      {1, -4, untouched, 5},
      {5, 80, untouched, -1},
      {-1, 80, untouched, -1},
      {-32768, 80, untouched, -1},
  };
  for (const Case& c : cases) {
    std::string buffer = untouched;
    std::int16_t status = 99;
    rt::GETARG(&c.n, buffer.data(), c.length, &status);
    EXPECT_EQ(buffer, c.buffer) << "n=" << c.n << " length=" << c.length;
    EXPECT_EQ(status, c.status) << "n=" << c.n << " length=" << c.length;
  }
  EXPECT_EQ(rt::NARGS(), 5);

  std::string buffer = untouched;
  const std::int16_t one = 1;
  rt::GETARG(&one, buffer.data(), 80, nullptr);
  EXPECT_EQ(buffer, "abcde" + std::string(75, ' '));
  std::int16_t status = 0;
  rt::GETARG(nullptr, buffer.data(), 80, &status);
  EXPECT_EQ(status, -1);
}

TEST_F(GetargTest, ProgramNameAloneHasNoArgumentOne) {
  use({"mapconv"});
  std::string buffer(80, 'x');
  std::int16_t status = 0;
  const std::int16_t n = 1;
  rt::GETARG(&n, buffer.data(), 80, &status);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(buffer, std::string(80, 'x'));
  EXPECT_EQ(rt::NARGS(), 1);
}

std::vector<std::string> split(std::string_view line, const rt::LeadByteTable* lead = nullptr,
                               std::string_view module = "/opt/mapconv/bin/mapconv") {
  const rt::ArgumentBlock block = rt::split_command_line(line, module, lead);
  EXPECT_TRUE(block.ok());
  std::vector<std::string> args;
  for (int i = 0; i < block.argc(); ++i) args.emplace_back(block.argv()[i]);
  EXPECT_EQ(block.argv()[block.argc()], nullptr);
  return args;
}

using Args = std::vector<std::string>;

TEST(SplitCommandLine, QuotingRules) {
  struct Case {
    std::string_view line;
    Args args;
  };
  const Case cases[] = {
      {"", {"/opt/mapconv/bin/mapconv"}},
      {"mapconv in.map out.bin", {"mapconv", "in.map", "out.bin"}},
      // Argument 0: quoted keeps blanks and backslashes; the next character starts argument 1.
      {R"("C:\Program Files\mapconv.exe" in.map)", {R"(C:\Program Files\mapconv.exe)", "in.map"}},
      {R"("my prog"next b)", {"my prog", "next", "b"}},
      {R"("unterminated prog)", {"unterminated prog"}},
      // Unquoted argument 0 ends at the first blank, whatever follows.
      {R"(mapconv "a b")", {"mapconv", "a b"}},
      {R"(map"conv x y)", {R"(map"conv)", "x", "y"}},
      {R"(C:\bin\mapconv.exe x)", {R"(C:\bin\mapconv.exe)", "x"}},
      {" mapconv", {"", "mapconv"}},
      // Backslashes count only before a quote.
      {R"(p "C:\maps\" rest of line")", {"p", R"(C:\maps" rest of line)"}},
      {R"(p "C:\maps\\" next)", {"p", R"(C:\maps\)", "next"}},
      {R"(p a\\b c\)", {"p", R"(a\\b)", R"(c\)"}},
      {R"(p \\\"x)", {"p", R"(\"x)"}},
      {R"(p \\\\"x y")", {"p", R"(\\x y)"}},
      // Quotes group and vanish; a doubled quote inside a group is one quote and ends it.
      {R"(p "a""b")", {"p", R"(a"b)"}},
      {R"(p "a""b c")", {"p", R"(a"b)", "c"}},
      {R"(p a""b)", {"p", "ab"}},
      {R"(p a"b c"d e)", {"p", "ab cd", "e"}},
      {R"(p "")", {"p", ""}},
      // Only blank and tab separate.
      {"p\ta\t\tb   ", {"p", "a", "b"}},
      {"p \"a\tb\"", {"p", "a\tb"}},
      {"p a\vb\rc", {"p", "a\vb\rc"}},
      {std::string_view("p a\0b", 5), {"p", "a"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.line), c.args) << c.line;
  EXPECT_EQ(split("", nullptr, ""), Args{""});
}

TEST(SplitCommandLine, LeadBytesCarryTheirTrailByte) {
  rt::LeadByteTable dbcs;
  for (int b = 0x81; b <= 0x9F; ++b) dbcs.lead[b] = true;
  for (int b = 0xE0; b <= 0xFC; ++b) dbcs.lead[b] = true;
  struct Case {
    std::string_view line;
    Args args;
  };
  const Case cases[] = {
      {"p \x81\" x", {"p", "\x81\"", "x"}},
      {"p \x81\\\" x\"", {"p", "\x81\\ x"}},
      {"p \x81 x", {"p", "\x81 x"}},
      {"p \"\x81\"\"", {"p", "\x81\""}},
      {"\"\x81\" prog\" a", {"\x81\" prog", "a"}},
      {"\x81 x y", {"\x81 x", "y"}},
      {"p \x81", {"p", "\x81"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.line, &dbcs), c.args) << c.line;
  // A single-byte code page reads the same bytes as ordinary characters.
  EXPECT_EQ(split("p \x81\" x", nullptr), (Args{"p", "\x81 x"}));
}

TEST(SplitCommandLine, VectorSurvivesAMove) {
  rt::ArgumentBlock block = rt::split_command_line("prog a b", "", nullptr);
  const rt::ArgumentBlock moved = std::move(block);
  ASSERT_EQ(moved.argc(), 3);
  EXPECT_STREQ(moved.argv()[2], "b");
}

}  // namespace
