#include "../io.h"

namespace qm::xls {

Result<std::unique_ptr<Workbook>> Read(const uint8_t*, size_t, const std::string& name,
                                       const ReadOptions&) {
  return MakeError(ErrorCode::kNotSupported, name + ": reading .xls files is not supported yet");
}

}  // namespace qm::xls
