#include "../io.h"

namespace qm::xlsx {

Result<std::unique_ptr<Workbook>> Read(const uint8_t*, size_t, const std::string& name,
                                       const ReadOptions&) {
  return MakeError(ErrorCode::kNotSupported, name + ": reading .xlsx files is not supported yet");
}

}  // namespace qm::xlsx
