#include "merge/typed_number.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace qm {

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

}  // namespace qm
