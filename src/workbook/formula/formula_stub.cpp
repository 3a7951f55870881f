// Placeholder: nothing is carried until the formula translator lands.
#include "workbook/formula/formula.h"

namespace qm {

std::optional<std::string> ShiftFormula(std::string_view, int, int) {
  return std::nullopt;
}
std::optional<std::string> FormulaAfterRowDeletion(std::string_view, int, int) {
  return std::nullopt;
}
std::optional<std::string> DecodeBiff8Formula(std::span<const uint8_t>, int, int) {
  return std::nullopt;
}
std::optional<std::vector<uint8_t>> EncodeBiff8Formula(std::string_view, int, int) {
  return std::nullopt;
}

}  // namespace qm
