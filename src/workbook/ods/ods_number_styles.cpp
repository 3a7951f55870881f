#include "ods_number_styles.h"

#include <charconv>
#include <cstring>

namespace qm::ods {

namespace {

int IntAttr(const XML_Char** a, std::string_view local, int fallback) {
  const char* v = xmldoc::AttrNs(a, kNumberNs, local);
  if (!v) return fallback;
  int out = fallback;
  auto [p, ec] = std::from_chars(v, v + std::strlen(v), out);
  return ec == std::errc() ? std::clamp(out, 0, 30) : fallback;
}

bool IsLong(const XML_Char** a) {
  const char* v = xmldoc::AttrNs(a, kNumberNs, "style");
  return v && std::strcmp(v, "long") == 0;
}

bool IsTrue(const char* v) {
  return v && std::strcmp(v, "true") == 0;
}

std::string Zeros(int n) {
  return std::string(static_cast<size_t>(std::max(n, 0)), '0');
}

}  // namespace

void NumberStyles::Start(const QName& q, const XML_Char** a) {
  if (q.ns == kNumberNs && q.local.size() > 6 && q.local.substr(q.local.size() - 6) == "-style" &&
      !Inside()) {
    const char* name = xmldoc::AttrNs(a, kStyleNs, "name");
    if (!name || !*name) return;
    current_ = Style{};
    current_.name = name;
    current_.kind = std::string(q.local);
    // A time style wraps at 24 hours unless told not to; a duration of 25 hours shows 25.
    const char* trunc = xmldoc::AttrNs(a, kNumberNs, "truncate-on-overflow");
    current_.elapsed = q.local == "time-style" && trunc && std::strcmp(trunc, "false") == 0;
    return;
  }
  if (!Inside()) return;
  std::string& code = current_.code;
  if (q.ns == kStyleNs) {
    if (q.local == "map") {
      const char* cond = xmldoc::AttrNs(a, kStyleNs, "condition");
      const char* apply = xmldoc::AttrNs(a, kStyleNs, "apply-style-name");
      if (cond && apply) current_.maps.push_back({cond, apply});
    } else if (q.local == "text-properties") {
      const char* color = xmldoc::AttrNs(a, kFoNs, "color");
      if (color && (std::strcmp(color, "#ff0000") == 0 || std::strcmp(color, "#FF0000") == 0))
        code.insert(0, "[Red]");
    }
    return;
  }
  if (q.ns != kNumberNs) return;
  const std::string_view l = q.local;
  if (l == "number") {
    const int decimals = IntAttr(a, "decimal-places", -1);
    const int min_decimals = IntAttr(a, "min-decimal-places", decimals);
    const int digits = IntAttr(a, "min-integer-digits", 1);
    const bool grouping = IsTrue(xmldoc::AttrNs(a, kNumberNs, "grouping"));
    if (decimals < 0 && !grouping && digits <= 1) {
      // LibreOffice writes its "General" this way: as many decimals as the value needs.
      code += "General";
      current_.general = true;
      return;
    }
    std::string integer = Zeros(digits);
    if (grouping) integer = integer.size() >= 4 ? integer : "#,##" + Zeros(std::max(digits, 1));
    if (integer.empty()) integer = "#";
    code += integer;
    const int fixed = std::min(min_decimals, std::max(decimals, 0));
    if (decimals > 0)
      code += "." + Zeros(fixed) + std::string(static_cast<size_t>(decimals - fixed), '#');
  } else if (l == "scientific-number") {
    const int decimals = IntAttr(a, "decimal-places", 2);
    code += Zeros(std::max(IntAttr(a, "min-integer-digits", 1), 1));
    if (decimals > 0) code += "." + Zeros(decimals);
    code += "E+" + Zeros(std::max(IntAttr(a, "min-exponent-digits", 2), 1));
  } else if (l == "fraction") {
    const int whole = IntAttr(a, "min-integer-digits", 0);
    if (whole > 0) code += "# ";
    code +=
        std::string(static_cast<size_t>(std::max(IntAttr(a, "min-numerator-digits", 1), 1)), '?');
    code += "/";
    const int denominator = IntAttr(a, "denominator-value", 0);
    code +=
        denominator > 0
            ? std::to_string(denominator)
            : std::string(static_cast<size_t>(std::max(IntAttr(a, "min-denominator-digits", 1), 1)),
                          '?');
  } else if (l == "year") {
    code += IsLong(a) ? "yyyy" : "yy";
  } else if (l == "month") {
    const bool textual = IsTrue(xmldoc::AttrNs(a, kNumberNs, "textual"));
    code += textual ? (IsLong(a) ? "mmmm" : "mmm") : (IsLong(a) ? "mm" : "m");
  } else if (l == "day") {
    code += IsLong(a) ? "dd" : "d";
  } else if (l == "day-of-week") {
    code += IsLong(a) ? "dddd" : "ddd";
  } else if (l == "hours") {
    const std::string h = IsLong(a) ? "hh" : "h";
    code += current_.elapsed ? "[" + h + "]" : h;
  } else if (l == "minutes") {
    code += IsLong(a) ? "mm" : "m";
  } else if (l == "seconds") {
    code += IsLong(a) ? "ss" : "s";
    const int decimals = IntAttr(a, "decimal-places", 0);
    if (decimals > 0) code += "." + Zeros(decimals);
  } else if (l == "am-pm") {
    code += "AM/PM";
  } else if (l == "boolean") {
    code += "\"TRUE\";\"TRUE\";\"FALSE\"";
  } else if (l == "text-content") {
    code += "@";
  } else if (l == "text" || l == "currency-symbol") {
    in_text_ = true;
    text_.clear();
  }
}

void NumberStyles::Literal(std::string_view text) {
  std::string& code = current_.code;
  // A percent sign of a percentage style is the one that multiplies by 100.
  if (current_.kind == "percentage-style" && text == "%") {
    code += "%";
    return;
  }
  bool plain = !text.empty();
  for (char c : text)
    if (!std::strchr(" -/():,.$+", c)) plain = false;
  if (plain) {
    code += text;
    return;
  }
  code += '"';
  for (char c : text) {
    if (c == '"')
      code += "\"\\\"\"";
    else
      code += c;
  }
  code += '"';
}

void NumberStyles::End(const QName& q) {
  if (!Inside()) return;
  if (q.ns != kNumberNs) return;
  if (in_text_ && (q.local == "text" || q.local == "currency-symbol")) {
    in_text_ = false;
    Literal(text_);
    return;
  }
  if (q.local == current_.kind) {
    std::string name = current_.name;
    styles_[name] = std::move(current_);
    current_ = Style{};
  }
}

void NumberStyles::Text(const char* s, int len) {
  if (in_text_ && text_.size() < 1024) text_.append(s, static_cast<size_t>(len));
}

std::string NumberStyles::Code(const std::string& name) const {
  std::string code = CodeOf(name, 0);
  return code == "General" ? std::string() : code;
}

std::string NumberStyles::CodeOf(const std::string& name, int depth) const {
  auto it = styles_.find(name);
  if (it == styles_.end() || depth > 4) return {};
  const Style& s = it->second;
  if (s.maps.empty()) return s.code;
  // LibreOffice keeps the sections of a format apart: the style named in the cell holds the
  // last section and maps values to the others ("value()>=0" for the positive one).
  if (s.maps.size() == 1 && s.maps[0].condition == "value()>=0")
    return CodeOf(s.maps[0].style, depth + 1) + ";" + s.code;
  std::string out;
  for (const Map& m : s.maps) {
    std::string cond = m.condition;
    if (cond.rfind("value()", 0) != 0) continue;
    out += "[" + cond.substr(7) + "]" + CodeOf(m.style, depth + 1) + ";";
  }
  return out + s.code;
}

}  // namespace qm::ods
