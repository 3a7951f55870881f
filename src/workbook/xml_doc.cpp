#include "xml_doc.h"

#include <cctype>

#include "xls/biff_in.h"

namespace qm::xmldoc {

namespace {

// The encoding the XML declaration names, in lower case; "" when there is none.
std::string DeclaredEncoding(const uint8_t* d, size_t n) {
  std::string_view head(reinterpret_cast<const char*>(d), std::min<size_t>(n, 512));
  if (head.rfind("<?xml", 0) != 0) return {};
  head = head.substr(0, head.find("?>"));
  const size_t at = head.find("encoding");
  if (at == std::string_view::npos) return {};
  size_t i = at + 8;
  while (i < head.size() && (head[i] == ' ' || head[i] == '=')) ++i;
  if (i >= head.size() || (head[i] != '"' && head[i] != '\'')) return {};
  const char quote = head[i++];
  std::string out;
  for (; i < head.size() && head[i] != quote; ++i)
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(head[i])));
  return out;
}

// The Windows code page of an encoding name expat does not know, or 0.
uint16_t CodePageOf(const std::string& e) {
  static const std::pair<const char*, uint16_t> kNames[] = {
      {"gb2312", 936},        {"gbk", 936},           {"cp936", 936},
      {"x-gbk", 936},         {"gb18030", 936},       {"windows-936", 936},
      {"big5", 950},          {"cp950", 950},         {"shift_jis", 932},
      {"sjis", 932},          {"windows-31j", 932},   {"cp932", 932},
      {"euc-kr", 949},        {"cp949", 949},         {"ks_c_5601-1987", 949},
      {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1252", 1252},
      {"windows-1253", 1253}, {"windows-1254", 1254}, {"windows-1255", 1255},
      {"windows-1256", 1256}, {"windows-1257", 1257}, {"windows-1258", 1258},
  };
  for (const auto& [name, cp] : kNames)
    if (e == name) return cp;
  return 0;
}

}  // namespace

std::string ErrorText(XML_Error code) {
  switch (code) {
    case XML_ERROR_NO_ELEMENTS:
      return "内容不完整，文件在中途结束";
    case XML_ERROR_INVALID_TOKEN:
      return "有无效的字符";
    case XML_ERROR_UNCLOSED_TOKEN:
      return "标记不完整";
    case XML_ERROR_PARTIAL_CHAR:
      return "字符不完整";
    case XML_ERROR_TAG_MISMATCH:
      return "标签不配对";
    case XML_ERROR_DUPLICATE_ATTRIBUTE:
      return "属性重复";
    case XML_ERROR_JUNK_AFTER_DOC_ELEMENT:
      return "文档结束后还有内容";
    case XML_ERROR_UNDEFINED_ENTITY:
      return "引用了未定义的实体";
    case XML_ERROR_BAD_CHAR_REF:
      return "无效的字符引用";
    case XML_ERROR_UNKNOWN_ENCODING:
      return "不支持的字符编码";
    case XML_ERROR_INCORRECT_ENCODING:
      return "声明的字符编码与内容不符";
    case XML_ERROR_UNCLOSED_CDATA_SECTION:
      return "CDATA段没有结束";
    case XML_ERROR_UNBOUND_PREFIX:
      return "用了未声明的命名空间前缀";
    default:
      return XML_ErrorString(code);
  }
}

bool ConvertForeignEncoding(const uint8_t* data, size_t size, std::string& utf8) {
  // A byte order mark or a UTF-16 start says the encoding itself, and expat knows it.
  if (size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF) ||
                    data[0] == 0 || data[1] == 0))
    return false;
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) return false;
  const uint16_t cp = CodePageOf(DeclaredEncoding(data, size));
  if (cp == 0) return false;
  xls::CodePage conv;
  conv.Set(cp);
  utf8.clear();
  utf8.reserve(size + size / 2);
  conv.Convert(data, size, utf8);
  // expat holds the declaration to what it is told the text is: the text is UTF-8 now.
  const size_t decl_end = utf8.find("?>");
  const size_t at = utf8.find("encoding", 0);
  if (at != std::string::npos && at < decl_end) {
    const size_t open = utf8.find_first_of("\"'", at);
    const size_t close = open == std::string::npos ? open : utf8.find(utf8[open], open + 1);
    if (close != std::string::npos && close < decl_end)
      utf8.replace(open + 1, close - open - 1, "UTF-8");
  }
  return true;
}

}  // namespace qm::xmldoc
