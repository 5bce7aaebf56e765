#include "scan/line_scan.h"

#ifdef QUORLIX_HAS_VECTOR_SCAN
// Row m lists the set bits of m from the lowest, then 0x80 (a zero byte) for the rest.
const CompactionTable kCompactionTable = [] {
  CompactionTable table{};
  for (unsigned m = 0; m < 256; ++m) {
    unsigned nNext = 0;
    for (unsigned b = 0; b < 8; ++b)
      if (m & (1u << b)) table.indices[m][nNext++] = static_cast<unsigned char>(b);
    while (nNext < 8) table.indices[m][nNext++] = 0x80;
  }
  return table;
}();
#endif
