// libFuzzer target for the .xlsb reader: any bytes must give a workbook or an error, never a
// crash, a hang or unbounded memory. fuzz/CMakeLists.txt skips the zip CRC check in fuzz builds,
// so mutated parts get past it.
#include <cstddef>
#include <cstdint>

#include "workbook/io.h"
#include "workbook/xlsb/xlsb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (bool first_only : {true, false}) {
    auto r = qm::xlsb::Read(data, size, "fuzz.xlsb", {first_only});
    if (!r) continue;
    // Touch every value so that what the reader stored is read back too.
    for (int i = 1; i <= (*r)->WorksheetCount(); ++i) {
      const qm::Worksheet* ws = (*r)->Worksheets(i);
      for (int row = 1; row <= ws->RowCount(); ++row)
        for (const qm::Cell& c : ws->RowAt(row)->cells) (void)ws->ValueOf(c);
      (void)ws->UsedRange();
    }
  }
  return 0;
}
