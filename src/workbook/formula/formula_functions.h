// Built-in worksheet functions of the binary format: their numbers in the function table, their
// argument counts and the operand class each argument is compiled with.
#pragma once

#include <cstdint>
#include <string_view>

namespace qm::formula {

struct FunctionInfo {
  uint16_t id;
  const char* name;
  uint8_t min_args, max_args;
  char result;         // 'V' value, 'R' reference, 'A' array
  const char* params;  // one class per argument; the last one repeats
  bool is_volatile;

  bool fixed() const { return min_args == max_args; }
  char ParamClass(int i) const;
};

const FunctionInfo* FunctionById(uint16_t id);
const FunctionInfo* FunctionByName(std::string_view name);  // case-insensitive

}  // namespace qm::formula
