// libFuzzer target for the .xls reader: any bytes must give a workbook or an error, never a
// crash, a hang or unbounded memory.
#include <cstddef>
#include <cstdint>

#include "workbook/io.h"
#include "workbook/xls/xls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (bool first_only : {true, false}) {
    qm::ReadOptions options;
    options.first_worksheet_only = first_only;
    // An encrypted package may ask for ten million hash rounds per password: put off, as the
    // read-ahead does, so that one input cannot take seconds.
    options.before_slow_tries = [] { return false; };
    auto r = qm::xls::Read(data, size, "fuzz.xls", options);
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
