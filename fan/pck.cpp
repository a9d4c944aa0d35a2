#include "fan/pck.h"

namespace qx {

const ClassDescriptor QXPck::kClass{"QXPck", &MakeDefault<QXPck>};

}  // namespace qx
