#include "cell.h"

namespace qm {

namespace {
struct ErrorName {
  uint8_t code;
  const char* text;
};
constexpr ErrorName kErrors[] = {
    {0x00, "#NULL!"}, {0x07, "#DIV/0!"}, {0x0F, "#VALUE!"}, {0x17, "#REF!"},
    {0x1D, "#NAME?"}, {0x24, "#NUM!"},   {0x2A, "#N/A"},    {0x2B, "#GETTING_DATA"},
};
}  // namespace

const char* ErrorText(uint8_t code) {
  for (const auto& e : kErrors)
    if (e.code == code) return e.text;
  return "#N/A";
}

int ErrorFromText(std::string_view text) {
  for (const auto& e : kErrors)
    if (text == e.text) return e.code;
  return -1;
}

}  // namespace qm
