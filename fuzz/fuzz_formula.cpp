// libFuzzer target for the formula translations: any bytes, taken as a BIFF8 token array and as
// A1 text, must decode, move, compile and be measured without a crash, a hang or a recursion as
// deep as the input; whatever compiles must read back as text that compiles again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "workbook/formula/formula.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<std::string> decoded = qm::DecodeBiff8Formula(std::span(data, size), 5, 3);
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  for (std::string_view f : {decoded ? std::string_view(*decoded) : std::string_view(), raw}) {
    (void)qm::FormulaNestsTooDeep(f);
    (void)qm::ShiftFormula(f, 3, -1);
    (void)qm::FormulaAfterRowDeletion(f, 2, 2);
    if (auto bytes = qm::EncodeBiff8Formula(f, 5, 3)) {
      auto again = qm::DecodeBiff8Formula(*bytes, 5, 3);
      if (!again || !qm::EncodeBiff8Formula(*again, 5, 3)) std::abort();
    }
  }
  return 0;
}
