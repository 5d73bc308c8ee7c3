// Message identifiers: the 32-bit condition codes of the run-time.
// Bits 31-30 carry the severity class (0 success, 1 informational, 2 error,
// 3 severe), bits 15-0 the message number, which is also the status value an
// I/O statement returns for a handled error. Only numbers the run-time raises
// are named here; the catalog holds every row.
#pragma once

#include <cstdint>

namespace msg {

using Id = std::uint32_t;

constexpr Id kClassShift = 30;
// The severity class that ends the process.
constexpr unsigned kSevereClass = 3;
constexpr Id success(std::uint16_t n) {
  return n;
}
constexpr Id info(std::uint16_t n) {
  return 0x40000000u | n;
}
constexpr Id error(std::uint16_t n) {
  return 0x80000000u | n;
}
constexpr Id severe(std::uint16_t n) {
  return 0xC0000000u | n;
}
constexpr unsigned severity(Id id) {
  return id >> kClassShift;
}
constexpr std::uint16_t number(Id id) {
  return static_cast<std::uint16_t>(id & 0xFFFFu);
}

inline constexpr Id kInternalCheck = severe(8);
inline constexpr Id kPermissionDenied = severe(9);
inline constexpr Id kCannotOverwrite = severe(10);
inline constexpr Id kRecordTooLong = severe(22);
inline constexpr Id kEndOfFile = severe(24);
inline constexpr Id kTooManyRecords = severe(27);
inline constexpr Id kCloseError = severe(28);
inline constexpr Id kFileNotFound = severe(29);
inline constexpr Id kOpenFailure = severe(30);
inline constexpr Id kMixedAccess = severe(31);
inline constexpr Id kInvalidUnit = severe(32);
inline constexpr Id kInconsistentRecl = severe(37);
inline constexpr Id kWriteError = severe(38);
inline constexpr Id kReadError = severe(39);
inline constexpr Id kRecursiveIo = severe(40);
inline constexpr Id kNoMemory = severe(41);
inline constexpr Id kNoSuchDevice = severe(42);
inline constexpr Id kFileNameError = severe(43);
inline constexpr Id kInconsistentRecordType = severe(44);
inline constexpr Id kKeywordValue = severe(45);
inline constexpr Id kInconsistentOpen = severe(46);
inline constexpr Id kReadOnly = severe(47);
inline constexpr Id kArgumentError = severe(48);
inline constexpr Id kInconsistentOrg = severe(51);
inline constexpr Id kListSyntax = severe(59);
inline constexpr Id kFormatMismatch = severe(61);
inline constexpr Id kFormatSyntax = severe(62);
inline constexpr Id kOutputConversion = error(63);
inline constexpr Id kInputConversion = severe(64);
inline constexpr Id kOutputOverflow = severe(66);
inline constexpr Id kTooMuchData = severe(67);
inline constexpr Id kForeignConversion = info(95);
inline constexpr Id kInvalidTraps = info(297);
inline constexpr Id kOverflowTraps = info(298);
inline constexpr Id kDivideByZeroTraps = info(299);
inline constexpr Id kUnderflowTraps = info(300);
// The report of a non-continuable exception (the one the debug-exception
// switch raises in place of a severe diagnostic).
inline constexpr Id kNoncontinuableException = severe(169);
inline constexpr Id kEventAbort = error(200);
inline constexpr Id kFlawedDivide = severe(201);
inline constexpr Id kUnformattedToFormatted = severe(256);
inline constexpr Id kFormattedToUnformatted = severe(257);
inline constexpr Id kSequentialToDirect = severe(259);
inline constexpr Id kEndOfRecord = severe(268);
inline constexpr Id kEndOfFileEncountered = severe(613);
inline constexpr Id kEndOfRecordEncountered = severe(758);

}  // namespace msg
