// What the package reader shares with the readers of its styles and worksheet parts: attribute
// conversions that forgive malformed values, and the entry points of those two readers.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../workbook.h"
#include "zip_reader.h"

namespace qm::xlsx {

constexpr size_t kMaxCellText = 8u << 20;  // bytes of one value; far above the 32,767 limit

inline bool IsTrue(const char* v) {
  return v && (std::strcmp(v, "1") == 0 || std::strcmp(v, "true") == 0);
}

inline int ToInt(const char* v, int fallback = 0) {
  if (!v) return fallback;
  int out = fallback;
  auto [p, ec] = std::from_chars(v, v + std::strlen(v), out);
  return ec == std::errc() ? out : fallback;
}

inline double ToDouble(const char* v, double fallback = 0) {
  if (!v) return fallback;
  double out = fallback;
  const char* end = v + std::strlen(v);
  while (v < end && *v == ' ') ++v;
  auto [p, ec] = std::from_chars(v, end, out);
  return ec == std::errc() ? out : fallback;
}

// Reads the styles part (the package's own "xl/styles.xml" when `styles_part` is empty) and the
// theme its colours refer to into the workbook's style table. `xf_map` receives the table's
// index of each cell format of the file, and holds at least one entry even without a styles part.
Status ReadStyles(zip::Archive& zip, const std::string& file, Workbook& wb,
                  const std::string& styles_part, const std::string& theme_part,
                  std::vector<uint16_t>& xf_map);

// Reads one worksheet part into `ws`; `sst` holds the shared strings and `xf_map` is what
// ReadStyles left. `file` names the workbook in messages.
Status ReadSheet(zip::Archive& zip, const zip::Entry& part, const std::string& file, Worksheet& ws,
                 const std::vector<std::string>& sst, const std::vector<uint16_t>& xf_map,
                 bool date1904);

}  // namespace qm::xlsx
