// Persistent objects: everything stored in a scene file belongs to a named,
// versioned class. A class is known on disk by the CRC of its name (see
// crc32.h), so any program that registered a class of the same name can read
// it; another version is another name and therefore another class.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "stream/crc32.h"

namespace qx {

class ObjectWriter;
class ObjectReader;
class ClassDescriptor;

// Token of the stepwise write/read protocol; none ends the sequence.
using StepToken = std::optional<uint32_t>;

// The seven operations every stored class provides, in dispatch order. The
// default Write runs BeginWrite/WriteStep until the token is none (so a class
// that keeps every default, like the fan mesh record, has an empty body); the
// default Read does the same with BeginRead/ReadStep.
class PersistentObject {
 public:
  virtual ~PersistentObject() = default;

  // The object's class; a class descriptor answers none.
  virtual const ClassDescriptor* GetClass() const = 0;
  // Writes the object's body; true on success.
  virtual bool Write(ObjectWriter& out);
  virtual StepToken BeginWrite(ObjectWriter& out);
  virtual StepToken WriteStep(ObjectWriter& out, StepToken token);
  // Reads the object's body; true on success. Called on a default instance
  // made by the class's factory. On failure the object must own nothing it
  // read (other records may still refer to those objects): the stream then
  // deletes it.
  virtual bool Read(ObjectReader& in);
  virtual StepToken BeginRead(ObjectReader& in);
  virtual StepToken ReadStep(ObjectReader& in, StepToken token);
};

// Makes a default instance of a class; the caller owns it.
using ClassFactory = PersistentObject* (*)();

template <class T>
PersistentObject* MakeDefault() {
  return new T;
}

// One record per class. Descriptors are persistent objects themselves: a
// stream writes a class's descriptor once and refers back to it afterwards.
class ClassDescriptor final : public PersistentObject {
 public:
  // An empty descriptor, filled by Read.
  ClassDescriptor() = default;
  ClassDescriptor(const char* name, ClassFactory factory)
      : name_(name), factory_(factory), identifier_(ClassIdentifier(name)) {}

  const ClassDescriptor* GetClass() const override { return nullptr; }
  // The text (always empty here) as a string, then the 4-byte identifier.
  bool Write(ObjectWriter& out) override;
  // A string read into a 128-byte buffer and dropped, then the identifier.
  bool Read(ObjectReader& in) override;

  const char* Name() const { return name_ ? name_ : ""; }
  ClassFactory Factory() const { return factory_; }
  uint32_t Identifier() const { return identifier_; }

 private:
  const char* name_ = nullptr;
  ClassFactory factory_ = nullptr;
  uint32_t identifier_ = 0;
};

}  // namespace qx
