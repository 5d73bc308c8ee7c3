// baseline_stream: a plain streaming converter, the yardstick for the converter's run
// time.
//
//   baseline_stream IN OUT
//
// Reads the input in 1 MiB blocks, finds line ends with memchr, parses values with
// std::from_chars (map_text.h), and writes each plane record with one write as soon as
// its lines are read, so memory stays bounded by the block and one plane whatever the
// size of the map. The bytes written are the converter's. Unlike the converter it
// writes while reading: a map that ends inside the field leaves a partial output behind
// (the run still fails), and an output naming the input file is refused.
// Exit status: 0 on success, 1 for a problem the converter reports as a message, 2 for
// anything else.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "map_text.h"

namespace {

using maptext::Failure;
using maptext::Fd;

constexpr std::size_t kBlock = std::size_t{1} << 20;

// Lines of a file read in blocks: LF ends a line, one CR before it is dropped, a last
// line without LF still counts, and a line holding only Ctrl-Z reads as the end. A line
// stays valid until the next call.
class BlockLines {
 public:
  BlockLines(int fd, const char* path)
      : fd_(fd), path_(path), buf_(std::make_unique_for_overwrite<char[]>(kBlock)) {}
  long line_number() const { return line_number_; }

  bool next(std::string_view& line) {
    for (;;) {
      char* p = buf_.get() + begin_;
      const std::size_t left = end_ - begin_;
      if (auto* lf = static_cast<char*>(std::memchr(p, '\n', left))) {
        const char* last = lf != p && lf[-1] == '\r' ? lf - 1 : lf;
        return take(line, p, last, static_cast<std::size_t>(lf + 1 - buf_.get()));
      }
      if (eof_) {
        if (left == 0) return false;
        return take(line, p, p + left, end_);
      }
      // The partial line moves to the front and the rest of the block is filled.
      std::memmove(buf_.get(), p, left);
      begin_ = 0;
      end_ = left;
      if (end_ == kBlock) fail("a line longer than 1 MiB");
      const ssize_t n = ::read(fd_, buf_.get() + end_, kBlock - end_);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) fail(std::string("read error on ") + path_);
      if (n == 0) eof_ = true;
      end_ += static_cast<std::size_t>(n > 0 ? n : 0);
    }
  }

 private:
  bool take(std::string_view& line, const char* first, const char* last, std::size_t next) {
    line = std::string_view(first, static_cast<std::size_t>(last - first));
    begin_ = next;
    ++line_number_;
    return line != "\x1a";
  }
  [[noreturn]] static void fail(const std::string& why) { throw Failure{2, why}; }

  int fd_;
  const char* path_;
  std::unique_ptr<char[]> buf_;
  std::size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
  long line_number_ = 0;
};

void convert(const char* in_path, const char* out_path) {
  Fd in(::open(in_path, O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw Failure{1, "Cannot open the MAP file"};
  BlockLines lines(in.get(), in_path);
  const maptext::Header h = maptext::read_header(lines);

  // Writing while reading would truncate the input under our feet.
  struct stat in_st {
  }, out_st{};
  if (::fstat(in.get(), &in_st) == 0 && ::stat(out_path, &out_st) == 0 &&
      in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino)
    throw Failure{2, std::string(out_path) + " is the input file"};
  Fd out(::open(out_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (out.get() < 0) throw Failure{2, std::string("cannot create ") + out_path};
  const auto write = [&](const char* p, std::size_t n) {
    if (!maptext::write_all(out.get(), p, n))
      throw Failure{2, std::string("write error on ") + out_path};
  };

  char header[maptext::Header::kRecordBytes];
  h.records(header);
  write(header, sizeof header);

  // One framed plane record, rewritten for every plane.
  const std::size_t plane_bytes = 4 * h.plane_values();
  std::vector<char> plane(plane_bytes + 8);
  const auto len = static_cast<std::uint32_t>(plane_bytes);
  std::memcpy(plane.data(), &len, 4);
  std::memcpy(plane.data() + 4 + plane_bytes, &len, 4);
  std::string_view line;
  for (std::size_t k = 0; k < h.planes(); ++k) {
    char* p = plane.data() + 4;
    for (std::size_t i = 0; i < h.points_per_plane(); ++i) {
      if (!lines.next(line)) throw Failure{1, "Reading error: FIELDs"};
      maptext::Values v(line, lines.line_number());
      const float c[3] = {v.real(), v.real(), v.real()};
      std::memcpy(p, c, sizeof c);
      p += sizeof c;
    }
    write(plane.data(), plane.size());
  }
  if (::close(out.release()) != 0) throw Failure{2, std::string("write error on ") + out_path};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: baseline_stream IN OUT\n", stderr);
    return 2;
  }
  try {
    convert(argv[1], argv[2]);
  } catch (const Failure& f) {
    if (f.exit_code == 1) {
      std::printf(" %s\r\n", f.text.c_str());
    } else {
      std::fprintf(stderr, "baseline_stream: %s\n", f.text.c_str());
    }
    return f.exit_code;
  }
  std::fputs(" conversion done.\r\n", stdout);
  return 0;
}
