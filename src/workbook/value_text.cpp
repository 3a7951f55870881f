#include "workbook/value_text.h"

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

}  // namespace qm
