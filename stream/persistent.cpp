#include "stream/persistent.h"

#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx {

bool PersistentObject::Write(ObjectWriter& out) {
  for (StepToken token = BeginWrite(out); token; token = WriteStep(out, token)) {
  }
  return true;
}

StepToken PersistentObject::BeginWrite(ObjectWriter&) { return std::nullopt; }
StepToken PersistentObject::WriteStep(ObjectWriter&, StepToken) { return std::nullopt; }

bool PersistentObject::Read(ObjectReader& in) {
  for (StepToken token = BeginRead(in); token; token = ReadStep(in, token)) {
  }
  return true;
}

StepToken PersistentObject::BeginRead(ObjectReader&) { return std::nullopt; }
StepToken PersistentObject::ReadStep(ObjectReader&, StepToken) { return std::nullopt; }

bool ClassDescriptor::Write(ObjectWriter& out) {
  return out.WriteString("") && out.WriteU32(identifier_);
}

bool ClassDescriptor::Read(ObjectReader& in) {
  char text[128];
  return in.ReadString(text, sizeof text) && in.ReadU32(identifier_);
}

}  // namespace qx
