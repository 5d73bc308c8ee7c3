// A small file system of its own for a test, filled to the last block, so
// that the next write finds the disk full on every platform the tests reach
// (Wine's server sees the mount as well). Header-only, like run_program.h.
#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/under_wine.h"

namespace e2e {

// Mounted at `path` where the test may mount one (refusal() says why not),
// unmounted when the object goes away.
class FullFileSystem {
 public:
  explicit FullFileSystem(const std::string& path) : path_(path) {
    std::filesystem::create_directory(path_);
    if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
      refusal_ = std::string("cannot mount a small file system: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
    std::ofstream filler(path_ + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }
  ~FullFileSystem() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  FullFileSystem(const FullFileSystem&) = delete;
  FullFileSystem& operator=(const FullFileSystem&) = delete;

  const std::string& refusal() const { return refusal_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string refusal_;
};

// The platform's text for a full disk, as the diagnostic's first line shows
// it: the Windows message ends with its own CR LF.
inline std::string disk_full_line() {
  return kUnderWine ? "forrtl: Disk full.\r\n" : "forrtl: No space left on device\n";
}

}  // namespace e2e
