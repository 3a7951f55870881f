#include "text_source.h"

#include <algorithm>

#include "../paths.h"
#include "../utf.h"
#include "encoding.h"

namespace qm::text {

std::string SheetNameFromPath(const std::string& path) {
  std::string name = PathToUtf8(PathFromUtf8(path).stem());
  // A path of the other system's separators still names the file last.
  if (size_t slash = name.find_last_of("/\\"); slash != std::string::npos) name.erase(0, slash + 1);
  for (char& c : name)
    if (std::string_view("[]:*?/\\").find(c) != std::string_view::npos) c = '_';
  while (!name.empty() && name.front() == '\'') name.erase(0, 1);
  name = CutUtf16(name, 31);
  while (!name.empty() && name.back() == '\'') name.pop_back();
  return name.empty() ? "Sheet1" : name;
}

void TypedCells::Append(int r, int c, std::string_view text, bool as_text) {
  if (text.empty()) return;
  const TypedText t = as_text ? TypedText{} : TypeText(text);
  switch (t.kind) {
    case TypedText::kNumber:
      ws_.AppendNumber(r, c, t.number, 0);
      break;
    case TypedText::kDate:
      ws_.AppendNumber(r, c, t.number, DateStyle(t.form));
      break;
    case TypedText::kText:
      ws_.AppendText(r, c, text, 0);
      break;
  }
}

uint16_t TypedCells::DateStyle(const DateForm& form) {
  uint16_t& style = date_styles_[form.Code()];
  if (style == 0) {
    Xf xf;
    xf.num_fmt = ws_.styles().AddNumFmt(DateFormatString(form));
    style = ws_.styles().AddXf(xf);
  }
  return style;
}

std::string TextPrefix(const uint8_t* data, size_t size, size_t limit) {
  size_t bom_len;
  const Bom bom = DetectBom(data, size, &bom_len);
  const size_t n = std::min(size - bom_len, limit);
  std::string out;
  if (bom == Bom::kUtf16Le || bom == Bom::kUtf16Be)
    Charset::ForBom(bom).Decode(data + bom_len, n & ~size_t{1}, out);
  else
    out.assign(reinterpret_cast<const char*>(data + bom_len), n);
  return out;
}

bool LooksLikeText(const uint8_t* data, size_t size) {
  const std::string prefix = TextPrefix(data, size, 4096);
  size_t i = 0;
  while (i < prefix.size() && std::string_view(" \t\r\n").find(prefix[i]) != std::string::npos) ++i;
  if (i < prefix.size() && prefix[i] == '<') return false;
  for (char ch : prefix) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f') return false;
  }
  return true;
}

}  // namespace qm::text
