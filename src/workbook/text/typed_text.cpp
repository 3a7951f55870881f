#include "typed_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace qm::text {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// Reads 1 to `most` digits at s[i]; false when there is none or more than `most`.
bool Digits(std::string_view s, size_t& i, size_t most, int& value, size_t& count) {
  value = 0;
  count = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (++count > most) return false;
    value = value * 10 + (s[i++] - '0');
  }
  return count > 0;
}

bool Take(std::string_view s, size_t& i, std::string_view what) {
  if (s.substr(i, what.size()) != what) return false;
  i += what.size();
  return true;
}

bool TypeDate(std::string_view s, TypedText& out) {
  // The shortest form is "yyyy-m-d"; the year is followed by '-', '/' or the first byte of 年.
  if (s.size() < 8 || (s[4] != '-' && s[4] != '/' && s[4] != '\xE5')) return false;
  size_t i = 0, n = 0;
  int y, m, d;
  if (!Digits(s, i, 4, y, n) || n != 4) return false;
  DateForm f;
  std::string_view after_month;
  if (Take(s, i, "-")) {
    f.sep = DateForm::kDash, after_month = "-";
  } else if (Take(s, i, "/")) {
    f.sep = DateForm::kSlash, after_month = "/";
  } else if (Take(s, i, "年")) {
    f.sep = DateForm::kChinese, after_month = "月";
  } else {
    return false;
  }
  if (!Digits(s, i, 2, m, n) || !Take(s, i, after_month)) return false;
  f.month2 = n == 2;
  if (!Digits(s, i, 2, d, n)) return false;
  f.day2 = n == 2;
  if (f.sep == DateForm::kChinese && !Take(s, i, "日")) return false;
  if (y < 1900 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
  double seconds = 0;
  if (i < s.size()) {
    int h, mi, sec = 0;
    if (!Take(s, i, " ") || !Digits(s, i, 2, h, n)) return false;
    f.hour2 = n == 2;
    if (!Take(s, i, ":") || !Digits(s, i, 2, mi, n) || n != 2) return false;
    f.time = DateForm::kMinutes;
    if (Take(s, i, ":")) {
      if (!Digits(s, i, 2, sec, n) || n != 2) return false;
      f.time = DateForm::kSeconds;
    }
    if (i != s.size() || h > 23 || mi > 59 || sec > 59) return false;
    seconds = h * 3600.0 + mi * 60.0 + sec;
  }
  // Serial 1 is 1900-01-01; the 1900 system counts a 29 February 1900 that never was, so the
  // days before March 1900 are one lower than their distance from 1899-12-30.
  long serial = DaysFromCivil(y, m, d) - DaysFromCivil(1899, 12, 30);
  if (serial < 61) --serial;
  out.kind = TypedText::kDate;
  out.number = static_cast<double>(serial) + seconds / 86400.0;
  out.form = f;
  return true;
}

// The value of digits without an exponent, when one multiplication or division of exact
// doubles gives it (at most 15 digits, a power of ten up to 1e22): then it is the correctly
// rounded value, as from_chars would give, at a fraction of the cost.
bool Exact(std::string_view s, size_t int_start, size_t frac_start, size_t frac_digits, size_t end,
           double& v) {
  static const double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (end != frac_start + frac_digits || frac_digits > 22) return false;  // an exponent
  uint64_t m = 0;
  for (size_t k = int_start; k < end; ++k)
    if (IsDigit(s[k])) m = m * 10 + static_cast<uint64_t>(s[k] - '0');
  // Leading zeros of a fraction ("0.000001") make the digits longer than the 15 counted.
  if (m >= (uint64_t{1} << 53)) return false;
  v = static_cast<double>(m) / kPow10[frac_digits];
  return true;
}

bool TypeNumber(std::string_view s, TypedText& out) {
  size_t i = 0;
  if (s[0] == '+' || s[0] == '-') ++i;
  const size_t int_start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  const size_t int_digits = i - int_start;
  size_t frac_start = i, frac_digits = 0;
  bool point = false;
  if (i < s.size() && s[i] == '.') {
    point = true;
    frac_start = ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    frac_digits = i - frac_start;
  }
  if (int_digits + frac_digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t exp_start = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i == exp_start) return false;
  }
  if (i != s.size()) return false;
  // "007" and "12.0" would show as 7 and 12.
  if (int_digits >= 2 && s[int_start] == '0') return false;
  if (point) {
    bool zeros = true;
    for (size_t k = frac_start; k < frac_start + frac_digits && zeros; ++k) zeros = s[k] == '0';
    if (zeros) return false;
  }
  // A double keeps 15 significant digits: an ID or account number of more stays text.
  size_t significant = 0;
  bool started = false;
  for (size_t k = int_start; k < frac_start + frac_digits; ++k) {
    if (!IsDigit(s[k])) continue;
    started = started || s[k] != '0';
    significant += started;
  }
  if (significant > 15) return false;
  double v = 0;
  if (Exact(s, int_start, frac_start, frac_digits, i, v)) {
    out.kind = TypedText::kNumber;
    out.number = v == 0 ? 0 : (s[0] == '-' ? -v : v);
    return true;
  }
  const char* first = s.data() + (s[0] == '+' ? 1 : 0);
  auto [end, ec] = std::from_chars(first, s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
  // An exponent that takes a written digit below the smallest double.
  if (v == 0 && significant > 0) return false;
  out.kind = TypedText::kNumber;
  out.number = v == 0 ? 0 : v;  // "-0" is 0
  return true;
}

}  // namespace

std::string DateFormatString(const DateForm& f) {
  std::string out = "yyyy";
  const char* sep = f.sep == DateForm::kDash ? "-" : "/";
  if (f.sep == DateForm::kChinese) {
    out += "\"年\"";
    out += f.month2 ? "mm" : "m";
    out += "\"月\"";
    out += f.day2 ? "dd" : "d";
    out += "\"日\"";
  } else {
    out += sep;
    out += f.month2 ? "mm" : "m";
    out += sep;
    out += f.day2 ? "dd" : "d";
  }
  if (f.time != DateForm::kNoTime) {
    out += f.hour2 ? " hh:mm" : " h:mm";
    if (f.time == DateForm::kSeconds) out += ":ss";
  }
  return out;
}

TypedText TypeText(std::string_view s) {
  TypedText out;
  if (s.empty()) return out;
  const char c = s[0];
  // Most texts are gone after one comparison.
  if (!IsDigit(c) && c != '-' && c != '+' && c != '.') return out;
  if (TypeDate(s, out)) return out;
  TypeNumber(s, out);
  return out;
}

}  // namespace qm::text
