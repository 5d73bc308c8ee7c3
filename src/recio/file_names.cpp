// File names: the name an OPEN derives for a unit, and the table of the
// special device names.
#include "recio/file_names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace recio {
namespace {

bool is_blank_or_nul(char c) {
  return c == ' ' || c == '\0';
}

bool equal_ignoring_case(std::string_view text, const char* upper) {
  return text.size() == std::strlen(upper) &&
         std::equal(text.begin(), text.end(), upper, [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

}  // namespace

bool derive_file_name(const UnitBlock* u, const char* file, std::int32_t file_length,
                      FileName* name, NameSource* source) {
  std::string_view given;
  if (file != nullptr) {
    *source = NameSource::kFile;
    given = std::string_view(
        file, static_cast<std::size_t>(std::clamp<std::int32_t>(file_length, 0, 256)));
  } else {
    char var[32];
    std::snprintf(var, sizeof var, "FORT%d", u->unit);
    const char* env = plat::get_env(var);
    if (env != nullptr) {
      *source = NameSource::kEnv;
      given = env;
    } else if (u->unit == 5 || u->unit == 6 || u->unit == 0) {
      *source = NameSource::kConsole;
      name->assign(u->unit == 5 ? "CONIN$" : "CONOUT$");
      return true;
    } else if (!u->connection.file_name.empty()) {
      *source = NameSource::kKept;
      given = u->connection.file_name.view();
    } else {
      *source = NameSource::kDefault;
      std::snprintf(var, sizeof var, "fort.%d", u->unit);
      name->assign(var);
      return true;
    }
  }
  // Leading and trailing blanks go, and trailing NULs; an empty name stays empty.
  std::size_t b = 0, e = given.size();
  while (b < e && given[b] == ' ') ++b;
  while (e > b && is_blank_or_nul(given[e - 1])) --e;
  *name = given.substr(b, e - b);
  return name->size() == e - b;
}

DeviceKind for__is_special_device(std::string_view name, std::string_view* device) {
  struct DeviceRow {
    const char* name;
    DeviceKind kind;
    bool device_with_extension;  // stays a device when an extension follows
  };
  static constexpr DeviceRow kDevices[] = {
      {"CON", kDeviceConsoleOut, true},
      {"CONOUT$", kDeviceConsoleOut, false},
      {"CONIN$", kDeviceConsoleIn, false},
      {"ERR", kDeviceError, false},
      {"USER", kDeviceUser, false},
      {"PRN", kDeviceNamedPort, true},
      {"LPT1", kDeviceNamedPort, false},
      {"LPT2", kDeviceNamedPort, false},
      {"LPT3", kDeviceNamedPort, false},
      {"LPT4", kDeviceNamedPort, false},
      {"COM1", kDeviceFirstSerialPort, true},
      {"COM2", kDeviceNamedPort, true},
      {"COM3", kDeviceNamedPort, true},
      {"COM4", kDeviceNamedPort, true},
      {"NUL", kDeviceNull, true},
      {"AUX", kDeviceFirstSerialPort, true},
      {"LINE", kDeviceFirstSerialPort, false},
  };
  // A directory of the path never names a device: "nul.d/out" is a file.
  const std::string_view last = plat::last_path_component(name);
  // Where the platform does not take "nul.unf" for the null device, only the
  // whole last component names a device: that is an ordinary file there, and
  // taking it for a device would lose what is written to it.
  const std::size_t dot =
      plat::device_names_take_extensions() ? last.rfind('.') : std::string_view::npos;
  const std::string_view base = dot == std::string_view::npos ? last : last.substr(0, dot);
  const bool has_extension = dot != std::string_view::npos && dot + 1 < last.size();
  const std::size_t n = base.size();
  if (n != 3 && n != 4 && n != 6 && n != 7) return kDeviceFile;
  for (const DeviceRow& d : kDevices) {
    if (!equal_ignoring_case(base, d.name)) continue;
    if (has_extension && !d.device_with_extension) return kDeviceFile;
    if (device != nullptr) *device = base;
    return d.kind;
  }
  return kDeviceFile;
}

bool names_same_device(const UnitBlock* u, std::string_view name) {
  std::string_view dev;
  DeviceKind kind = for__is_special_device(name, &dev);
  if (kind == kDeviceFile) return false;
  return u->connection.device_kind != kDeviceFile && dev.size() == u->connection.file_name.size() &&
         std::equal(dev.begin(), dev.end(), u->connection.file_name.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) ==
                  std::toupper(static_cast<unsigned char>(b));
         });
}

}  // namespace recio
