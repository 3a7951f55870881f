// Comma-separated and tab-separated text as a workbook of one sheet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "../result.h"
#include "../workbook.h"

namespace qm::text {

// Reads CSV or tab-separated text. The encoding: a byte order mark decides; otherwise valid
// UTF-8 is UTF-8 and anything else GB18030. The separator: a tab for a .tsv `name`, and for a
// .xls or .txt name whose lines split evenly on tabs; otherwise a comma, unless the first lines
// split consistently on ';' or tab and not on commas. Quotes as RFC 4180. Cells are typed as
// TypeText says. Errors name `name` and the reason.
Result<std::unique_ptr<Workbook>> ReadCsv(const uint8_t* data, size_t size,
                                          const std::string& name);

// The separator the rules above pick for UTF-8 `text` read under `name`.
char DetectSeparator(std::string_view text, const std::string& name);

}  // namespace qm::text
