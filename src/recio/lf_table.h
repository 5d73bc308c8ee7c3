// Pending-line-feed table of console devices: units that share a console
// device share one entry, reference-counted, which records whether a line
// feed is still owed to that device. Only statements with the line-feed
// control bit engage it, and this program never sets that bit, so entries
// exist but never owe a line feed.
#pragma once

#include <string_view>

namespace recio {

struct LfEntry {
  char name[16] = {};
  int references = 0;
  bool lf_owed = false;
};

// Entry for a device name ("CONIN$" on a character device counts as
// "CONOUT$"); null when the table is full.
LfEntry* for__add_to_lf_table(std::string_view device, bool character_device);
void for__rm_from_lf_table(LfEntry* entry);

}  // namespace recio
