// mapdump's main routine: the command line, the map read record by record
// (or by CONVERT for a text map), the text or the summary written.
#include "app/mapdump.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "app/convert.h"
#include "app/descriptors.h"
#include "app/map_header.h"
#include "app/map_location.h"
#include "app/map_text.h"
#include "app/version.h"
#include "recio/foreign.h"
#include "recio/io_api.h"
#include "rt/args.h"
#include "rt/catalog.h"
#include "rt/handover.h"
#include "rt/temporary_files.h"

namespace app {
namespace {

using namespace desc;
using recio::IoArg;
using recio::IoControlBlock;

// The map is read on the converter's output unit, so FORT_CONVERT21 means
// the same to both programs.
constexpr std::int32_t kMapUnit = 21;
constexpr std::uint32_t kCheck = recio::kFlagsErrBranch;
constexpr std::uint32_t kTitleLength = kTitleRecordBytes;
constexpr std::size_t kFlushAt = 64 * 1024;
constexpr char kCannotHold[] = ": the text cannot hold it";
// Names FILE.mapdump-0, -1, ... tried for the text before it is whole.
constexpr int kTemporaryNameTries = 1000;
// The summary's names stand in a column of this width.
constexpr std::size_t kSummaryNameColumn = 16;

constexpr char kUsage[] =
    "Usage: mapdump [-s] [-c REPRESENTATION] [-o OUTPUT] MAP\n"
    "       mapdump --help | -h | --version\n"
    "\n"
    "Writes the map MAP as the text of a formatted map file, which mapconv\n"
    "converts back to the same bytes. MAP is an unformatted map file (its byte\n"
    "order is found from its first record) or a formatted (text) map.\n"
    "\n"
    "  -s                 print a summary instead: the header fields, the\n"
    "                     representation, the grid points and per component\n"
    "                     the minimum, maximum, mean and non-finite values\n"
    "  -c REPRESENTATION  read MAP in this representation: BIG_ENDIAN,\n"
    "                     LITTLE_ENDIAN, NATIVE, IBM, CRAY, TYRD, TYRG, FDX, FGX\n"
    "                     (the values of FORT_CONVERT21, which also applies)\n"
    "  -o OUTPUT          write to OUTPUT (replaced only when the dump succeeds)\n"
    "                     instead of standard output\n"
    "  -h, --help         show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 not a map or not one that text can hold,\n"
    "2 usage error (FORT_CONVERT21 naming no representation too), 3 a file\n"
    "that cannot be opened, read or written.\n"
    "The manual (man mapdump) describes the text and every message.\n";

struct Options {
  bool summary = false;
  std::string output;          // empty: standard output
  std::string representation;  // upper case; empty: found from the file
  std::string map;
};

void say(const std::string& text) {
  std::string line = "mapdump: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::string upper(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool is_representation(const std::string& name) {
  return std::any_of(std::begin(recio::kForeignSelections), std::end(recio::kForeignSelections),
                     [&](const recio::ForeignSelection& s) { return name == s.value; });
}

// The catalog's text of a statement's status, without its unit and file.
std::string condition_text(int status) {
  std::string text = rt::catalog_lookup(msg::severe(static_cast<std::uint16_t>(status)));
  if (const std::size_t at = text.find(", unit "); at != std::string::npos) text.resize(at);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The command line; -1 to go on, otherwise the run's status.
int parse_arguments(Options* o) {
  bool files_only = false;
  for (int i = 1; i < rt::for__l_argc; ++i) {
    const std::string_view arg = rt::for__a_argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 < rt::for__l_argc) return rt::for__a_argv[++i];
      say(std::string("option ") + what + " needs a value (mapdump --help shows the usage)");
      return nullptr;
    };
    if (files_only || arg.empty() || arg[0] != '-' || arg == "-") {
      if (!o->map.empty()) {
        say("one map at a time: " + std::string(arg) + " follows " + o->map);
        return kDumpUsage;
      }
      o->map = arg;
    } else if (arg == "--") {
      files_only = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 ? kDumpDone : kDumpFileError;
    } else if (arg == "--version") {
      std::printf("mapdump %s\n", kProgramVersion);
      return std::fflush(stdout) == 0 ? kDumpDone : kDumpFileError;
    } else if (arg == "-s") {
      o->summary = true;
    } else if (arg == "-o") {
      const char* v = value("-o");
      if (v == nullptr) return kDumpUsage;
      o->output = v;
    } else if (arg == "-c") {
      const char* v = value("-c");
      if (v == nullptr) return kDumpUsage;
      o->representation = upper(v);
      if (!is_representation(o->representation)) {
        say("unknown representation " + std::string(v) +
            " (BIG_ENDIAN, LITTLE_ENDIAN, NATIVE, IBM, CRAY, TYRD, TYRG, FDX or FGX)");
        return kDumpUsage;
      }
    } else {
      say("unknown option " + std::string(arg) + " (mapdump --help shows the usage)");
      return kDumpUsage;
    }
  }
  if (o->map.empty()) {
    say("no map named (mapdump --help shows the usage)");
    return kDumpUsage;
  }
  return -1;
}

// Where the text goes: standard output, or a file written under a temporary
// name beside OUTPUT and renamed over it only when the whole text is there.
class TextOut {
 public:
  ~TextOut() { abandon(); }

  bool open(const std::string& output) {
    if (output.empty()) {
      file_ = stdout;
      return true;
    }
    final_ = output;
    for (int n = 0; n < kTemporaryNameTries && temp_.empty(); ++n) {
      std::string candidate = output + ".mapdump-" + std::to_string(n);
      std::error_code ec;
      if (!std::filesystem::exists(candidate, ec) && !ec) temp_ = candidate;
    }
    if (!temp_.empty()) file_ = std::fopen(temp_.c_str(), "wb");
    // The text gathers in buffer_ and goes out in large writes of its own.
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IONBF, 0);
    if (file_ == nullptr) {
      say("cannot create " + output + (temp_.empty() ? "" : " (as " + temp_ + ")") + ": " +
          std::strerror(errno));
      temp_.clear();
      return false;
    }
    // Known to the run-time, which removes it when a console event or a
    // severe condition ends the process before the text is whole.
    temp_slot_ = rt::for__register_temporary(temp_.c_str(), file_);
    if (temp_slot_ < 0) {
      say("cannot create " + output + " (as " + temp_ + "): more temporary files than the " +
          std::to_string(rt::kTemporaryFileSlots) + " the run-time can remove on an interruption");
      abandon();
      return false;
    }
    return true;
  }

  void put(std::string_view text) {
    if (used_ + text.size() > kBufferSize) flush();
    if (text.size() > kBufferSize) {
      write(text.data(), text.size());
      return;
    }
    std::memcpy(buffer_.get() + used_, text.data(), text.size());
    used_ += text.size();
  }
  // Room for one grid point's line at the end of the text.
  char* line_room() { return buffer_.get() + used_; }
  // The line written there is part of the text; a full buffer is written out.
  bool commit_line(std::size_t n) {
    used_ += n;
    return used_ < kFlushAt || flush();
  }

  bool started() const { return written_ || used_ != 0; }
  bool to_standard_output() const { return file_ == stdout; }

  bool flush() {
    const bool ok = write(buffer_.get(), used_);
    used_ = 0;
    return ok;
  }

  // The text is whole: flushed, closed and given its name.
  bool finish() {
    if (!flush()) return false;
    if (file_ == stdout) {
      int flushed;
      {
        rt::BlockingCall may_block;
        flushed = std::fflush(stdout);
      }
      if (flushed != 0) fail_write();
      return !failed_;
    }
    forget_temporary();
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0) {
      fail_write();
      return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp_, final_, ec);
    if (ec) {
      say("cannot give " + temp_ + " the name " + final_ + ": " + ec.message());
      failed_ = true;
      abandon();
      return false;
    }
    temp_.clear();
    return true;
  }

  // A failed dump leaves no partial output file behind.
  void abandon() {
    forget_temporary();
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    if (file_ != stdout) file_ = nullptr;
    if (!temp_.empty()) {
      std::error_code ec;
      std::filesystem::remove(temp_, ec);
      temp_.clear();
    }
  }

 private:
  // Taken back from the run-time before the file is closed or renamed.
  void forget_temporary() {
    rt::for__forget_temporary(temp_slot_);
    temp_slot_ = -1;
  }

  void fail_write() {
    if (!failed_)
      say("cannot write " + (file_ == stdout ? std::string("the standard output") : final_) + ": " +
          std::strerror(errno));
    failed_ = true;
  }

  bool write(const char* bytes, std::size_t n) {
    if (file_ == nullptr || failed_) return false;
    if (n != 0 && !written_whole(bytes, n)) {
      fail_write();
      return false;
    }
    written_ = written_ || n != 0;
    return true;
  }

  // Standard output may be a pipe whose reader stopped reading: the write
  // then blocks without limit, and a console event must still end the run
  // there. A file of our own is never written inside such a call: the event
  // closes and removes it, which it must not do under a write in progress.
  bool written_whole(const char* bytes, std::size_t n) {
    if (file_ != stdout) return std::fwrite(bytes, 1, n, file_) == n;
    rt::BlockingCall may_block;
    return std::fwrite(bytes, 1, n, file_) == n;
  }

  // Room for the text written at once, and a line beyond it.
  static constexpr std::size_t kBufferSize = kFlushAt + kPointLineMax;
  std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(kBufferSize);
  std::size_t used_ = 0;
  std::FILE* file_ = nullptr;
  std::string final_, temp_;
  int temp_slot_ = -1;  // the run-time's slot of temp_, -1 for none
  bool written_ = false, failed_ = false;
};

// Per component: the extremes and mean of the finite values, and how many
// values are not finite.
struct ComponentFigures {
  float min = INFINITY, max = -INFINITY;
  double sum = 0;
  std::int64_t finite = 0, not_finite = 0;
};

// Gathers the map as it is read: the text, or the summary's figures.
class Presenter {
 public:
  Presenter(const Options& o, TextOut* out) : o_(o), out_(out) {}

  bool header(const MapHeader& h, std::string* why) {
    header_ = h;
    if (o_.summary) return true;
    std::string text;
    if (!append_header_lines(h, &text, why)) {
      *why += kCannotHold;
      return false;
    }
    out_->put(text);
    return true;
  }

  // Point p (0-based, file order) of the map.
  bool point(const float* v, std::int64_t p, std::string* why) {
    if (o_.summary) {
      for (int m = 0; m < kComponents; ++m) {
        ComponentFigures& f = figures_[m];
        if (!std::isfinite(v[m])) {
          ++f.not_finite;
          continue;
        }
        f.min = std::min(f.min, v[m]);
        f.max = std::max(f.max, v[m]);
        f.sum += v[m];
        ++f.finite;
      }
      return true;
    }
    for (int m = 0; m < kComponents; ++m) {
      if (std::isfinite(v[m])) continue;
      const std::int64_t nx = header_.NX, ny = header_.NY;
      *why = "grid point (" + std::to_string(p % nx + 1) + ", " + std::to_string(p / nx % ny + 1) +
             ", " + std::to_string(p / (nx * ny) + 1) + "), component " + std::to_string(m + 1) +
             ", is " + (std::isnan(v[m]) ? "NaN" : "infinite") + kCannotHold;
      return false;
    }
    return out_->commit_line(format_point_line(v, out_->line_room()));
  }

  void summary(const std::string& representation, std::int64_t points) {
    std::string t;
    auto text = [&](const char* name, const char* bytes, std::size_t n) {
      std::string_view v(bytes, n);
      const bool unset = v.find_first_not_of('\0') == std::string_view::npos;
      v = v.substr(0, v.find_last_not_of(' ') + 1);
      t += std::string(name) + std::string(kSummaryNameColumn - std::strlen(name), ' ') +
           (unset ? "(never assigned: NUL bytes)" : std::string(v)) + "\n";
    };
    auto real = [&](const char* name, float v) {
      char digits[kRealColumn + 16];
      std::size_t n = 0;
      if (std::isfinite(v)) {
        n = format_real(v, digits);
        if (v == 0.0f && std::signbit(v))
          n = static_cast<std::size_t>(std::snprintf(digits, sizeof digits, "-0"));
      } else {
        n = static_cast<std::size_t>(std::snprintf(digits, sizeof digits, "%s",
                                                   std::isnan(v) ? "NaN"
                                                   : v > 0       ? "Infinity"
                                                                 : "-Infinity"));
      }
      t += std::string(name) + std::string(kSummaryNameColumn - std::strlen(name), ' ') +
           std::string(digits, n) + "\n";
    };
    auto integer = [&](const char* name, std::int64_t v) {
      t += std::string(name) + std::string(kSummaryNameColumn - std::strlen(name), ' ') +
           std::to_string(v) + "\n";
    };
    const MapHeader& h = header_;
    text("TITLE", h.TITLE, sizeof h.TITLE);
    text("DATE", h.DATE, sizeof h.DATE);
    text("AXA", h.AXA, sizeof h.AXA);
    text("AXB", h.AXB, sizeof h.AXB);
    text("AXC", h.AXC, sizeof h.AXC);
    real("ANGLE", h.ANGLE);
    real("XMIN", h.XMIN);
    real("YMIN", h.YMIN);
    real("ZMIN", h.ZMIN);
    const char* int_names[] = {"ISA", "ISB", "ISC", "IMA", "IMB", "IMC", "IDA", "IDB", "IDC"};
    const std::int32_t ints[] = {h.ISA, h.ISB, h.ISC, h.IMA, h.IMB, h.IMC, h.IDA, h.IDB, h.IDC};
    for (std::size_t i = 0; i < std::size(ints); ++i) integer(int_names[i], ints[i]);
    real("DX", h.DX);
    real("DY", h.DY);
    real("DZ", h.DZ);
    integer("NX", h.NX);
    integer("NY", h.NY);
    integer("NZ", h.NZ);
    t += "representation  " + representation + "\n";
    integer("grid points", points);
    char line[160];
    std::snprintf(line, sizeof line, "%-10s%16s%16s%18s%12s\n", "component", "minimum", "maximum",
                  "mean", "not finite");
    t += line;
    for (int m = 0; m < kComponents; ++m) {
      const ComponentFigures& f = figures_[m];
      char lo[kRealColumn] = "-", hi[kRealColumn] = "-", mean[32] = "-";
      if (f.finite > 0) {
        lo[format_real(f.min, lo)] = '\0';
        hi[format_real(f.max, hi)] = '\0';
        std::snprintf(mean, sizeof mean, "%.9g", f.sum / static_cast<double>(f.finite));
      }
      std::snprintf(line, sizeof line, "%-10d%16s%16s%18s%12lld\n", m + 1, lo, hi, mean,
                    static_cast<long long>(f.not_finite));
      t += line;
    }
    out_->put(t);
  }

 private:
  const Options& o_;
  TextOut* out_;
  MapHeader header_{};
  ComponentFigures figures_[kComponents];
};

// OPEN of the map for reading, with a CONVERT selection when one is named.
int open_map(const std::string& name, const std::string& representation) {
  static constexpr recio::KeywordEntry kPlain[] = {
      {recio::kTextItem, recio::kKeyFile},
      {recio::kTextItem, recio::kKeyStatus},
      {recio::kTextItem, recio::kKeyForm},
      {recio::kTextItem, recio::kKeyAction},
  };
  static constexpr recio::KeywordEntry kConverted[] = {
      {recio::kTextItem, recio::kKeyFile},    {recio::kTextItem, recio::kKeyStatus},
      {recio::kTextItem, recio::kKeyForm},    {recio::kTextItem, recio::kKeyAction},
      {recio::kTextItem, recio::kKeyConvert},
  };
  static constexpr auto kOpenPlain = recio::keyword_descriptor(kPlain);
  static constexpr auto kOpenConverted = recio::keyword_descriptor(kConverted);
  auto text = [](std::string_view s) {
    return std::pair{IoArg::val(static_cast<std::int64_t>(s.size())), IoArg::address(s.data())};
  };
  const auto [fl, fa] = text(name);
  const auto [sl, sa] = text("old");
  const auto [ml, ma] = text("unformatted");
  const auto [al, aa] = text("read");
  const auto [cl, ca] = text(representation);
  const IoArg args[] = {fl, fa, sl, sa, ml, ma, al, aa, cl, ca};
  IoControlBlock cb{};
  if (representation.empty())
    return recio::for_open(&cb, kMapUnit, kCheck, kOpenPlain,
                           std::span<const IoArg>(args, 2 * std::size(kPlain)));
  return recio::for_open(&cb, kMapUnit, kCheck, kOpenConverted, args);
}

void close_map() {
  IoControlBlock cb{};
  recio::for_close(&cb, kMapUnit, kCheck, kCloseNoKeywords, {});
}

recio::RecordPlace place_of_last_record() {
  recio::RecordPlace place;
  recio::for_inquire_record_place(kMapUnit, &place);
  return place;
}

std::uint32_t reversed(std::uint32_t n) {
  return (n >> 24) | ((n >> 8) & 0xFF00u) | ((n << 8) & 0xFF0000u) | (n << 24);
}

// Reads the records of an unformatted map, each checked against what the
// map's layout expects, and names the record, its offset, what was expected
// and what was found when one is not so.
class RecordReader {
 public:
  explicit RecordReader(std::string* why) : why_(why) {}

  // Starts record `number` (what: its contents), which must hold `expected`
  // bytes. A statement already started by the probe is taken over.
  bool begin(int number, std::string what, std::int64_t expected, IoControlBlock* started) {
    number_ = number;
    what_ = std::move(what);
    expected_ = expected;
    int r = 0;
    if (started != nullptr) {
      cb_ = *started;
    } else {
      cb_ = IoControlBlock{};
      r = recio::for_read_seq(&cb_, kMapUnit, kCheck, kMore, {});
    }
    const recio::RecordPlace place = place_of_last_record();
    if (r == -1)
      return fail(place, "expected a record of " + bytes(expected) + ", found the end of the file");
    if (r != 0) return failed_statement(r, place);
    if (place.leading != expected) {
      std::string found = "expected a record of " + bytes(expected) + ", found a length field of " +
                          std::to_string(place.leading);
      if (expected >= 0 && expected <= UINT32_MAX &&
          reversed(static_cast<std::uint32_t>(place.leading)) == expected)
        found += " (" + std::to_string(expected) +
                 " with its bytes reversed: the file has another byte order)";
      recio::for_read_seq_xmit(&cb_, kEnd, {});
      return fail(place, found);
    }
    return true;
  }

  bool item(recio::Descriptor d, recio::IoArgs args) {
    const int r = recio::for_read_seq_xmit(&cb_, d, args);
    return r == 0 || failed_statement(r, place_of_last_record());
  }
  bool text(char* into, std::int32_t length) {
    const IoArg a[] = {IoArg::val(length), IoArg::address(into)};
    return item(kTextMore, a);
  }
  bool real(float* into) {
    const IoArg a[] = {IoArg::address(into)};
    return item(kRealMore, a);
  }
  bool integer(std::int32_t* into) {
    const IoArg a[] = {IoArg::address(into)};
    return item(kIntMore, a);
  }
  bool values(float* into, int n) {
    for (int m = 0; m < n; ++m) {
      const IoArg a[] = {IoArg::val(sizeof(float)), IoArg::address(into + m)};
      const int r = recio::for_read_seq_xmit(&cb_, kFieldValueMore, a);
      if (r != 0) return failed_statement(r, place_of_last_record());
    }
    return true;
  }
  bool end() { return item(kEnd, {}); }
  // The last failure was the platform's read, not the map's contents.
  bool read_failed() const { return read_failed_; }

  // After the last record the file must end.
  bool expect_end_of_file(std::int64_t offset) {
    IoControlBlock cb{};
    const int r = recio::for_read_seq(&cb, kMapUnit, kCheck, kMore, {});
    if (r == -1) return true;
    const recio::RecordPlace place = place_of_last_record();
    std::string found;
    if (r == 0) {
      found = "another record, with a length field of " + std::to_string(place.leading);
      recio::for_read_seq_xmit(&cb, kEnd, {});
    } else if (place.end_of_file >= 0) {
      found = bytes(place.end_of_file - place.offset) + " more";
    } else {
      found = condition_text(r);
    }
    *why_ = "byte offset " + std::to_string(offset) +
            ", after the last record: expected the end of the file, found " + found;
    return false;
  }

 private:
  static std::string bytes(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
  }

  bool fail(const recio::RecordPlace& place, const std::string& found) {
    *why_ = "record " + std::to_string(number_) + " (" + what_ + ") at byte offset " +
            std::to_string(place.offset) + ": " + found;
    return false;
  }

  bool failed_statement(int status, const recio::RecordPlace& place) {
    switch (status) {
      case msg::number(msg::kReadError):
        // Not the end of the file but the platform's read: the file, not the map.
        if (place.end_of_file < 0) {
          read_failed_ = true;
          break;
        }
        if (place.leading < 0)
          return fail(place, "expected a record of " + bytes(expected_) + ", found " +
                                 bytes(place.end_of_file - place.offset) +
                                 " of its length field and the end of the file");
        return fail(place, "expected " + bytes(place.leading + kRecordFramingBytes) +
                               " with its length fields, found the end of the file after " +
                               std::to_string(place.end_of_file - place.offset));
      case msg::number(msg::kInconsistentRecl):
        return fail(place, "expected the trailing length field " + std::to_string(place.leading) +
                               ", as the leading one, found " + std::to_string(place.trailing));
      default:
        break;
    }
    return fail(place, condition_text(status));
  }

  std::string* why_;
  bool read_failed_ = false;
  IoControlBlock cb_{};
  int number_ = 0;
  std::string what_;
  std::int64_t expected_ = 0;
};

// The five header records; false with *why set when one is not as expected.
bool read_header(RecordReader* in, IoControlBlock* started, MapHeader* h) {
  return in->begin(1, "TITLE", kTitleRecordBytes, started) && in->text(h->TITLE, sizeof h->TITLE) &&
         in->end() && in->begin(2, "DATE", kDateRecordBytes, nullptr) &&
         in->text(h->DATE, sizeof h->DATE) && in->end() &&
         in->begin(3, "AXA, AXB, AXC, ANGLE", kAxesRecordBytes, nullptr) &&
         in->text(h->AXA, sizeof h->AXA) && in->text(h->AXB, sizeof h->AXB) &&
         in->text(h->AXC, sizeof h->AXC) && in->real(&h->ANGLE) && in->end() &&
         in->begin(4, "XMIN ... IDC", kOriginRecordBytes, nullptr) && in->real(&h->XMIN) &&
         in->real(&h->YMIN) && in->real(&h->ZMIN) && in->integer(&h->ISA) && in->integer(&h->ISB) &&
         in->integer(&h->ISC) && in->integer(&h->IMA) && in->integer(&h->IMB) &&
         in->integer(&h->IMC) && in->integer(&h->IDA) && in->integer(&h->IDB) &&
         in->integer(&h->IDC) && in->end() &&
         in->begin(5, "DX ... NZ", kGridRecordBytes, nullptr) && in->real(&h->DX) &&
         in->real(&h->DY) && in->real(&h->DZ) && in->integer(&h->NX) && in->integer(&h->NY) &&
         in->integer(&h->NZ) && in->end();
}

// The planes of an unformatted map, one grid point at a time.
bool read_planes(RecordReader* in, const MapHeader& h, Presenter* show, std::int64_t* points,
                 std::int64_t* end_offset, std::string* why) {
  const bool plane_points = h.NX >= 1 && h.NY >= 1;
  const std::int64_t per_plane = plane_points ? std::int64_t{h.NX} * h.NY : 0;
  // 12·NX·NY beyond a length field's range: no writer can have made it.
  if (h.NZ >= 1 && per_plane > std::int64_t{UINT32_MAX} / kPointBytes) {
    *why = "record " + std::to_string(kHeaderRecordCount + 1) + " (plane 1 of " +
           std::to_string(h.NZ) + ") at byte offset " + std::to_string(kFirstPlaneOffset) +
           ": NX = " + std::to_string(h.NX) + " and NY = " + std::to_string(h.NY) +
           " need planes of more bytes than a length field holds";
    return false;
  }
  *end_offset = kFirstPlaneOffset;
  *points = 0;
  for (std::int64_t k = 1; k <= h.NZ; ++k) {
    if (!in->begin(static_cast<int>(std::min<std::int64_t>(kHeaderRecordCount + k, INT32_MAX)),
                   "plane " + std::to_string(k) + " of " + std::to_string(h.NZ),
                   kPointBytes * per_plane, nullptr))
      return false;
    for (std::int64_t p = 0; p < per_plane; ++p) {
      float v[kComponents];
      if (!in->values(v, kComponents) || !show->point(v, *points, why)) return false;
      ++*points;
    }
    if (!in->end()) return false;
    *end_offset += kPointBytes * per_plane + kRecordFramingBytes;
  }
  return true;
}

// A name as CONVERT takes it: blank-padded to its full length.
bool padded_name(const std::string& name, char* out) {
  if (name.size() > static_cast<std::size_t>(kNameLength)) return false;
  std::memset(out, ' ', kNameLength);
  std::memcpy(out, name.data(), name.size());
  return true;
}

float field[MXS];

// A text map, read by CONVERT as the converter reads it (its failures and
// diagnostics are the converter's); the unformatted records go nowhere.
int read_text_map(const Options& o, const std::string& not_binary) {
  char input[kNameLength], output[kNameLength], message[kMessageLength];
  if (!padded_name(o.map, input)) {
    say(o.map + ": the name is longer than " + std::to_string(kNameLength) + " characters");
    return kDumpFileError;
  }
  padded_name("NUL", output);
  map_messages_prefix("mapdump: ");
  std::int32_t status = 0;
  CONVERT(input, kNameLength, output, kNameLength, field, &MXS, message, kMessageLength, &status);
  if (status == 0) return kDumpDone;
  std::string_view text(message, kMessageLength);
  text = text.substr(0, text.find_last_not_of(' ') + 1);
  say(o.map + ": not a map: " + not_binary + ", and as a text map: " + std::string(text));
  return kDumpInvalidMap;
}

// The map CONVERT read, shown.
bool show_text_map(Presenter* show, std::int64_t* points, std::string* why) {
  const MapHeader& h = last_map_header();
  if (!show->header(h, why)) return false;
  const bool has_points = h.NX >= 1 && h.NY >= 1 && h.NZ >= 1;
  *points = has_points ? std::int64_t{h.NX} * h.NY * h.NZ : 0;
  for (std::int64_t p = 0; p < *points; ++p)
    if (!show->point(field + kComponents * p, p, why)) return false;
  return true;
}

// The map cannot be shown whole: what standard output already holds is said
// to be incomplete, an output file is not left behind.
int report_unshown_map(const Options& o, const std::string& why, TextOut* out,
                       int status = kDumpInvalidMap) {
  const bool partial = out->to_standard_output() && !o.summary && out->flush() && out->started();
  say(o.map + ": " + why + (partial ? " (the text written before this is incomplete)" : ""));
  out->abandon();
  return status;
}

int dump(const Options& o) {
  // The variable, when set, overrides the option at OPEN.
  const char* environment = std::getenv("FORT_CONVERT21");
  std::string representation = environment != nullptr ? upper(environment) : o.representation;
  TextOut out;
  Presenter show(o, &out);

  if (int r = open_map(o.map, o.representation)) {
    const bool variable = r == msg::number(msg::kInconsistentOpen) && environment != nullptr;
    say(o.map + ": cannot open it: " + condition_text(r) +
        (variable ? " (FORT_CONVERT21 names no representation)" : ""));
    return variable ? kDumpUsage : kDumpFileError;
  }
  // The first length field tells an unformatted map, and its byte order.
  IoControlBlock first{};
  int r = recio::for_read_seq(&first, kMapUnit, kCheck, kMore, {});
  recio::RecordPlace place = place_of_last_record();
  if (r == -1) {
    close_map();
    say(o.map + ": the file is empty: no map");
    return kDumpInvalidMap;
  }
  if (r != 0 && place.end_of_file < 0) {
    close_map();
    say(o.map + ": cannot read it: " + condition_text(r));
    return kDumpFileError;
  }
  if (r == 0 && place.leading != kTitleLength && representation.empty() &&
      reversed(static_cast<std::uint32_t>(place.leading)) == kTitleLength) {
    recio::for_read_seq_xmit(&first, kEnd, {});
    close_map();
    representation = "BIG_ENDIAN";
    if (int again = open_map(o.map, representation)) {
      say(o.map + ": cannot open it: " + condition_text(again));
      return kDumpFileError;
    }
    first = IoControlBlock{};
    r = recio::for_read_seq(&first, kMapUnit, kCheck, kMore, {});
    place = place_of_last_record();
  }
  if (r == 0 && place.leading == kTitleLength) {
    if (representation.empty()) representation = "LITTLE_ENDIAN";
  } else if (representation.empty()) {
    // Not an unformatted map in either byte order: a text map, or nothing.
    if (r == 0) recio::for_read_seq_xmit(&first, kEnd, {});
    close_map();
    const std::string not_binary = r == 0 ? "its first length field is " +
                                                std::to_string(place.leading) + ", not " +
                                                std::to_string(kTitleLength)
                                          : "it is shorter than a length field";
    if (int status = read_text_map(o, not_binary)) return status;
    if (!out.open(o.output)) return kDumpFileError;
    std::string why;
    std::int64_t points = 0;
    if (!show_text_map(&show, &points, &why)) return report_unshown_map(o, why, &out);
    if (o.summary) show.summary("text (a formatted map file)", points);
    return out.finish() ? kDumpDone : kDumpFileError;
  }

  if (!out.open(o.output)) {
    if (r == 0) recio::for_read_seq_xmit(&first, kEnd, {});
    close_map();
    return kDumpFileError;
  }
  std::string why;
  RecordReader in(&why);
  MapHeader h{};
  std::int64_t points = 0, end_offset = 0;
  bool whole = r == 0 && read_header(&in, &first, &h);
  if (r != 0) {
    const std::string found =
        place.end_of_file >= 0 ? std::to_string(place.end_of_file) + " bytes" : condition_text(r);
    why = "record 1 (TITLE) at byte offset 0: expected a length field, found " + found;
  }
  if (whole && !show.header(h, &why)) whole = false;
  if (whole && !read_planes(&in, h, &show, &points, &end_offset, &why)) whole = false;
  if (whole) whole = in.expect_end_of_file(end_offset);
  close_map();
  if (!whole)
    return report_unshown_map(o, why, &out, in.read_failed() ? kDumpFileError : kDumpInvalidMap);
  if (o.summary) show.summary(representation, points);
  return out.finish() ? kDumpDone : kDumpFileError;
}

}  // namespace

int dump_front_end() {
  Options o;
  if (int status = parse_arguments(&o); status >= 0) return status;
  return dump(o);
}

}  // namespace app
