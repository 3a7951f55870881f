// The window's icon, drawn rather than shipped as a bitmap so every size stays sharp.
#pragma once

#include <QIcon>

namespace qm {

QIcon AppIcon();

}  // namespace qm
