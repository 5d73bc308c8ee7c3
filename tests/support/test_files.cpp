#include "support/test_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

#ifdef _WIN32
// A death test's child on Windows is a new process that runs the test again
// from its start: the directory is named from the parent process and the
// test, so that the child works in its parent's.
namespace {
std::string scratch_name() {
  static constexpr char kRun[] = "MAPCONV_TEST_RUN";
  if (std::getenv(kRun) == nullptr) _putenv_s(kRun, std::to_string(_getpid()).c_str());
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("mapconv-test-") + std::getenv(kRun);
  if (test != nullptr)
    name.append("-").append(test->test_suite_name()).append("-").append(test->name());
  static std::string last;
  static int count = 0;
  count = name == last ? count + 1 : 0;
  last = name;
  name.append("-").append(std::to_string(count));
  for (char& c : name) {
    if (c == '/' || c == '\\' || c == ':') c = '_';
  }
  return name;
}
}  // namespace

ScratchDir::ScratchDir() {
  path_ = (std::filesystem::temp_directory_path() / scratch_name()).string();
  if (!::testing::internal::InDeathTestChild()) std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}
#else
ScratchDir::ScratchDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "mapconv-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}
#endif

std::string ScratchDir::file(const std::string& name) const {
  return (std::filesystem::path(path_) / std::filesystem::path(name).make_preferred()).string();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

}  // namespace testsupport
