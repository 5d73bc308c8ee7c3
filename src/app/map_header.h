// The map header as the program holds it: the fields of the ten header lines
// of the text and of the five header records, in their order.
#pragma once

#include <cstdint>

namespace app {

struct MapHeader {
  char TITLE[80];
  char DATE[18];
  char AXA[8], AXB[8], AXC[8];
  float ANGLE;
  float XMIN, YMIN, ZMIN;
  std::int32_t ISA, ISB, ISC;
  std::int32_t IMA, IMB, IMC;
  std::int32_t IDA, IDB, IDC;
  float DX, DY, DZ;
  std::int32_t NX, NY, NZ;
};

}  // namespace app
