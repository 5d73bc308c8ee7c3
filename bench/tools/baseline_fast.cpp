// baseline_fast: converts a formatted map with the whole input mapped into memory, as a
// second yardstick for the converter's run time.
//
//   baseline_fast IN OUT
//
// The input is mapped whole, lines are found with memchr, numbers parsed with
// std::from_chars (map_text.h), and the field is parsed straight into its place in one
// output buffer that is written with a single write. The grid-point lines already come in
// the order of the plane records (component, then i, then j), so no separate field array
// is needed. Faulting in the mapping and the output buffer costs more than reading in
// blocks (baseline_stream), so this is not the lower bound it looks like.
// Exit status: 0 on success, 1 for a problem the converter reports as a message, 2 for
// anything else.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "map_text.h"

namespace {

using maptext::Failure;
using maptext::Fd;

// The whole input file, read-only. Closed (unmapped) before the output is opened, so
// the output may be the input file itself.
class MappedFile {
 public:
  explicit MappedFile(const char* path) {
    Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return;
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ > 0) {
      void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd.get(), 0);
      if (p == MAP_FAILED) return;
      data_ = static_cast<const char*>(p);
      ::madvise(p, size_, MADV_SEQUENTIAL);
    }
    ok_ = true;
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() { close(); }

  void close() {
    if (data_ != nullptr) ::munmap(const_cast<char*>(data_), size_);
    data_ = nullptr;
  }
  bool ok() const { return ok_; }
  const char* begin() const { return data_; }
  const char* end() const { return data_ + size_; }

 private:
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  bool ok_ = false;
};

// Splits the mapped text into lines: LF ends a line, one CR before it is dropped, a
// last line without LF still counts, and a line holding only Ctrl-Z reads as the end.
class Lines {
 public:
  Lines(const char* begin, const char* end) : p_(begin), end_(end) {}
  long line_number() const { return line_number_; }

  bool next(std::string_view& line) {
    if (p_ == end_) return false;
    const auto* lf = static_cast<const char*>(std::memchr(p_, '\n', end_ - p_));
    const char* stop = lf != nullptr ? lf : end_;
    const char* last = stop;
    if (last != p_ && last[-1] == '\r') --last;
    line = std::string_view(p_, static_cast<std::size_t>(last - p_));
    p_ = lf != nullptr ? lf + 1 : end_;
    ++line_number_;
    return line != "\x1a";
  }

 private:
  const char* p_;
  const char* end_;
  long line_number_ = 0;
};

void convert(const char* in_path, const char* out_path) {
  MappedFile in(in_path);
  if (!in.ok()) throw Failure{1, "Cannot open the MAP file"};
  Lines lines(in.begin(), in.end());
  const maptext::Header h = maptext::read_header(lines);

  const std::size_t plane_bytes = 4 * h.plane_values();
  std::vector<char> out(maptext::Header::kRecordBytes + h.planes() * (plane_bytes + 8));
  h.records(out.data());
  char* p = out.data() + maptext::Header::kRecordBytes;
  const auto len = static_cast<std::uint32_t>(plane_bytes);
  std::string_view line;
  for (std::size_t k = 0; k < h.planes(); ++k) {
    std::memcpy(p, &len, 4);
    p += 4;
    for (std::size_t i = 0; i < h.points_per_plane(); ++i) {
      if (!lines.next(line)) throw Failure{1, "Reading error: FIELDs"};
      maptext::Values v(line, lines.line_number());
      const float c[3] = {v.real(), v.real(), v.real()};
      std::memcpy(p, c, sizeof c);
      p += sizeof c;
    }
    std::memcpy(p, &len, 4);
    p += 4;
  }
  in.close();

  Fd fd(::open(out_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) throw Failure{2, std::string("cannot create ") + out_path};
  if (!maptext::write_all(fd.get(), out.data(), out.size()) || ::close(fd.release()) != 0)
    throw Failure{2, std::string("write error on ") + out_path};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: baseline_fast IN OUT\n", stderr);
    return 2;
  }
  try {
    convert(argv[1], argv[2]);
  } catch (const Failure& f) {
    if (f.exit_code == 1) {
      std::printf(" %s\r\n", f.text.c_str());
    } else {
      std::fprintf(stderr, "baseline_fast: %s\n", f.text.c_str());
    }
    return f.exit_code;
  }
  std::fputs(" conversion done.\r\n", stdout);
  return 0;
}
