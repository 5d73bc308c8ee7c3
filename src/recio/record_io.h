// Records on files: the internal routines shared by the statement entries.
// All return 0 or a message identifier; none issues a diagnostic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "recio/unit.h"
#include "rt/messages.h"

namespace recio {

// Bytes allocated beyond the record area: room for a terminator or a trailing
// length without a second platform write.
inline constexpr std::size_t kBufferSlack = 8;

// The single exit to the platform's file write; -1 on failure (error saved).
int for__write_output(UnitBlock* u, const char* bytes, std::size_t count);
// for__write_output with failure turned into msg::kWriteError.
msg::Id for__write_record_to_file(UnitBlock* u, const char* bytes, std::size_t count);

// Enlarges the record area by `extra` bytes (rounded to 4 for unformatted
// units). msg::kNoMemory when the area may not grow or memory is short.
msg::Id for__adjust_buffer(UnitBlock* u, std::size_t extra);

// Drops bytes read ahead of the current record so that a write lands where
// the last record read ended.
msg::Id for__flush_readahead(UnitBlock* u);

// A statement on the unit will never finish (termination took the unit from
// it): the part of its record already in the file, which only a record too
// large for memory leaves there, is cut off, so the file ends with the last
// complete record.
void for__discard_unfinished_record(UnitBlock* u);

// Frames the current unformatted record and writes it; applies truncation.
msg::Id for__put_su(UnitBlock* u);

// Longest formatted record read, in bytes (without its line end).
inline constexpr std::size_t kMaxRecordLength = 0x7FFFFFFF;

// Reads the next record of a formatted sequential unit: afterwards the record
// is buffer[rec_start, rec_end). msg::kEndOfFile, kReadError or kRecordTooLong
// (longer than max_record, or no memory to hold it). Of a record longer than
// `keep` bytes only the first `keep` are kept, the others counted in
// rec_beyond: the buffer then holds at most a read block besides them,
// however long the line. Otherwise it never grows beyond what a record of
// max_record bytes and its CR LF need; the bytes buffered for a record that
// is too long are dropped, and the next read goes on with what follows them.
msg::Id for__get_su(UnitBlock* u, std::size_t max_record = kMaxRecordLength,
                    std::size_t keep = kMaxRecordLength);

// Starts a formatted output record: the record area blanked, position at
// column 1.
void for__start_output_record(UnitBlock* u);

// Writes the current formatted record with its record type's terminator
// (none when the record was ended by "$").
msg::Id for__put_sf(UnitBlock* u);

// One platform read into buffer; the byte count, 0 at end of file, or -1.
long for__read_input(int handle, char* buffer, std::size_t count, int* error);

// A harness may stand in for the platform read below for__read_input (same
// contract), to feed the reader chosen bytes in chosen read sizes.
// Process-wide; null restores the platform read. The program never sets one.
using ReadInputSeam = long (*)(int handle, char* buffer, std::size_t count, int* error);
void for__set_read_input_seam(ReadInputSeam seam);

}  // namespace recio
