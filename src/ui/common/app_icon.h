// The program's icon, in every size that the build rendered into the resources.
#pragma once

#include <QIcon>

namespace rzt2 {

QIcon applicationIcon();

}  // namespace rzt2
