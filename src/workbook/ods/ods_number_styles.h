// OpenDocument data styles (number:number-style, number:date-style, ...) turned into the Excel
// format codes the model keeps, so that dates stay dates and numbers keep their decimals,
// percent signs and currency symbols in the result.
#pragma once

#include <expat.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "../xml_doc.h"

namespace qm::ods {

// The namespaces the reader needs, as expat expands them.
inline constexpr std::string_view kOfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
inline constexpr std::string_view kStyleNs = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";
inline constexpr std::string_view kTableNs = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
inline constexpr std::string_view kTextNs = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
inline constexpr std::string_view kNumberNs = "urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0";
inline constexpr std::string_view kFoNs =
    "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0";
inline constexpr std::string_view kCalcextNs =
    "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0";

struct QName {
  std::string_view ns, local;
  explicit QName(const XML_Char* name) : ns(xmldoc::Namespace(name)), local(xmldoc::Local(name)) {}
  bool Is(std::string_view n, std::string_view l) const { return local == l && ns == n; }
};

class NumberStyles {
 public:
  // Events of the document; those inside a data style are taken, the others ignored.
  void Start(const QName& q, const XML_Char** a);
  void End(const QName& q);
  void Text(const char* s, int len);
  bool Inside() const { return !current_.name.empty(); }

  // The Excel format code of data style `name`; "" when the style is unknown or shows numbers
  // as they come (General).
  std::string Code(const std::string& name) const;

 private:
  struct Map {
    std::string condition;  // "value()>=0"
    std::string style;
  };
  struct Style {
    std::string name;
    std::string kind;  // number-style, date-style, ...
    std::string code;
    bool general = false;  // a number element without fixed decimals
    bool elapsed = false;  // a time style that does not wrap at 24 hours
    std::vector<Map> maps;
  };
  std::string CodeOf(const std::string& name, int depth) const;
  void Literal(std::string_view text);

  std::map<std::string, Style> styles_;
  Style current_;
  bool in_text_ = false;
  std::string text_;
};

}  // namespace qm::ods
