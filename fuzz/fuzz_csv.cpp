// libFuzzer target for the CSV reader: any bytes must give a workbook or an error, never a
// crash, a hang or runaway memory. The first byte picks the name the text comes under, since the
// separator rules differ by extension.
#include <cstddef>
#include <cstdint>

#include "workbook/io.h"
#include "workbook/text/csv_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kNames[] = {"fuzz.csv", "fuzz.xls", "fuzz.tsv", "fuzz.txt"};
  const char* name = kNames[size > 0 ? data[0] % 4 : 0];
  auto r = qm::text::ReadCsv(data, size, name);
  if (r.ok()) {
    const qm::Worksheet* ws = (*r)->Worksheets(1);
    for (int row = 1; row <= ws->RowCount(); ++row)
      for (const qm::Cell& c : ws->RowAt(row)->cells) (void)ws->ValueOf(c);
    (void)ws->UsedRange();
  }
  return 0;
}
