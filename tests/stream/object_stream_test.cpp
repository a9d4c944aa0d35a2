#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/diagnostics.h"
#include "scene/scene_model.h"
#include "stream/byte_order.h"
#include "stream/crc32.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"
#include "stream/registry.h"

namespace qx {
namespace {

// A small stored class: a 32-bit value, optionally padded with extra bytes.
class Probe : public PersistentObject {
 public:
  static const ClassDescriptor kClass;
  const ClassDescriptor* GetClass() const override { return &kClass; }
  bool Write(ObjectWriter& out) override {
    if (!out.WriteU32(value)) return false;
    for (int i = 0; i < padding; ++i) out.WriteU8(0xEE);
    return true;
  }
  bool Read(ObjectReader& in) override { return in.ReadU32(value); }
  uint32_t value = 0;
  int padding = 0;
};
const ClassDescriptor Probe::kClass{"Probe v1", &MakeDefault<Probe>};

// Same layout, but a class no reader has registered.
class Stranger final : public Probe {
 public:
  static const ClassDescriptor kClass;
  const ClassDescriptor* GetClass() const override { return &kClass; }
};
const ClassDescriptor Stranger::kClass{"Stranger v1", &MakeDefault<Stranger>};

class ObjectStream : public testing::Test {
 protected:
  void SetUp() override {
    RegisterStandardClasses();
    RegisterClass(Probe::kClass);
  }
  void TearDown() override { ClearClassRegistry(); }
};

// Undoes 32 zero-bit steps of the CRC register, so that a 4-byte suffix can
// steer a name to any identifier.
uint32_t UnshiftCrc(uint32_t crc) {
  for (int i = 0; i < 32; ++i) crc = (crc & 1) ? ((crc ^ 0x04C11DB7u) >> 1) | 0x80000000u : crc >> 1;
  return crc;
}

std::string NameWithIdentifier(std::string prefix, uint32_t identifier) {
  const uint32_t suffix = UnshiftCrc(identifier) ^ ClassIdentifier(prefix);
  for (int shift = 24; shift >= 0; shift -= 8) prefix += static_cast<char>((suffix >> shift) & 0xFF);
  return prefix;
}

TEST(ClassIdentifier, IsCrc32Mpeg2OfTheName) {
  EXPECT_EQ(ClassIdentifier("123456789"), 0x0376E6E7u);
  EXPECT_EQ(QXScene::kClass.Identifier(), ClassIdentifier("QXScene v0.4"));
  EXPECT_EQ(QXPck::kClass.Identifier(), ClassIdentifier("QXPck"));
}

TEST_F(ObjectStream, SameIdentifierUnderAnotherNameWarnsAndKeepsTheFirst) {
  const std::string forged = NameWithIdentifier("Forged", QXScene::kClass.Identifier());
  ASSERT_EQ(forged.find('\0'), std::string::npos);
  const ClassDescriptor clash(forged.c_str(), nullptr);
  ASSERT_EQ(clash.Identifier(), QXScene::kClass.Identifier());

  std::string title, text;
  auto previous = SetMessageBoxHandler([&](const std::string& t, const std::string& m) { title = t, text = m; });
  RegisterClass(QXScene::kClass);  // the same descriptor again: silent
  EXPECT_TRUE(text.empty());
  RegisterClass(clash);
  SetMessageBoxHandler(previous);

  EXPECT_EQ(title, "Error");
  EXPECT_EQ(text, "\nWarning in class (QXScene v0.4-" + forged + ")");
  EXPECT_EQ(FindClass(clash.Identifier()), &QXScene::kClass);
}

TEST_F(ObjectStream, BackReferenceWidthFollowsItsPosition) {
  // The probe record occupies bytes 0..20; references then stand at 21 … 65.
  for (uint32_t position = 21; position <= 65; ++position) {
    MemoryObjectWriter out;
    Probe probe;
    probe.value = 42;
    out.WriteObject(&probe);
    ASSERT_EQ(out.Tell(), 21u);
    const std::vector<uint8_t> filler(position - out.Tell(), 0);
    if (!filler.empty()) out.WriteBytes(filler.data(), filler.size());
    out.WriteObject(&probe);
    const size_t width = out.Tell() - position;
    EXPECT_EQ(width, position <= 64 ? 1u : 2u) << position;
    EXPECT_EQ(out.Bytes()[position] & 3, 0) << "kind 0";

    MemoryObjectReader in(out.Bytes());
    auto* first = in.ReadNewObjectAs<Probe>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->value, 42u);
    ASSERT_TRUE(in.Skip(filler.size()));
    EXPECT_EQ(in.ReadObject(), first);
    delete first;
  }
}

// Before position 21 no record can end, so no writer puts a reference there;
// a reader still takes one byte for it at positions 1 … 20 (to offset 0, where
// nothing was read: no object).
TEST_F(ObjectStream, EarlyBackReferencesTakeOneByte) {
  for (uint32_t position = 1; position <= 20; ++position) {
    std::vector<uint8_t> bytes(position, 0x03);  // no-object bytes
    bytes.insert(bytes.end(), {0x00, 0x00});
    MemoryObjectReader in(bytes);
    for (uint32_t i = 0; i < position; ++i) ASSERT_EQ(in.ReadObject(), nullptr);
    EXPECT_EQ(in.ReadObject(), nullptr);
    EXPECT_EQ(in.Tell(), position + 1) << position;
  }
}

TEST_F(ObjectStream, ObjectsAndDescriptorsAreWrittenOncePerStream) {
  Probe a, b;
  a.value = 1;
  b.value = 2;
  MemoryObjectWriter out;
  out.WriteObject(&a);
  const uint32_t afterFirst = out.Tell();
  out.WriteObject(&b);
  const uint32_t afterSecond = out.Tell();
  out.WriteObject(&a);

  EXPECT_EQ(afterFirst, 4u + 13u + 4u);                // header, descriptor record, value
  EXPECT_EQ(afterSecond - afterFirst, 4u + 1u + 4u);   // header, descriptor reference, value
  EXPECT_EQ(out.Tell() - afterSecond, 1u);             // back reference to a
  const std::vector<uint8_t>& bytes = out.Bytes();
  EXPECT_EQ(LoadU32(bytes.data()), (21u << 2) | 1);
  EXPECT_EQ(LoadU32(bytes.data() + 4), (13u << 2) | 2);

  MemoryObjectReader in(bytes);
  auto* readA = in.ReadNewObjectAs<Probe>();
  auto* readB = in.ReadNewObjectAs<Probe>();
  ASSERT_TRUE(readA && readB);
  EXPECT_EQ(readA->value, 1u);
  EXPECT_EQ(readB->value, 2u);
  EXPECT_EQ(in.ReadObject(), readA);
  delete readA;
  delete readB;
}

TEST_F(ObjectStream, UnknownClassIsSkippedWithWarningAndShortReadsAreSkippedToo) {
  Stranger stranger;
  stranger.value = 5;
  stranger.padding = 9;
  Probe padded;
  padded.value = 6;
  padded.padding = 7;  // bytes Probe::Read does not consume
  Stranger again;
  Probe last;
  last.value = 8;
  MemoryObjectWriter out;
  for (PersistentObject* object : std::initializer_list<PersistentObject*>{&stranger, &padded, &again, &last})
    out.WriteObject(object);

  MemoryObjectReader in(out.Bytes());
  testing::internal::CaptureStdout();
  EXPECT_EQ(in.ReadObject(), nullptr);
  auto* readPadded = in.ReadNewObjectAs<Probe>();
  EXPECT_EQ(in.ReadObject(), nullptr);  // a later record of the same class warns again
  auto* readLast = in.ReadNewObjectAs<Probe>();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nWarning, class not found\nWarning, class not found");
  ASSERT_TRUE(readPadded && readLast);
  EXPECT_EQ(readPadded->value, 6u);
  EXPECT_EQ(readLast->value, 8u);
  EXPECT_EQ(in.Tell(), out.Bytes().size());
  delete readPadded;
  delete readLast;
}

TEST_F(ObjectStream, StringsKeepWhatFitsAndSkipTheRest) {
  MemoryObjectWriter out;
  out.WriteString("a rather long text");
  out.WriteU32(77);
  MemoryObjectReader in(out.Bytes());
  char buffer[6];
  ASSERT_TRUE(in.ReadString(buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "a rat");
  uint32_t after;
  ASSERT_TRUE(in.ReadU32(after));
  EXPECT_EQ(after, 77u);
}

TEST_F(ObjectStream, HostileHeadersFailWithoutReadingPastTheData) {
  const std::vector<std::vector<uint8_t>> inputs = {
      {},                                   // nothing
      {0x01},                               // header cut short
      {0x01, 0x00, 0x00, 0x00},             // record smaller than its header
      {0xFD, 0xFF, 0xFF, 0xFF, 0x03},       // a gigabyte record with no class
      {0x04},                               // back reference to nothing
      {0x05, 0x00, 0x00, 0x00, 0x00},       // object whose class is a back reference to nothing
      {0x00, 0x00, 0x00, 0x10, 0xFF, 0xFF, 0xFF, 0x7F},  // kind 0 at position 0
      {0x46, 0, 0, 0, 0x36, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},  // descriptor with a 4 GB string
  };
  for (const auto& bytes : inputs) {
    MemoryObjectReader in(bytes);
    EXPECT_EQ(in.ReadObjectAs<Probe>(), nullptr);
    EXPECT_LE(in.Tell(), bytes.size());
  }
}

}  // namespace
}  // namespace qx
