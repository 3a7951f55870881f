#include "../io.h"

namespace qm::xls {

Status Write(const Workbook&, const std::string&) {
  return MakeError(ErrorCode::kNotSupported, "writing .xls files is not supported yet");
}

}  // namespace qm::xls
