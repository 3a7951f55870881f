// Writes BIFF8 record buffers as the "Workbook" stream of a compound file.
#pragma once

#include <deque>
#include <string>

#include "../result.h"
#include "biff_out.h"

namespace qm::xls {

// `globals` first, then each buffer of `bodies` (its spilled part, then what is in memory).
// The file is written in place: callers write to a temporary name and rename it.
Status WriteCompoundFile(const std::string& path, BiffBuffer& globals,
                         std::deque<BiffBuffer>& bodies);

}  // namespace qm::xls
