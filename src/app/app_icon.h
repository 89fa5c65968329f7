// The program's icon, from the resources in 16, 32 and 48 pixels.
#pragma once

#include <QIcon>

namespace rzt2 {

QIcon applicationIcon();

}  // namespace rzt2
