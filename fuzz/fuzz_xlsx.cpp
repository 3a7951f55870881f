// libFuzzer target for the package reader: any bytes must give a workbook or an error, never a
// crash, a hang or runaway memory. Build the library with
// -DFUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION -fsanitize=fuzzer-no-link,address,undefined so the
// fuzzer sees its coverage and mutated entries are not all stopped by their CRC.
#include <cstddef>
#include <cstdint>

#include "workbook/io.h"

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
