// The value a text from a CSV file or a web page stands for, read the way a user expects and
// without losing anything: a number only where the number shows the same as the text did, a
// date only where the date exists. Everything else stays the text it was.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::text {

// How a date was written, so the cell shows it again the same way: the separators, whether the
// month, the day and the hour had two digits, and how much of the time there was.
struct DateForm {
  enum Sep : uint8_t { kDash, kSlash, kChinese };
  enum Time : uint8_t { kNoTime, kMinutes, kSeconds };
  Sep sep = kDash;
  bool month2 = false, day2 = false, hour2 = false;
  Time time = kNoTime;

  // A small dense number for the form, below kCodes, so readers can keep one style per form.
  int Code() const {
    return ((static_cast<int>(sep) * 3 + time) * 2 + month2) * 4 + day2 * 2 + hour2;
  }
  static constexpr int kCodes = 3 * 3 * 2 * 4;
};

// The number format that shows a date of this form as it was written ("yyyy-mm-dd hh:mm").
std::string DateFormatString(const DateForm& form);

struct TypedText {
  enum Kind : uint8_t { kText, kNumber, kDate };
  Kind kind = kText;
  double number = 0;  // the number, or the date's serial in the 1900 date system
  DateForm form{};    // for kDate
};

// Plain decimal numbers ("-12.5", "1.5E+3") become numbers, except those a number would show
// differently: leading zeros ("007"), more than 15 significant digits, a fraction of zeros only
// ("12.0"). Dates "yyyy-mm-dd", "yyyy/m/d" and "yyyy年m月d日", each with an optional
// " hh:mm[:ss]", become dates when the day exists. Nothing is trimmed first.
TypedText TypeText(std::string_view s);

}  // namespace qm::text
