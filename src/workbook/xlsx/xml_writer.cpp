#include "xml_writer.h"

#include <cassert>
#include <cstring>

#include "../write_common.h"

namespace qm::xlsx {
namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

void AppendEscaped(std::string& o, std::string_view s) {
  static const char* hex = "0123456789ABCDEF";
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    const char* rep = nullptr;
    char ctrl[8];
    switch (c) {
      case '&':
        rep = "&amp;";
        break;
      case '<':
        rep = "&lt;";
        break;
      case '>':
        rep = "&gt;";
        break;
      case '"':
        rep = "&quot;";
        break;
      case '_':
        if (i + 6 < s.size() && s[i + 1] == 'x' && IsHex(s[i + 2]) && IsHex(s[i + 3]) &&
            IsHex(s[i + 4]) && IsHex(s[i + 5]) && s[i + 6] == '_')
          rep = "_x005F_";
        break;
      default:
        if (c >= 0x80) {
          // Bytes that are not UTF-8 would make the whole part unreadable.
          size_t n = Utf8SeqLen(s, i);
          if (n == 0)
            rep = "\xEF\xBF\xBD";
          else
            i += n - 1;
          break;
        }
        // XML parsers turn a raw CR into LF, so it travels escaped like the other controls.
        if (c < 0x20 && c != '\t' && c != '\n') {
          std::memcpy(ctrl, "_x00", 4);
          ctrl[4] = hex[c >> 4];
          ctrl[5] = hex[c & 15];
          ctrl[6] = '_';
          ctrl[7] = 0;
          rep = ctrl;
        }
    }
    if (rep) {
      o.append(s.data() + start, i - start);
      o += rep;
      start = i + 1;
    }
  }
  o.append(s.data() + start, s.size() - start);
}

XmlWriter& XmlWriter::Start(std::string_view name) {
  CloseStartTag();
  o_ += '<';
  o_ += name;
  open_.emplace_back(name);
  in_start_tag_ = true;
  return *this;
}

XmlWriter& XmlWriter::Attr(std::string_view name, std::string_view value) {
  assert(in_start_tag_);
  o_ += ' ';
  o_ += name;
  o_ += "=\"";
  AppendEscaped(o_, value);
  o_ += '"';
  return *this;
}

XmlWriter& XmlWriter::Attr(std::string_view name, double value) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return RawAttr(name, std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

// Numbers need no escaping.
XmlWriter& XmlWriter::RawAttr(std::string_view name, std::string_view value) {
  assert(in_start_tag_);
  o_ += ' ';
  o_ += name;
  o_ += "=\"";
  o_ += value;
  o_ += '"';
  return *this;
}

XmlWriter& XmlWriter::Text(std::string_view text) {
  assert(!open_.empty());
  CloseStartTag();
  AppendEscaped(o_, text);
  return *this;
}

XmlWriter& XmlWriter::End() {
  assert(!open_.empty());
  if (in_start_tag_) {
    o_ += "/>";
    in_start_tag_ = false;
  } else {
    o_ += "</";
    o_ += open_.back();
    o_ += '>';
  }
  open_.pop_back();
  return *this;
}

void XmlWriter::CloseStartTag() {
  if (!in_start_tag_) return;
  o_ += '>';
  in_start_tag_ = false;
}

}  // namespace qm::xlsx
