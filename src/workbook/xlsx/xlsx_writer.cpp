#include "../io.h"

namespace qm::xlsx {

Status Write(const Workbook&, const std::string&, std::vector<std::string>*) {
  return MakeError(ErrorCode::kNotSupported, "writing .xlsx files is not supported yet");
}

}  // namespace qm::xlsx
