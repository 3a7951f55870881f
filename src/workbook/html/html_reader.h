// Web pages, as banking and ERP systems export their tables ("导出Excel" that is really HTML),
// read as a workbook of one sheet: the page's first table that has cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "../result.h"
#include "../workbook.h"

namespace qm::html {

// True when the text starts like a web page: after a byte order mark, blanks, an XML
// declaration and comments, an HTML doctype or one of the elements pages start with (html,
// head, body, table, meta, ...). An XML document of another kind is no web page.
bool LooksLikeHtml(const uint8_t* data, size_t size);

// Reads the first <table> that holds a non-empty cell. Row and column spans become merged
// ranges, <br> a line break in the cell; blanks collapse as a browser collapses them. Cell texts
// are typed as CSV fields are, except where the cell's style says text (mso-number-format "\@",
// inline or through its class). The encoding: a byte order mark, else the page's <meta> charset
// or content type, else UTF-8 when the bytes are valid UTF-8 and GB18030 when not. Errors name
// `name` and the reason.
Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name);

}  // namespace qm::html
