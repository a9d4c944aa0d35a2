// The process-wide registry of stored classes: identifier -> descriptor.
#pragma once

#include <cstdint>

#include "stream/persistent.h"

namespace qx {

// Adds a class. Registering the same descriptor again is silent; a different
// descriptor with an identifier already present shows "\nWarning in class
// (%s-%s)" (the registered name, then the new one) in an "Error" box and the
// first registration stays.
void RegisterClass(const ClassDescriptor& descriptor);
// The registered descriptor with this identifier, or none.
const ClassDescriptor* FindClass(uint32_t identifier);
// Empties the registry (at program exit, and between tests).
void ClearClassRegistry();

// Registers every class a scene file can hold, in their fixed order.
void RegisterStandardClasses();

}  // namespace qx
