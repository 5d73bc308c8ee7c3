#include "recio/lf_table.h"

#include <array>
#include <cstring>

namespace recio {
namespace {
// A handful of console devices at most; a small array beats hash buckets.
std::array<LfEntry, 8>& lf_table() {
  static std::array<LfEntry, 8> table;
  return table;
}
}  // namespace

LfEntry* for__add_to_lf_table(std::string_view device, bool character_device) {
  if (character_device && device == "CONIN$") device = "CONOUT$";
  if (device.size() >= sizeof(LfEntry::name)) return nullptr;
  LfEntry* free_entry = nullptr;
  for (LfEntry& e : lf_table()) {
    if (e.references > 0 && device == e.name) {
      ++e.references;
      return &e;
    }
    if (e.references == 0 && free_entry == nullptr) free_entry = &e;
  }
  if (free_entry == nullptr) return nullptr;
  *free_entry = LfEntry{};
  std::memcpy(free_entry->name, device.data(), device.size());
  free_entry->references = 1;
  return free_entry;
}

void for__rm_from_lf_table(LfEntry* entry) {
  if (entry != nullptr && entry->references > 0 && --entry->references == 0) *entry = LfEntry{};
}

}  // namespace recio
