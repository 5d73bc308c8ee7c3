// The message catalog and the formatting of diagnostic lines.
#include "rt/catalog.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace rt {
namespace {

// Sorted by identifier, so by class first and number second.
constexpr CatalogRow kRows[] = {
    {msg::success(0), "successful completion\r\n"},
    // Informational. Number 6 identifies the catalog itself and is never issued.
    {msg::info(3), "window console not available, request ignored\r\n"},
    {msg::info(4), "window console size request ignored\r\n"},
    {msg::info(5), "window console text position request ignored\r\n"},
    {msg::info(6), "mapconv run-time library message catalog\r\n"},
    {msg::info(11), "unit reconnected to the same file, unit %d, file %s\r\n"},
    {msg::info(58), "format syntax warning, unit %d, file %s\r\n"},
    {msg::info(95), "floating point conversion failed\r\n"},
    {msg::info(267), "record length rounded up to whole words, unit %d, file %s\r\n"},
    {msg::info(297), "%d floating invalid traps\r\n"},
    {msg::info(298), "%d floating overflow traps\r\n"},
    {msg::info(299), "%d floating divide-by-zero traps\r\n"},
    {msg::info(300), "%d floating underflow traps\r\n"},
    // Errors: reported, then the caller goes on.
    {msg::error(63), "output conversion error, unit %d, file %s\r\n"},
    {msg::error(65), "floating invalid\r\n"},
    {msg::error(69), "floating-point value out of range for integer\r\n"},
    {msg::error(72), "floating overflow\r\n"},
    {msg::error(73), "floating divide by zero\r\n"},
    {msg::error(74), "floating underflow\r\n"},
    {msg::error(75), "floating-point exception in math library\r\n"},
    {msg::error(76), "integer result of math function overflowed\r\n"},
    {msg::error(78), "argument to math function out of range\r\n"},
    {msg::error(79), "math function result underflowed\r\n"},
    {msg::error(89), "floating-point precision lost\r\n"},
    {msg::error(200), "program aborting due to %s event\r\n"},
    {msg::error(266), "record truncated on write, unit %d, file %s\r\n"},
    // Severe: the process ends after the report.
    {msg::severe(1), "unsupported run-time operation\r\n"},
    {msg::severe(2), "run-time library not initialised\r\n"},
    {msg::severe(8), "internal consistency check failure, file %s, line %d\r\n"},
    {msg::severe(9), "permission to access file denied, unit %d, file %s\r\n"},
    {msg::severe(10), "cannot overwrite existing file, unit %d, file %s\r\n"},
    {msg::severe(17), "syntax error in NAMELIST input, unit %d, file %s\r\n"},
    {msg::severe(18), "too many values for NAMELIST variable, unit %d, file %s\r\n"},
    {msg::severe(19), "invalid reference to variable in NAMELIST input, unit %d, file %s\r\n"},
    {msg::severe(20), "REWIND error, unit %d, file %s\r\n"},
    {msg::severe(21), "duplicate file specifications, unit %d, file %s\r\n"},
    {msg::severe(22), "input record too long, unit %d, file %s\r\n"},
    {msg::severe(23), "BACKSPACE error, unit %d, file %s\r\n"},
    {msg::severe(24), "end-of-file during read, unit %d, file %s\r\n"},
    {msg::severe(25), "record number outside range, unit %d, file %s\r\n"},
    {msg::severe(26), "OPEN required before direct access, unit %d, file %s\r\n"},
    {msg::severe(27), "too many records in I/O statement, unit %d, file %s\r\n"},
    {msg::severe(28), "CLOSE error, unit %d, file %s\r\n"},
    {msg::severe(29), "file not found, unit %d, file %s\r\n"},
    {msg::severe(30), "open failure, unit %d, file %s\r\n"},
    {msg::severe(31), "mixed file access modes, unit %d, file %s\r\n"},
    {msg::severe(32), "invalid logical unit number, unit %d, file %s\r\n"},
    {msg::severe(33), "ENDFILE error, unit %d, file %s\r\n"},
    {msg::severe(34), "unit already open, unit %d, file %s\r\n"},
    {msg::severe(35), "segmented record format error, unit %d, file %s\r\n"},
    {msg::severe(36), "attempt to access non-existent record, unit %d, file %s\r\n"},
    {msg::severe(37), "inconsistent record length, unit %d, file %s\r\n"},
    {msg::severe(38), "error during write, unit %d, file %s\r\n"},
    {msg::severe(39), "error during read, unit %d, file %s\r\n"},
    {msg::severe(40), "recursive I/O operation, unit %d, file %s\r\n"},
    {msg::severe(41), "insufficient virtual memory\r\n"},
    {msg::severe(42), "no such device, unit %d, file %s\r\n"},
    {msg::severe(43), "file name specification error, unit %d, file %s\r\n"},
    {msg::severe(44), "inconsistent record type, unit %d, file %s\r\n"},
    {msg::severe(45), "keyword value error in OPEN statement, unit %d, file %s\r\n"},
    {msg::severe(46), "inconsistent OPEN/CLOSE parameters, unit %d, file %s\r\n"},
    {msg::severe(47), "write to READONLY file, unit %d, file %s\r\n"},
    {msg::severe(48), "invalid argument to I/O statement, unit %d, file %s\r\n"},
    {msg::severe(49), "invalid key definition, unit %d, file %s\r\n"},
    {msg::severe(50), "inconsistent key change or duplicate key, unit %d, file %s\r\n"},
    {msg::severe(51), "inconsistent file organization, unit %d, file %s\r\n"},
    {msg::severe(52), "specified record locked, unit %d, file %s\r\n"},
    {msg::severe(53), "no current record, unit %d, file %s\r\n"},
    {msg::severe(54), "REWRITE error, unit %d, file %s\r\n"},
    {msg::severe(55), "DELETE error, unit %d, file %s\r\n"},
    {msg::severe(56), "UNLOCK error, unit %d, file %s\r\n"},
    {msg::severe(57), "FIND error, unit %d, file %s\r\n"},
    {msg::severe(59), "list-directed I/O syntax error, unit %d, file %s\r\n"},
    {msg::severe(60), "infinite format loop, unit %d, file %s\r\n"},
    {msg::severe(61), "format/variable-type mismatch, unit %d, file %s\r\n"},
    {msg::severe(62), "syntax error in format, unit %d, file %s\r\n"},
    {msg::severe(64), "input conversion error, unit %d, file %s\r\n"},
    {msg::severe(66), "output statement overflows record, unit %d, file %s\r\n"},
    {msg::severe(67), "input statement requires too much data, unit %d, file %s\r\n"},
    {msg::severe(68), "variable format expression value error, unit %d, file %s\r\n"},
    {msg::severe(70), "integer overflow\r\n"},
    {msg::severe(71), "integer divide by zero\r\n"},
    {msg::severe(77), "subscript out of range\r\n"},
    {msg::severe(80), "wrong number of arguments\r\n"},
    {msg::severe(81), "invalid argument to math library\r\n"},
    {msg::severe(82), "undefined exponentiation\r\n"},
    {msg::severe(83), "logarithm of zero or negative value\r\n"},
    {msg::severe(84), "square root of negative value\r\n"},
    {msg::severe(87), "significance lost in math library\r\n"},
    {msg::severe(88), "floating overflow in math library\r\n"},
    {msg::severe(93), "adjustable array dimension error\r\n"},
    {msg::severe(94), "invalid array section or dimension\r\n"},
    {msg::severe(108), "cannot stat file, unit %d, file %s\r\n"},
    {msg::severe(120), "operation requires seek ability, unit %d, file %s\r\n"},
    {msg::severe(130), "user breakpoint requested\r\n"},
    {msg::severe(131), "user single step requested\r\n"},
    {msg::severe(133), "argument to intrinsic procedure out of range\r\n"},
    {msg::severe(134), "argument to intrinsic procedure has the wrong type\r\n"},
    {msg::severe(135), "argument to intrinsic procedure has the wrong kind\r\n"},
    {msg::severe(136), "shapes of intrinsic procedure arguments do not conform\r\n"},
    {msg::severe(137), "required argument to intrinsic procedure not present\r\n"},
    {msg::severe(138), "array index out of bounds\r\n"},
    {msg::severe(139), "array index out of bounds for index %d\r\n"},
    {msg::severe(140), "floating inexact\r\n"},
    {msg::severe(141), "character substring out of range\r\n"},
    {msg::severe(142), "character length mismatch in assignment\r\n"},
    {msg::severe(143), "shape mismatch in array assignment\r\n"},
    {msg::severe(144), "negative character length\r\n"},
    {msg::severe(145), "array size exceeds the address space\r\n"},
    {msg::severe(146), "zero stride in array section\r\n"},
    {msg::severe(147), "DIM argument out of range\r\n"},
    {msg::severe(148), "SHIFT argument does not conform\r\n"},
    {msg::severe(149), "SIZE argument out of range\r\n"},
    {msg::severe(150), "pointer not associated\r\n"},
    {msg::severe(151), "allocatable array is already allocated\r\n"},
    {msg::severe(152), "allocatable array is not allocated\r\n"},
    {msg::severe(153), "deallocated storage was not allocated by ALLOCATE\r\n"},
    {msg::severe(154), "allocation request too large\r\n"},
    {msg::severe(155), "invalid deallocation of array section\r\n"},
    {msg::severe(156), "window console operation not supported\r\n"},
    // Processor exceptions.
    {msg::severe(157), "Program Exception - access violation\r\n"},
    {msg::severe(158), "Program Exception - datatype misalignment\r\n"},
    {msg::severe(159), "Program Exception - breakpoint\r\n"},
    {msg::severe(160), "Program Exception - single step\r\n"},
    {msg::severe(161), "Program Exception - array bounds exceeded\r\n"},
    {msg::severe(162), "Program Exception - denormal floating-point operand\r\n"},
    {msg::severe(163), "Program Exception - floating stack check\r\n"},
    {msg::severe(164), "Program Exception - integer divide by zero\r\n"},
    {msg::severe(165), "Program Exception - integer overflow\r\n"},
    {msg::severe(166), "Program Exception - privileged instruction\r\n"},
    {msg::severe(167), "Program Exception - in page error\r\n"},
    {msg::severe(168), "Program Exception - illegal instruction\r\n"},
    {msg::severe(169), "Program Exception - noncontinuable exception\r\n"},
    {msg::severe(170), "Program Exception - stack overflow\r\n"},
    {msg::severe(171), "Program Exception - invalid disposition\r\n"},
    {msg::severe(172), "Program Exception - exception code = 0x%lx (%ld)\r\n"},
    {msg::severe(201), "Floating-point divide flaw detected, please update the processor\r\n"},
    {msg::severe(256),
     "unformatted I/O to unit open for formatted transfers, unit %d, file %s\r\n"},
    {msg::severe(257),
     "formatted I/O to unit open for unformatted transfers, unit %d, file %s\r\n"},
    {msg::severe(258),
     "direct-access I/O to unit open for sequential access, unit %d, file %s\r\n"},
    {msg::severe(259),
     "sequential-access I/O to unit open for direct access, unit %d, file %s\r\n"},
    {msg::severe(260), "keyed-access I/O to unit open for sequential access, unit %d, file %s\r\n"},
    {msg::severe(261), "keyed-access I/O to unit without keys, unit %d, file %s\r\n"},
    {msg::severe(262), "direct-access I/O to unit open for keyed access, unit %d, file %s\r\n"},
    {msg::severe(263), "operation requires direct access, unit %d, file %s\r\n"},
    {msg::severe(264), "operation requires file to be on disk or tape, unit %d, file %s\r\n"},
    {msg::severe(265),
     "operation requires sequential file organization and access, unit %d, file %s\r\n"},
    {msg::severe(268), "end of record during read, unit %d, file %s\r\n"},
    // Alternative numbers of a compatibility mode that no unit of this system enables.
    {msg::severe(540), "illegal format descriptor\r\n"},
    {msg::severe(541), "format does not begin with a left parenthesis\r\n"},
    {msg::severe(542), "missing right parenthesis in format\r\n"},
    {msg::severe(543), "repeat count not allowed here in format\r\n"},
    {msg::severe(544), "field width missing in format\r\n"},
    {msg::severe(545), "field width zero not allowed in format\r\n"},
    {msg::severe(546), "decimal point missing in format\r\n"},
    {msg::severe(547), "exponent width not allowed here in format\r\n"},
    {msg::severe(548), "format nesting too deep\r\n"},
    {msg::severe(549), "unrecognised edit descriptor in format\r\n"},
    {msg::severe(550), "sign not allowed here in format\r\n"},
    {msg::severe(551), "quoted string not terminated in format\r\n"},
    {msg::severe(552), "Hollerith count exceeds format length\r\n"},
    {msg::severe(553), "format too long\r\n"},
    {msg::severe(554), "scale factor out of range\r\n"},
    {msg::severe(555), "tab position out of range\r\n"},
    {msg::severe(556), "no data edit descriptor in format\r\n"},
    {msg::severe(557), "edit descriptor does not match item type\r\n"},
    {msg::severe(558), "format reversion found no data edit descriptor\r\n"},
    {msg::severe(559), "format not allowed for unformatted unit\r\n"},
    {msg::severe(560), "list-directed input syntax error\r\n"},
    {msg::severe(561), "repeat count not followed by asterisk\r\n"},
    {msg::severe(562), "repeat count zero not allowed\r\n"},
    {msg::severe(563), "quoted string not terminated in list input\r\n"},
    {msg::severe(564), "complex value missing parenthesis\r\n"},
    {msg::severe(565), "complex value missing comma\r\n"},
    {msg::severe(566), "logical value expected\r\n"},
    {msg::severe(567), "character value expected\r\n"},
    {msg::severe(568), "too many values in list input\r\n"},
    {msg::severe(569), "null value not allowed here\r\n"},
    {msg::severe(570), "NAMELIST group name not found\r\n"},
    {msg::severe(571), "NAMELIST group name expected\r\n"},
    {msg::severe(572), "NAMELIST variable not in group\r\n"},
    {msg::severe(573), "NAMELIST input not ended by slash\r\n"},
    {msg::severe(574), "NAMELIST subscript out of range\r\n"},
    {msg::severe(575), "NAMELIST substring out of range\r\n"},
    {msg::severe(576), "NAMELIST variable is not an array\r\n"},
    {msg::severe(577), "NAMELIST equals sign missing\r\n"},
    {msg::severe(578), "NAMELIST output record too short\r\n"},
    {msg::severe(579), "NAMELIST not allowed on this unit\r\n"},
    {msg::severe(580), "unit number out of range\r\n"},
    {msg::severe(581), "unit not connected\r\n"},
    {msg::severe(582), "unit already connected to another file\r\n"},
    {msg::severe(583), "file already connected to another unit\r\n"},
    {msg::severe(584), "file does not exist\r\n"},
    {msg::severe(585), "file already exists\r\n"},
    {msg::severe(586), "file name too long\r\n"},
    {msg::severe(587), "file name missing\r\n"},
    {msg::severe(588), "invalid STATUS keyword value\r\n"},
    {msg::severe(589), "invalid ACCESS keyword value\r\n"},
    {msg::severe(590), "invalid FORM keyword value\r\n"},
    {msg::severe(591), "invalid ACTION keyword value\r\n"},
    {msg::severe(592), "invalid BLANK keyword value\r\n"},
    {msg::severe(593), "invalid POSITION keyword value\r\n"},
    {msg::severe(594), "invalid DELIM keyword value\r\n"},
    {msg::severe(595), "invalid PAD keyword value\r\n"},
    {msg::severe(596), "invalid RECL keyword value\r\n"},
    {msg::severe(597), "record length required for direct access\r\n"},
    {msg::severe(598), "scratch file may not be named\r\n"},
    {msg::severe(599), "scratch file may not be kept\r\n"},
    {msg::severe(600), "too many units open\r\n"},
    {msg::severe(601), "cannot create file\r\n"},
    {msg::severe(602), "cannot open file\r\n"},
    {msg::severe(603), "cannot close file\r\n"},
    {msg::severe(604), "cannot delete file\r\n"},
    {msg::severe(605), "permission denied\r\n"},
    {msg::severe(606), "device not available\r\n"},
    {msg::severe(607), "read not allowed on this unit\r\n"},
    {msg::severe(608), "write not allowed on this unit\r\n"},
    {msg::severe(609), "unformatted transfer on formatted unit\r\n"},
    {msg::severe(610), "formatted transfer on unformatted unit\r\n"},
    {msg::severe(611), "read error\r\n"},
    {msg::severe(612), "write error\r\n"},
    {msg::severe(613), "end of file encountered\r\n"},
    {msg::severe(614), "record too long for buffer\r\n"},
    {msg::severe(615), "record too short for input list\r\n"},
    {msg::severe(616), "input item too long\r\n"},
    {msg::severe(617), "output item too long for record\r\n"},
    {msg::severe(618), "end of file written\r\n"},
    {msg::severe(619), "read after end of file\r\n"},
    {msg::severe(620), "write after end of file\r\n"},
    {msg::severe(621), "incomplete record at end of file\r\n"},
    {msg::severe(622), "record length field corrupted\r\n"},
    {msg::severe(623), "segment control word corrupted\r\n"},
    {msg::severe(624), "disk full\r\n"},
    {msg::severe(625), "file size limit exceeded\r\n"},
    {msg::severe(626), "interrupted system call\r\n"},
    {msg::severe(627), "I/O already in progress on unit\r\n"},
    {msg::severe(628), "I/O list item not allowed\r\n"},
    {msg::severe(629), "statement not allowed on internal file\r\n"},
    {msg::severe(630), "direct access on sequential unit\r\n"},
    {msg::severe(631), "sequential access on direct unit\r\n"},
    {msg::severe(632), "record number required\r\n"},
    {msg::severe(633), "record number must be positive\r\n"},
    {msg::severe(634), "record number beyond end of file\r\n"},
    {msg::severe(635), "record not written\r\n"},
    {msg::severe(636), "record deleted\r\n"},
    {msg::severe(637), "record length mismatch\r\n"},
    {msg::severe(638), "keyed access on file without keys\r\n"},
    {msg::severe(639), "key value not found\r\n"},
    {msg::severe(640), "key of reference out of range\r\n"},
    {msg::severe(641), "key length mismatch\r\n"},
    {msg::severe(642), "key type mismatch\r\n"},
    {msg::severe(643), "duplicate key not allowed\r\n"},
    {msg::severe(644), "key field may not change\r\n"},
    {msg::severe(645), "no current record for REWRITE\r\n"},
    {msg::severe(646), "no current record for DELETE\r\n"},
    {msg::severe(647), "record locked by another process\r\n"},
    {msg::severe(648), "record not locked\r\n"},
    {msg::severe(649), "file has no index\r\n"},
    {msg::severe(650), "index structure damaged\r\n"},
    {msg::severe(651), "too many keys defined\r\n"},
    {msg::severe(652), "key position outside record\r\n"},
    {msg::severe(653), "invalid key match criterion\r\n"},
    {msg::severe(654), "end of index reached\r\n"},
    {msg::severe(655), "file organization mismatch\r\n"},
    {msg::severe(656), "record type mismatch\r\n"},
    {msg::severe(657), "carriage control mismatch\r\n"},
    {msg::severe(658), "block size mismatch\r\n"},
    {msg::severe(659), "maximum record number exceeded\r\n"},
    {msg::severe(660), "BACKSPACE not allowed on this unit\r\n"},
    {msg::severe(661), "BACKSPACE past start of file\r\n"},
    {msg::severe(662), "REWIND not allowed on this unit\r\n"},
    {msg::severe(663), "ENDFILE not allowed on this unit\r\n"},
    {msg::severe(664), "ENDFILE on direct-access unit\r\n"},
    {msg::severe(665), "positioning not possible on this device\r\n"},
    {msg::severe(666), "file position lost\r\n"},
    {msg::severe(667), "seek failed\r\n"},
    {msg::severe(668), "truncate failed\r\n"},
    {msg::severe(669), "append position not found\r\n"},
    {msg::severe(670), "internal file too short\r\n"},
    {msg::severe(671), "internal file overflow\r\n"},
    {msg::severe(672), "internal file record number out of range\r\n"},
    {msg::severe(673), "internal file is not character\r\n"},
    {msg::severe(674), "internal file may not be unformatted\r\n"},
    {msg::severe(675), "internal file may not be list-directed here\r\n"},
    {msg::severe(676), "internal file array not contiguous\r\n"},
    {msg::severe(677), "recursive I/O on internal file\r\n"},
    {msg::severe(678), "internal I/O not allowed in this context\r\n"},
    {msg::severe(679), "internal record length zero\r\n"},
    {msg::severe(680), "INQUIRE by both file and unit\r\n"},
    {msg::severe(681), "INQUIRE needs a file or a unit\r\n"},
    {msg::severe(682), "INQUIRE name too long for variable\r\n"},
    {msg::severe(683), "INQUIRE of unconnected unit\r\n"},
    {msg::severe(684), "FLUSH failed\r\n"},
    {msg::severe(685), "FLUSH not allowed on this unit\r\n"},
    {msg::severe(686), "asynchronous I/O not supported\r\n"},
    {msg::severe(687), "WAIT on unit without pending I/O\r\n"},
    {msg::severe(688), "pending I/O not completed\r\n"},
    {msg::severe(689), "invalid ID specifier\r\n"},
    {msg::severe(690), "intrinsic argument out of range\r\n"},
    {msg::severe(691), "intrinsic argument of wrong type\r\n"},
    {msg::severe(692), "array arguments do not conform\r\n"},
    {msg::severe(693), "DIM argument exceeds the array rank\r\n"},
    {msg::severe(694), "MASK argument does not conform\r\n"},
    {msg::severe(695), "SHAPE argument has a negative element\r\n"},
    {msg::severe(696), "SOURCE too small for RESHAPE\r\n"},
    {msg::severe(697), "ORDER argument is not a permutation\r\n"},
    {msg::severe(698), "PAD required for RESHAPE\r\n"},
    {msg::severe(699), "SIZE argument too small\r\n"},
    {msg::severe(700), "shift count out of range\r\n"},
    {msg::severe(701), "bit position out of range\r\n"},
    {msg::severe(702), "bit field out of range\r\n"},
    {msg::severe(703), "radix out of range\r\n"},
    {msg::severe(704), "character code out of range\r\n"},
    {msg::severe(705), "string length too large\r\n"},
    {msg::severe(706), "zero-length string not allowed\r\n"},
    {msg::severe(707), "negative repeat count\r\n"},
    {msg::severe(708), "invalid character in numeric string\r\n"},
    {msg::severe(709), "date and time not available\r\n"},
    {msg::severe(710), "clock not available\r\n"},
    {msg::severe(711), "random seed too short\r\n"},
    {msg::severe(712), "random seed invalid\r\n"},
    {msg::severe(713), "environment variable name too long\r\n"},
    {msg::severe(714), "environment variable value truncated\r\n"},
    {msg::severe(715), "command argument number out of range\r\n"},
    {msg::severe(716), "command argument truncated\r\n"},
    {msg::severe(717), "system command failed\r\n"},
    {msg::severe(718), "exit status out of range\r\n"},
    {msg::severe(719), "optional argument not present\r\n"},
    {msg::severe(720), "allocation failed\r\n"},
    {msg::severe(721), "array already allocated\r\n"},
    {msg::severe(722), "array not allocated\r\n"},
    {msg::severe(723), "deallocation of pointer target not allowed\r\n"},
    {msg::severe(724), "negative extent in allocation\r\n"},
    {msg::severe(725), "allocation size overflow\r\n"},
    {msg::severe(726), "pointer target not associated\r\n"},
    {msg::severe(727), "pointer target already deallocated\r\n"},
    {msg::severe(728), "heap corrupted\r\n"},
    {msg::severe(729), "stack too small\r\n"},
    {msg::severe(730), "integer conversion overflow\r\n"},
    {msg::severe(731), "real conversion overflow\r\n"},
    {msg::severe(732), "real conversion underflow\r\n"},
    {msg::severe(733), "invalid real value\r\n"},
    {msg::severe(734), "invalid integer value\r\n"},
    {msg::severe(735), "invalid logical value\r\n"},
    {msg::severe(736), "invalid hexadecimal value\r\n"},
    {msg::severe(737), "invalid octal value\r\n"},
    {msg::severe(738), "invalid binary value\r\n"},
    {msg::severe(739), "exponent out of range\r\n"},
    {msg::severe(740), "too many digits\r\n"},
    {msg::severe(741), "value not representable\r\n"},
    {msg::severe(742), "complex conversion error\r\n"},
    {msg::severe(743), "character conversion error\r\n"},
    {msg::severe(744), "foreign format not supported\r\n"},
    {msg::severe(745), "byte order conversion failed\r\n"},
    {msg::severe(746), "window not available\r\n"},
    {msg::severe(747), "window size not supported\r\n"},
    {msg::severe(748), "window position out of range\r\n"},
    {msg::severe(749), "text position out of range\r\n"},
    {msg::severe(750), "window focus not available\r\n"},
    {msg::severe(751), "window closed\r\n"},
    {msg::severe(752), "graphics mode not available\r\n"},
    {msg::severe(753), "palette not available\r\n"},
    {msg::severe(754), "font not available\r\n"},
    {msg::severe(755), "console input not available\r\n"},
    {msg::severe(756), "console output not available\r\n"},
    {msg::severe(757), "keyboard input interrupted\r\n"},
    {msg::severe(758), "End of record encountered\r\n"},
    {msg::severe(759), "unknown run-time error\r\n"},
};

static_assert(std::size(kRows) == 368);
static_assert(std::adjacent_find(std::begin(kRows), std::end(kRows),
                                 [](const CatalogRow& a, const CatalogRow& b) {
                                   return a.id >= b.id;
                                 }) == std::end(kRows),
              "catalog rows must be strictly ascending for the binary search");

// The table has a fifth word between "info" and "error" that no class selects:
// class 2 conditions are reported as errors, never as warnings.
constexpr const char* kSeverityWords[] = {"forrtl", "forrtl: info", "forrtl: warning",
                                          "forrtl: error", "forrtl: severe"};
constexpr unsigned kWordOfClass[4] = {0, 1, 3, 4};

// Appends to the caller's buffer up to a fixed limit and remembers whether
// anything was cut; the terminator is written by the caller.
class Writer {
 public:
  Writer(char* out, std::size_t limit) : out_(out), limit_(limit) {}

  void put(char c) {
    if (length_ < limit_) {
      out_[length_++] = c;
    } else {
      truncated_ = true;
    }
  }
  void put(std::string_view s) {
    for (char c : s) put(c);
  }
  void put_unsigned(std::uint64_t v, unsigned base) {
    char digits[std::numeric_limits<std::uint64_t>::digits10 + 1];  // base 10 at most
    std::size_t n = 0;
    do {
      digits[n++] = "0123456789abcdef"[v % base];
      v /= base;
    } while (v != 0);
    while (n != 0) put(digits[--n]);
  }
  void put_signed(std::int64_t v) {
    // Negate in unsigned arithmetic so the most negative value survives.
    if (v < 0) put('-');
    put_unsigned(v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v), 10);
  }

  std::size_t length() const { return length_; }
  bool truncated() const { return truncated_; }

 private:
  char* out_;
  std::size_t limit_;
  std::size_t length_ = 0;
  bool truncated_ = false;
};

// Renders one argument in its own form: integers in decimal, texts as given.
void put_plain(Writer& w, const FormatArg& a) {
  if (a.kind == FormatArg::Kind::kText) {
    w.put(a.text);
  } else {
    w.put_signed(a.integer);
  }
}

void substitute(Writer& w, std::string_view t, std::span<const FormatArg> args) {
  std::size_t next = 0;
  std::size_t i = 0;
  while (i < t.size()) {
    if (t[i] != '%') {
      w.put(t[i++]);
      continue;
    }
    std::size_t j = i + 1;
    bool star = false;
    bool is_long = false;
    if (t.substr(j, 2) == ".*") {
      star = true;
      j += 2;
    } else if (j < t.size() && t[j] == 'l') {
      is_long = true;
      ++j;
    }
    const char conv = j < t.size() ? t[j] : '\0';
    const bool known = star ? conv == 's'
                            : (conv == 'd' || conv == 'i' || conv == 'u' || conv == 'x' ||
                               (!is_long && (conv == 'c' || conv == 's' || conv == '%')));
    if (!known) {
      w.put(t[i++]);  // not a conversion: the '%' is ordinary text
      continue;
    }
    const std::string_view spelling = t.substr(i, j + 1 - i);
    i = j + 1;
    if (conv == '%') {
      w.put('%');
      continue;
    }
    if (next >= args.size()) {
      w.put(spelling);  // nothing left to substitute
      continue;
    }
    std::int64_t precision = -1;
    if (star && args[next].kind == FormatArg::Kind::kInteger && next + 1 < args.size()) {
      precision = args[next++].integer;
    }
    const FormatArg& a = args[next++];
    if (a.kind == FormatArg::Kind::kText) {
      std::string_view text = a.text;
      if (precision >= 0 && static_cast<std::uint64_t>(precision) < text.size()) {
        text = text.substr(0, static_cast<std::size_t>(precision));
      }
      w.put(text);
      continue;
    }
    switch (conv) {
      case 'u':
      case 'x': {
        // Without 'l' the value is an unsigned int, as in C.
        const auto bits = static_cast<std::uint64_t>(a.integer);
        w.put_unsigned(is_long ? bits : (bits & 0xFFFFFFFFu), conv == 'x' ? 16 : 10);
        break;
      }
      case 'c':
        if ((a.integer & 0xFF) != 0) w.put(static_cast<char>(a.integer & 0xFF));
        break;
      default:
        put_plain(w, a);
        break;
    }
  }
}

}  // namespace

std::span<const CatalogRow> catalog_rows() {
  return kRows;
}

const char* catalog_lookup(msg::Id id) {
  const auto* it = std::lower_bound(std::begin(kRows), std::end(kRows), id,
                                    [](const CatalogRow& row, msg::Id v) { return row.id < v; });
  return it != std::end(kRows) && it->id == id ? it->text : kMessageNotFound;
}

const char* severity_word(unsigned cls) {
  return kSeverityWords[kWordOfClass[cls & 3u]];
}

int format_template(char* out, std::size_t cap, const char* tmpl, std::span<const FormatArg> args) {
  if (out == nullptr || cap == 0) return -1;
  // The work-buffer check lives here, where the template is taken up, so
  // every formatting path applies it.
  std::size_t length = 0;
  if (tmpl == nullptr) {
    length = kTemplateBufferSize;
  } else {
    while (length < kTemplateBufferSize && tmpl[length] != '\0') ++length;
  }
  if (length >= kTemplateBufferSize) {
    tmpl = kMessageNotFound;
    length = sizeof kMessageNotFound - 1;
  }
  const std::string_view t(tmpl, length);
  const std::size_t limit = std::min(cap - 1, kMessageTextMax);
  Writer w(out, limit);
  if (args.empty()) {
    w.put(t);
  } else {
    substitute(w, t, args);
  }
  // A cut text still ends its line, so whatever follows starts on a new one.
  if (w.truncated() && limit >= 2 && t.ends_with("\r\n")) {
    out[limit - 2] = '\r';
    out[limit - 1] = '\n';
  }
  out[w.length()] = '\0';
  return static_cast<int>(w.length());
}

int format_message(char* out, std::size_t cap, msg::Id id, std::span<const FormatArg> args) {
  return format_template(out, cap, catalog_lookup(id), args);
}

int format_diagnostic_line(char* out, std::size_t cap, msg::Id id,
                           std::span<const FormatArg> args) {
  if (out == nullptr || cap == 0) return -1;
  Writer w(out, cap - 1);
  w.put(severity_word(msg::severity(id)));
  w.put(" (");
  w.put_signed(static_cast<std::int16_t>(msg::number(id)));
  w.put("): ");
  const std::size_t prefix = w.length();
  const int text = format_message(out + prefix, cap - prefix, id, args);
  return static_cast<int>(prefix) + text;
}

}  // namespace rt
