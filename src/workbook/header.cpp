#include "header.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qm {

std::string NumberText(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  if (d == 0) return "0";
  // Round to 15 significant digits first; the exponent of the rounded value decides the form.
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", d);
  std::string s(buf);
  size_t e = s.find('e');
  int exp = std::atoi(s.c_str() + e + 1);
  std::string mant = s.substr(0, e);  // "-d.dddddddddddddd"
  bool neg = mant[0] == '-';
  if (neg) mant.erase(0, 1);
  std::string digits = mant.substr(0, 1) + mant.substr(2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = neg ? "-" : "";
  if (exp < -4 || exp >= 15) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char eb[16];
    std::snprintf(eb, sizeof eb, "E%c%02d", exp < 0 ? '-' : '+', exp < 0 ? -exp : exp);
    return out + eb;
  }
  if (exp < 0) {
    out += "0." + std::string(static_cast<size_t>(-exp - 1), '0') + digits;
  } else if (static_cast<int>(digits.size()) <= exp + 1) {
    out += digits + std::string(static_cast<size_t>(exp + 1) - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<size_t>(exp + 1)) + "." +
           digits.substr(static_cast<size_t>(exp + 1));
  }
  return out;
}

std::string DateText(double serial, bool date1904) {
  if (!std::isfinite(serial)) return NumberText(serial);
  // Whole seconds, rounded as the date display rounds them.
  double day = std::floor(serial);
  long long secs = std::llround((serial - day) * 86400.0);
  if (secs >= 86400) {
    day += 1;
    secs -= 86400;
  }
  long long d = static_cast<long long>(day);
  if (date1904) d += 1462;
  std::string time;
  if (secs != 0) {
    char tb[32];
    std::snprintf(tb, sizeof tb, "%lld:%02lld:%02lld", secs / 3600, (secs / 60) % 60, secs % 60);
    time = tb;
  }
  if (d == 0 && !date1904) return time.empty() ? "0:00:00" : time;
  if (d < 0 || d > 2958465) return NumberText(serial);
  int y, m, dd;
  if (d == 60) {
    // The 1900 system counts a 29 February 1900 that never was; show it as the file does.
    y = 1900, m = 2, dd = 29;
  } else {
    if (d < 60) ++d;  // serials before the phantom day are one off from the real calendar
    // Days since 1899-12-30 to a civil date (proleptic Gregorian).
    long long z = d - 25569 + 719468;  // 25569 = 1970-01-01
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    dd = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
  }
  char b[32];
  std::snprintf(b, sizeof b, "%d/%d/%d", y, m, dd);
  return time.empty() ? std::string(b) : std::string(b) + " " + time;
}

std::string ValueText(const CellValue& v) {
  switch (v.type) {
    case CellType::kBlank:
      return "";
    case CellType::kText:
      return std::string(v.text);
    case CellType::kNumber:
      return v.is_date ? DateText(v.number, v.date1904) : NumberText(v.number);
    case CellType::kBool:
      return v.number != 0 ? "True" : "False";
    case CellType::kError:
      return ErrorText(v.error);
  }
  return "";
}

bool IsEmptyValue(const CellValue& v) {
  switch (v.type) {
    case CellType::kBlank:
      return true;
    case CellType::kText:
      return v.text.empty();
    default:
      return false;
  }
}

namespace {
// Numbers, dates and booleans compare as numbers; TRUE is -1.
double NumericKey(const CellValue& v) {
  if (v.type == CellType::kBool) return v.number != 0 ? -1.0 : 0.0;
  return v.number;
}
}  // namespace

bool KeysEqual(const CellValue& a, const CellValue& b) {
  if (a.type == CellType::kError || b.type == CellType::kError) return false;
  if (a.type == CellType::kBlank || b.type == CellType::kBlank) {
    const CellValue& o = a.type == CellType::kBlank ? b : a;
    switch (o.type) {
      case CellType::kBlank:
        return true;
      case CellType::kText:
        return o.text.empty();
      default:
        return NumericKey(o) == 0;
    }
  }
  bool at = a.type == CellType::kText, bt = b.type == CellType::kText;
  if (at != bt) return false;
  if (at) return a.text == b.text;
  return NumericKey(a) == NumericKey(b);
}

double ReadTypedNumber(const std::optional<std::string>& answer) {
  if (!answer) return 0;
  std::string s;
  for (char ch : *answer)
    if (ch != ' ' && ch != '\t' && ch != '\n') s.push_back(ch);
  size_t i = 0;
  if (s.size() >= 2 && s[0] == '&') {
    char p = static_cast<char>(std::toupper(static_cast<unsigned char>(s[1])));
    int base = p == 'H' ? 16 : p == 'O' ? 8 : 0;
    if (base == 0) return 0;
    double v = 0;
    for (i = 2; i < s.size(); ++i) {
      int digit;
      char ch = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
      if (ch >= '0' && ch <= '9')
        digit = ch - '0';
      else if (base == 16 && ch >= 'A' && ch <= 'F')
        digit = ch - 'A' + 10;
      else
        break;
      if (digit >= base) break;
      v = v * base + digit;
    }
    return v;
  }
  // sign, digits, point, digits, then an exponent only when at least one digit follows it
  std::string num;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) num.push_back(s[i++]);
  bool any = false;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
    num.push_back(s[i++]), any = true;
  if (i < s.size() && s[i] == '.') {
    num.push_back(s[i++]);
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
      num.push_back(s[i++]), any = true;
  }
  if (!any) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    size_t j = i + 1;
    std::string ex = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ex.push_back(s[j++]);
    bool exp_digits = false;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
      ex.push_back(s[j++]), exp_digits = true;
    if (exp_digits) num += ex;
  }
  return std::strtod(num.c_str(), nullptr);
}

double RoundHalfEven(double d) {
  if (!std::isfinite(d)) return d;
  double f = std::floor(d);
  double diff = d - f;
  if (diff > 0.5) return f + 1;
  if (diff < 0.5) return f;
  return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

void DetectHeader(const Worksheet& sheet, HeaderState& state) {
  state.HeaderWidth = 0;
  for (int r = 1; r <= 5; ++r) {
    const Row* row = sheet.RowAt(r);
    int n = 0;
    if (row) {
      // Run of consecutive non-empty cells from column 1; the grid's last column ends it.
      for (const Cell& cell : row->cells) {
        if (cell.col != n + 1) break;
        if (IsEmptyValue(sheet.ValueOf(cell))) break;
        ++n;
      }
    }
    if (state.HeaderWidth < n) {
      state.HeaderWidth = n;
      state.HeaderRow = r;
    }
  }
}

HeaderList BuildHeaderList(const Worksheet& sheet, const HeaderState& state) {
  HeaderList list;
  list.reserve(static_cast<size_t>(std::max(state.HeaderWidth, 0)));
  for (int c = 1; c <= state.HeaderWidth; ++c)
    list.push_back({c, ValueText(sheet.Cells(state.HeaderRow, c))});
  return list;
}

std::string HeaderListText(const HeaderList& list) {
  std::string s;
  for (const auto& e : list) {
    // The leading blank is where a non-negative number keeps its sign.
    if (e.column >= 0) s += ' ';
    s += std::to_string(e.column);
    s += ':';
    s += e.text;
    s += '|';
  }
  return s;
}

int LookupColumn(const HeaderList& list, std::string_view text) {
  for (const auto& e : list)
    if (e.text == text) return e.column;
  return 0;
}

InputPrompt KeyPrompt(const HeaderList& list) {
  return {HeaderListText(list) + "\r" + "请输入关键字列列号！", "输入提示", "1"};
}

}  // namespace qm
