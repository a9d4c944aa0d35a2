#include "import/ply/ply_parser.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qx {
namespace {

template <typename T>
T ValueAt(const std::vector<std::byte>& bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

PlyProperty Scalar(const char* name, int internalType, std::size_t offset) {
  PlyProperty property;
  property.name = name;
  property.internalType = internalType;
  property.offset = offset;
  return property;
}

PlyProperty List(const char* name, int countType, std::size_t countOffset, int itemType, std::size_t slot) {
  PlyProperty property = Scalar(name, itemType, slot);
  property.isList = true;
  property.countInternalType = countType;
  property.countOffset = countOffset;
  return property;
}

// Appends `value` as `size` bytes in the given byte order.
void Put(std::string& out, std::uint64_t value, int size, bool bigEndian) {
  for (int i = 0; i < size; ++i) {
    const int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

TEST(PlyParser, HeaderDescribesElementsPropertiesAndTexts) {
  auto file = ReadPlyHeader(std::string(
      "ply\r\nformat binary_big_endian 1.5\r\ncomment made  by hand \r\nobj_info scanner 7\n"
      "element vertex 3\nproperty char a\nproperty int16 b\nproperty uint c\nproperty double d\n"
      "property float3 e\nelement face 2\nproperty list uchar int32 vertex_indices\n"
      "unknown line is ignored\nend_header\n\x01\x02"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->format, kPlyBinaryBigEndian);
  EXPECT_FLOAT_EQ(file->version, 1.5f);
  EXPECT_EQ(file->comments, std::vector<std::string>{"made  by hand"});
  EXPECT_EQ(file->objInfo, std::vector<std::string>{"scanner 7"});
  ASSERT_EQ(file->elements.size(), 2u);
  const PlyElement& vertex = file->elements[0];
  EXPECT_EQ(vertex.name, "vertex");
  EXPECT_EQ(vertex.count, 3u);
  ASSERT_EQ(vertex.properties.size(), 5u);
  EXPECT_EQ(vertex.properties[0].externalType, kPlyInt8);
  EXPECT_EQ(vertex.properties[1].externalType, kPlyInt16);
  EXPECT_EQ(vertex.properties[2].externalType, kPlyUint32);
  EXPECT_EQ(vertex.properties[3].externalType, kPlyFloat64);
  EXPECT_EQ(vertex.properties[4].externalType, kPlyInvalid);
  const PlyProperty& indices = file->elements[1].properties.at(0);
  EXPECT_TRUE(indices.isList);
  EXPECT_EQ(indices.countExternalType, kPlyUint8);
  EXPECT_EQ(indices.externalType, kPlyInt32);
  EXPECT_EQ(indices.name, "vertex_indices");
  // The data starts right after the end_header line.
  EXPECT_EQ(file->bytes.substr(file->position), "\x01\x02");
}

TEST(PlyParser, LinesMayEndInALoneCarriageReturn) {
  // Header and ASCII body with old-style line ends read as with '\n'.
  for (const char* lineEnd : {"\n", "\r\n", "\r"}) {
    std::string text = "ply|format ascii 1.0|element vertex 2|property float x|property int i|end_header|1.5 7|-2 9|";
    for (size_t at = text.find('|'); at != std::string::npos; at = text.find('|', at)) text.replace(at, 1, lineEnd);
    auto file = ReadPlyHeader(text);
    ASSERT_NE(file, nullptr) << "line end of " << std::strlen(lineEnd) << " bytes";
    ASSERT_NE(DescribePlyElement(*file, 0), nullptr);
    ASSERT_TRUE(SelectPlyProperty(*file, Scalar("i", kPlyInt32, 0)));
    std::vector<std::byte> record(4);
    std::vector<PlyListItems> lists;
    ASSERT_TRUE(GetPlyElement(*file, record, lists));
    EXPECT_EQ(ValueAt<std::int32_t>(record, 0), 7);
    ASSERT_TRUE(GetPlyElement(*file, record, lists));
    EXPECT_EQ(ValueAt<std::int32_t>(record, 0), 9);
  }
  // With lone carriage returns a binary body that starts with a '\n' byte
  // keeps it; with "\r\n" the '\n' belongs to the line end.
  auto lone = ReadPlyHeader(std::string("ply\rformat binary_little_endian 1.0\rend_header\r\n\x01"));
  ASSERT_NE(lone, nullptr);
  EXPECT_EQ(lone->bytes.substr(lone->position), "\n\x01");
  auto pair = ReadPlyHeader(std::string("ply\r\nformat binary_little_endian 1.0\r\nend_header\r\n\x01"));
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->bytes.substr(pair->position), "\x01");
}

TEST(PlyParser, RefusesHeadersThatCannotBeRead) {
  const char* refused[] = {
      "",
      "plyx\nformat ascii 1.0\nend_header\n",
      "\nply\nformat ascii 1.0\nend_header\n",
      "ply\nformat ascii\nend_header\n",
      "ply\nformat ascii 1.0 extra\nend_header\n",
      "ply\nformat text 1.0\nend_header\n",
      "ply\nelement vertex 1\nproperty float x\nend_header\n",             // no format
      "ply\nformat ascii 1.0\nproperty float x\nend_header\n",             // property before element
      "ply\nformat ascii 1.0\nelement vertex\nend_header\n",               // no count
      "ply\nformat ascii 1.0\nelement face 1\nproperty list uchar int\nend_header\n",
      "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n0.5\n",  // no end_header
  };
  for (const char* header : refused) EXPECT_EQ(ReadPlyHeader(std::string(header)), nullptr) << header;
}

TEST(PlyParser, AsciiValuesAreConvertedToTheCallersTypes) {
  auto file = ReadPlyHeader(std::string(
      "ply\nformat ascii 1.0\nelement thing 2\nproperty float f\nproperty int i\nproperty double skipped\n"
      "property list uchar float l\nend_header\n"
      "2.7 300 9 3 1.5 -2 7\n"
      "-2.7 -1 9 0\n"));
  ASSERT_NE(file, nullptr);
  ASSERT_NE(DescribePlyElement(*file, 0), nullptr);
  ASSERT_TRUE(SelectPlyProperty(*file, Scalar("f", kPlyInt32, 0)));
  ASSERT_TRUE(SelectPlyProperty(*file, Scalar("i", kPlyUint8, 4)));
  ASSERT_TRUE(SelectPlyProperty(*file, List("l", kPlyInt16, 6, kPlyInt32, 0)));
  std::vector<std::byte> record(8);
  std::vector<PlyListItems> lists(1);

  ASSERT_TRUE(GetPlyElement(*file, record, lists));
  EXPECT_EQ(ValueAt<std::int32_t>(record, 0), 2);       // float truncated toward zero
  EXPECT_EQ(ValueAt<std::uint8_t>(record, 4), 44);      // 300 narrowed to a byte
  EXPECT_EQ(ValueAt<std::int16_t>(record, 6), 3);
  ASSERT_EQ(lists[0].size(), 3 * sizeof(std::int32_t));
  EXPECT_EQ(ValueAt<std::int32_t>(lists[0], 0), 1);     // 1.5 truncated
  EXPECT_EQ(ValueAt<std::int32_t>(lists[0], 4), -2);
  EXPECT_EQ(ValueAt<std::int32_t>(lists[0], 8), 7);

  ASSERT_TRUE(GetPlyElement(*file, record, lists));
  EXPECT_EQ(ValueAt<std::int32_t>(record, 0), -2);
  EXPECT_EQ(ValueAt<std::uint8_t>(record, 4), 255);
  EXPECT_EQ(ValueAt<std::int16_t>(record, 6), 0);
  EXPECT_TRUE(lists[0].empty());
}

TEST(PlyParser, SelectingByElementNameMakesItCurrent) {
  auto file = ReadPlyHeader(std::string(
      "ply\nformat ascii 1.0\nelement a 1\nproperty int v\nelement b 1\nproperty int w\nend_header\n"));
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(SelectPlyProperty(*file, "b", Scalar("w", kPlyInt32, 0)));
  EXPECT_EQ(file->currentElement, 1);
  EXPECT_TRUE(file->elements[1].wanted[0]);
  EXPECT_FALSE(file->elements[0].wanted[0]);
  EXPECT_FALSE(SelectPlyProperty(*file, "c", Scalar("w", kPlyInt32, 0)));
}

// One instance of every type, read back as doubles, in either byte order.
void CheckEveryBinaryType(bool bigEndian) {
  std::string text = std::string("ply\nformat ") + (bigEndian ? "binary_big_endian" : "binary_little_endian") +
                     " 1.0\nelement v 1\nproperty char a\nproperty short b\nproperty int c\nproperty uchar d\n"
                     "property ushort e\nproperty uint f\nproperty float g\nproperty double h\n"
                     "property list ushort short l\nend_header\n";
  Put(text, 0xFE, 1, bigEndian);                 // -2
  Put(text, 0xFF9C, 2, bigEndian);               // -100
  Put(text, 0xFFFE7960, 4, bigEndian);           // -100000
  Put(text, 200, 1, bigEndian);
  Put(text, 60000, 2, bigEndian);
  Put(text, 4000000000u, 4, bigEndian);
  float g = 1.25f;
  double h = -3.5e100;
  std::uint32_t gBits;
  std::uint64_t hBits;
  std::memcpy(&gBits, &g, 4);
  std::memcpy(&hBits, &h, 8);
  Put(text, gBits, 4, bigEndian);
  Put(text, hBits, 8, bigEndian);
  Put(text, 2, 2, bigEndian);
  Put(text, 0x0102, 2, bigEndian);
  Put(text, 0xFFFF, 2, bigEndian);
  auto file = ReadPlyHeader(text);
  ASSERT_NE(file, nullptr);
  ASSERT_NE(DescribePlyElement(*file, 0), nullptr);
  const char* names[] = {"a", "b", "c", "d", "e", "f", "g", "h"};
  for (std::size_t i = 0; i < 8; ++i) SelectPlyProperty(*file, Scalar(names[i], kPlyFloat64, 8 * i));
  SelectPlyProperty(*file, List("l", kPlyUint32, 64, kPlyInt32, 0));
  std::vector<std::byte> record(68);
  std::vector<PlyListItems> lists(1);
  ASSERT_TRUE(GetPlyElement(*file, record, lists));
  const double expected[] = {-2, -100, -100000, 200, 60000, 4000000000.0, 1.25, -3.5e100};
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(ValueAt<double>(record, 8 * i), expected[i]) << names[i];
  EXPECT_EQ(ValueAt<std::uint32_t>(record, 64), 2u);
  ASSERT_EQ(lists[0].size(), 8u);
  EXPECT_EQ(ValueAt<std::int32_t>(lists[0], 0), 0x0102);
  EXPECT_EQ(ValueAt<std::int32_t>(lists[0], 4), -1);
  EXPECT_EQ(file->position, file->bytes.size());
}

TEST(PlyParser, BinaryValuesFollowTheDeclaredByteOrder) {
  CheckEveryBinaryType(false);
  CheckEveryBinaryType(true);
}

TEST(PlyParser, FloatsBeyondTheIntegerRangeSaturateInsteadOfOverflowing) {
  auto file = ReadPlyHeader(std::string(
      "ply\nformat ascii 1.0\nelement v 3\nproperty double d\nend_header\n1e300\n-1e300\nnan\n"));
  ASSERT_NE(file, nullptr);
  DescribePlyElement(*file, 0);
  SelectPlyProperty(*file, Scalar("d", kPlyInt32, 0));
  std::vector<std::byte> record(4);
  const std::int32_t expected[] = {-1, 0, 0};  // low 32 bits of INT64_MAX, INT64_MIN, 0
  for (std::int32_t value : expected) {
    ASSERT_TRUE(GetPlyElement(*file, record, {}));
    EXPECT_EQ(ValueAt<std::int32_t>(record, 0), value);
  }
}

TEST(PlyParser, ShortOrMalformedDataFailsWithTheEndOfFileMessage) {
  const char* broken[] = {
      // A list count of 255 with five bytes left.
      "ply\nformat binary_little_endian 1.0\nelement face 1\nproperty list uchar int v\nend_header\n\xFF\x01\x02"
      "\x03\x04",
      // A scalar cut in half.
      "ply\nformat binary_big_endian 1.0\nelement vertex 1\nproperty double x\nend_header\n\x01\x02\x03\x04",
      // An ascii line with fewer words than properties.
      "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\nend_header\n1\n",
      // An ascii list longer than its line.
      "ply\nformat ascii 1.0\nelement face 1\nproperty list uchar int v\nend_header\n255 1 2\n",
      // A negative list count.
      "ply\nformat ascii 1.0\nelement face 1\nproperty list int int v\nend_header\n-1\n",
      // No line left.
      "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nend_header\n",
  };
  for (const char* text : broken) {
    auto file = ReadPlyHeader(std::string(text, std::strlen(text)));
    ASSERT_NE(file, nullptr) << text;
    DescribePlyElement(*file, 0);
    SelectPlyProperty(*file, List("v", kPlyUint8, 0, kPlyInt32, 0));
    std::vector<std::byte> record(1);
    std::vector<PlyListItems> lists(1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(GetPlyElement(*file, record, lists)) << text;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ply_get_element: unexpected end of file\n") << text;
    EXPECT_LE(file->position, file->bytes.size());
  }
}

TEST(PlyParser, WarningsAndBadTypeMessages) {
  auto file = ReadPlyHeader(std::string(
      "ply\nformat ascii 1.0\nelement v 1\nproperty float x\nproperty float3 y\nend_header\n1 2\n"));
  ASSERT_NE(file, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DescribePlyElement(*file, 1), nullptr);
  EXPECT_EQ(DescribePlyElement(*file, -1), nullptr);
  ASSERT_NE(DescribePlyElement(*file, 0), nullptr);
  EXPECT_FALSE(SelectPlyProperty(*file, Scalar("z", kPlyFloat32, 0)));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning:  No element with index 1\nWarning:  No element with index -1\n"
            "Warning:  Can't find property 'z' in element 'v'\n");

  std::vector<std::byte> record(4);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(GetPlyElement(*file, record, {}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "get_ascii_item: bad type = 0\n");

  file->format = kPlyBinaryLittleEndian;
  file->position = file->bytes.size() - 4;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(GetPlyElement(*file, record, {}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "get_binary_item: bad type = 0\n");

  // An empty list of a bad item type holds nothing to convert (found by fuzzing:
  // the item count check divided by the bad type's size).
  const char emptyListText[] =
      "ply\nformat binary_little_endian 1.0\nelement f 1\nproperty list uchar float3 v\nend_header\n\0";
  auto emptyList = ReadPlyHeader(std::string(emptyListText, sizeof emptyListText - 1));
  ASSERT_NE(emptyList, nullptr);
  DescribePlyElement(*emptyList, 0);
  EXPECT_TRUE(GetPlyElement(*emptyList, {}, {}));

  auto valid = ReadPlyHeader(std::string("ply\nformat ascii 1.0\nelement v 1\nproperty float x\nend_header\n1\n"));
  DescribePlyElement(*valid, 0);
  SelectPlyProperty(*valid, Scalar("x", kPlyInvalid, 0));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(GetPlyElement(*valid, record, {}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "store_item: bad type = 0\n");
}

TEST(PlyParser, HugeCountsAreBoundedByTheBytesLeft) {
  auto binary = ReadPlyHeader(std::string(
      "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\nproperty float x\nproperty float y\n"
      "property list uchar int i\nend_header\n0123456789"));
  ASSERT_NE(binary, nullptr);
  EXPECT_EQ(binary->elements[0].count, 4000000000u);
  EXPECT_EQ(PlyMaxInstancesLeft(*binary, 0), 1u);  // 10 bytes, 9 per instance at least
  auto ascii = ReadPlyHeader(std::string("ply\nformat ascii 1.0\nelement vertex 4000000000\nproperty float x\n"
                                         "end_header\n1\n2\n3"));
  ASSERT_NE(ascii, nullptr);
  EXPECT_EQ(PlyMaxInstancesLeft(*ascii, 0), 3u);
  EXPECT_EQ(PlyMaxInstancesLeft(*ascii, 1), 0u);
}

}  // namespace
}  // namespace qx
