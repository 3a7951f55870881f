// libFuzzer target for the OpenDocument reader, packaged (a zip) or flat (anything else): any
// bytes must give a workbook or an error, never a crash, a hang or unbounded memory.
#include <cstddef>
#include <cstdint>

#include "workbook/io.h"
#include "workbook/ods/ods.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (bool first_only : {true, false}) {
    auto r = size >= 2 && data[0] == 'P' && data[1] == 'K'
                 ? qm::ods::Read(data, size, "fuzz.ods", {first_only})
                 : qm::ods::ReadFlat(data, size, "fuzz.fods", {first_only});
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
