// What the readers of text sources (CSV files, web pages) share: the sheet's name, the cells
// typed the way a user expects, and the look of a text before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../worksheet.h"
#include "typed_text.h"

namespace qm::text {

// The sheet of a text source is named after the file, as spreadsheet programs name it: the
// file's name without folder and extension, cut to 31 characters, with the characters a sheet
// name cannot hold replaced by '_'.
std::string SheetNameFromPath(const std::string& path);

// Appends the cell a text stands for at (r, c) of `ws`: a number, a date in the format it was
// written in, or the text itself (`as_text` keeps it text whatever it looks like). Dates get
// one cell format per form, made on first use.
class TypedCells {
 public:
  explicit TypedCells(Worksheet& ws) : ws_(ws) {}
  void Append(int r, int c, std::string_view text, bool as_text = false);

 private:
  uint16_t DateStyle(const DateForm& form);

  Worksheet& ws_;
  uint16_t date_styles_[DateForm::kCodes] = {};  // 0 = not made yet
};

// The first bytes of the text after its byte order mark, as UTF-8 (UTF-16 decoded), for the
// sniffers: at most about `limit` bytes of the file.
std::string TextPrefix(const uint8_t* data, size_t size, size_t limit);

// True when the bytes look like text (no control characters but tab, CR, LF and form feed in
// the first 4 KiB) and not like markup: a file that starts with '<' is a web page or an XML
// document, never CSV.
bool LooksLikeText(const uint8_t* data, size_t size);

}  // namespace qm::text
