// libFuzzer target for the package reader: any bytes must give a workbook or an error, never a
// crash, a hang or runaway memory. fuzz/CMakeLists.txt instruments the library and skips the CRC
// check there, so mutated entries get past it.
#include <cstddef>
#include <cstdint>

#include "workbook/io.h"
#include "workbook/xlsx/xlsx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto all = qm::xlsx::Read(data, size, "fuzz.xlsx", {});
  if (all.ok()) {
    // Touch what a caller would: every value of the first sheet.
    const qm::Worksheet* ws = (*all)->Worksheets(1);
    if (ws) {
      for (int r = 1; r <= ws->RowCount(); ++r)
        for (const qm::Cell& c : ws->RowAt(r)->cells) (void)ws->ValueOf(c);
      (void)ws->UsedRange();
    }
  }
  return 0;
}
