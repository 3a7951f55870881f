// Builds XML into a string one element at a time. Attribute values and text are escaped here
// and nowhere else, and an element with nothing inside closes as <name/>.
#pragma once

#include <charconv>
#include <concepts>
#include <string>
#include <string_view>
#include <vector>

namespace qm::xlsx {

// Appends `s` escaped for element content or an attribute value. Control characters XML cannot
// carry (and CR, which it would not keep) and literal "_xHHHH_" sequences use the _xHHHH_ escape
// spreadsheet readers decode; bytes that are not UTF-8 become U+FFFD.
void AppendEscaped(std::string& o, std::string_view s);

class XmlWriter {
 public:
  // Appends to `out`, which may already hold the XML declaration.
  explicit XmlWriter(std::string& out) : o_(out) {}

  XmlWriter& Start(std::string_view name);
  // Attributes belong to the element just started, before anything inside it.
  XmlWriter& Attr(std::string_view name, std::string_view value);
  template <std::integral T>
  requires(!std::same_as<T, bool>) XmlWriter& Attr(std::string_view name, T value) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return RawAttr(name, std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
  }
  // The shortest text that reads back as the same double.
  XmlWriter& Attr(std::string_view name, double value);
  // Text inside the current element. Even empty text counts as content: the element then ends
  // with an end tag instead of closing as <name/>.
  XmlWriter& Text(std::string_view text);
  // Closes the innermost open element.
  XmlWriter& End();

  // Elements started and not yet ended.
  size_t depth() const { return open_.size(); }

 private:
  XmlWriter& RawAttr(std::string_view name, std::string_view value);
  void CloseStartTag();

  std::string& o_;
  std::vector<std::string> open_;
  bool in_start_tag_ = false;
};

}  // namespace qm::xlsx
