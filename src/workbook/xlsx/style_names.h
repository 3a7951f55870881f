// SpreadsheetML's names for the style attributes the model keeps as small numbers (the numbers
// of the binary format): fill patterns, border styles, horizontal and vertical alignment. The
// reader maps names to numbers and the writer numbers to names through the same tables.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

namespace qm::xlsx {

inline constexpr const char* kFillPatternNames[] = {
    "none",           "solid",           "mediumGray",    "darkGray",  "lightGray",
    "darkHorizontal", "darkVertical",    "darkDown",      "darkUp",    "darkGrid",
    "darkTrellis",    "lightHorizontal", "lightVertical", "lightDown", "lightUp",
    "lightGrid",      "lightTrellis",    "gray125",       "gray0625"};

inline constexpr const char* kBorderStyleNames[] = {"none",
                                                    "thin",
                                                    "medium",
                                                    "dashed",
                                                    "dotted",
                                                    "thick",
                                                    "double",
                                                    "hair",
                                                    "mediumDashed",
                                                    "dashDot",
                                                    "mediumDashDot",
                                                    "dashDotDot",
                                                    "mediumDashDotDot",
                                                    "slantDashDot"};

inline constexpr const char* kHorizontalNames[] = {
    "general", "left", "center", "right", "fill", "justify", "centerContinuous", "distributed"};

inline constexpr const char* kVerticalNames[] = {"top", "center", "bottom", "justify",
                                                 "distributed"};

// The number of `name` in `names`, or `otherwise` when it is not there.
template <size_t N>
uint8_t NameNumber(const char* const (&names)[N], std::string_view name, uint8_t otherwise) {
  for (uint8_t i = 0; i < N; ++i)
    if (name == names[i]) return i;
  return otherwise;
}

}  // namespace qm::xlsx
