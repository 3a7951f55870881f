// libFuzzer target for the web-page reader: any bytes must give a workbook or an error, never a
// crash, a hang or runaway memory.
#include <cstddef>
#include <cstdint>

#include "workbook/html/html_reader.h"
#include "workbook/io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)qm::html::LooksLikeHtml(data, size);
  auto r = qm::html::Read(data, size, "fuzz.html");
  if (r.ok()) {
    const qm::Worksheet* ws = (*r)->Worksheets(1);
    for (int row = 1; row <= ws->RowCount(); ++row)
      for (const qm::Cell& c : ws->RowAt(row)->cells) (void)ws->ValueOf(c);
    (void)ws->UsedRange();
    (void)ws->merges();
  }
  return 0;
}
