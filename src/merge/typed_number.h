// How the engines read a number typed into an input box.
#pragma once

#include <optional>
#include <string>

namespace qm {

// Reads the answer of an input box as a number: blanks, tabs and line feeds are skipped wherever
// they stand, then digits with sign, decimal point and exponent, or &H / &O prefixed digits, are
// read up to the first character that cannot continue them. Cancel (nullopt), an empty answer
// and text that does not begin with a number give 0.
double ReadTypedNumber(const std::optional<std::string>& answer);

// Rounds to the nearest whole number, a half going to the even neighbour.
double RoundHalfEven(double d);

}  // namespace qm
