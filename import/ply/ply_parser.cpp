#include "import/ply/ply_parser.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/diagnostics.h"

namespace qx {
namespace {

using Words = std::vector<std::string_view>;

// A value on its way from the file to the caller: an integer as read, or a
// floating-point value with its integer truncation beside it.
struct PlyValue {
  std::int64_t integer = 0;
  double real = 0;
};

struct TypeName {
  const char* name;
  const char* alias;
  PlyType type;
};

constexpr TypeName kTypeNames[] = {
    {"int8", "char", kPlyInt8},       {"int16", "short", kPlyInt16},     {"int32", "int", kPlyInt32},
    {"uint8", "uchar", kPlyUint8},    {"uint16", "ushort", kPlyUint16},  {"uint32", "uint", kPlyUint32},
    {"float32", "float", kPlyFloat32}, {"float64", "double", kPlyFloat64},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

Words SplitWords(std::string_view line) {
  Words words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The line at the read position (without its line end), moving past it; none
// at the end of the bytes.
std::optional<std::string_view> NextLine(PlyFile& file) {
  if (file.position >= file.bytes.size()) return std::nullopt;
  const std::string_view rest = std::string_view(file.bytes).substr(file.position);
  const std::size_t end = rest.find(file.lineEnd);
  if (end == std::string_view::npos) {
    file.position = file.bytes.size();
    return rest;
  }
  file.position += end + 1;
  return rest.substr(0, end);
}

// The text after the keyword (a word of `line`), without surrounding blanks.
std::string RestOfLine(std::string_view line, std::string_view keyword) {
  std::size_t start = static_cast<std::size_t>(keyword.data() - line.data()) + keyword.size();
  std::size_t end = line.size();
  while (start < end && IsBlank(line[start])) ++start;
  while (end > start && IsBlank(line[end - 1])) --end;
  return std::string(line.substr(start, end - start));
}

// Decimal integer conversion that reads what leading digits there are (0 for
// none) and saturates instead of overflowing.
std::int64_t WordToInteger(std::string_view word) {
  const std::string text(word);
  return std::strtoll(text.c_str(), nullptr, 10);
}

double WordToReal(std::string_view word) {
  const std::string text(word);
  return std::strtod(text.c_str(), nullptr);
}

// Truncation toward zero that stays defined for every double.
std::int64_t TruncateToInteger(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2e18) return INT64_MAX;
  if (value <= -9.2e18) return INT64_MIN;
  return static_cast<std::int64_t>(value);
}

PlyValue IntegerValue(std::int64_t integer) { return {integer, static_cast<double>(integer)}; }
PlyValue RealValue(double real) { return {TruncateToInteger(real), real}; }

bool ParseFormat(const Words& words, PlyFile& file) {
  if (words.size() != 3) return false;
  if (words[1] == "ascii") {
    file.format = kPlyAscii;
  } else if (words[1] == "binary_big_endian") {
    file.format = kPlyBinaryBigEndian;
  } else if (words[1] == "binary_little_endian") {
    file.format = kPlyBinaryLittleEndian;
  } else {
    return false;
  }
  file.version = static_cast<float>(WordToReal(words[2]));
  return true;
}

bool ParseElement(const Words& words, PlyFile& file) {
  if (words.size() < 3) return false;
  PlyElement element;
  element.name = std::string(words[1]);
  element.count = static_cast<std::uint64_t>(std::max<std::int64_t>(0, WordToInteger(words[2])));
  file.elements.push_back(std::move(element));
  return true;
}

bool ParseProperty(const Words& words, PlyFile& file) {
  if (file.elements.empty()) return false;
  PlyProperty property;
  if (words.size() >= 2 && words[1] == "list") {
    if (words.size() < 5) return false;
    property.isList = true;
    property.countExternalType = PlyTypeFromName(words[2]);
    property.externalType = PlyTypeFromName(words[3]);
    property.name = std::string(words[4]);
  } else {
    if (words.size() < 3) return false;
    property.externalType = PlyTypeFromName(words[1]);
    property.name = std::string(words[2]);
  }
  PlyElement& element = file.elements.back();
  element.properties.push_back(std::move(property));
  element.wanted.push_back(false);
  return true;
}

// One header line after the first; false when it makes the header unusable.
bool ParseHeaderLine(std::string_view line, const Words& words, PlyFile& file, bool& sawFormat) {
  const std::string_view keyword = words[0];
  if (keyword == "format") {
    sawFormat = true;
    return ParseFormat(words, file);
  }
  if (keyword == "element") return ParseElement(words, file);
  if (keyword == "property") return ParseProperty(words, file);
  if (keyword == "comment") file.comments.push_back(RestOfLine(line, keyword));
  if (keyword == "obj_info") file.objInfo.push_back(RestOfLine(line, keyword));
  return true;
}

// Reads one value of `type` (a valid type) from the binary data in the
// file's byte order; false at the end of the data.
bool ReadBinaryValue(PlyFile& file, int type, PlyValue& value) {
  const std::size_t size = static_cast<std::size_t>(PlyTypeSize(type));
  if (file.bytes.size() - file.position < size) return false;
  const auto* data = reinterpret_cast<const unsigned char*>(file.bytes.data() + file.position);
  std::uint64_t raw = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t shift = file.format == kPlyBinaryBigEndian ? 8 * (size - 1 - i) : 8 * i;
    raw |= std::uint64_t{data[i]} << shift;
  }
  file.position += size;
  switch (type) {
    case kPlyInt8: value = IntegerValue(static_cast<std::int8_t>(raw)); break;
    case kPlyInt16: value = IntegerValue(static_cast<std::int16_t>(raw)); break;
    case kPlyInt32: value = IntegerValue(static_cast<std::int32_t>(raw)); break;
    case kPlyFloat32: value = RealValue(std::bit_cast<float>(static_cast<std::uint32_t>(raw))); break;
    case kPlyFloat64: value = RealValue(std::bit_cast<double>(raw)); break;
    default: value = IntegerValue(static_cast<std::int64_t>(raw)); break;  // the unsigned types
  }
  return true;
}

// Converts one ascii word as a value of `type` (a valid type): integers by
// decimal conversion, floats as doubles.
PlyValue AsciiValue(std::string_view word, int type) {
  if (type == kPlyFloat32 || type == kPlyFloat64) return RealValue(WordToReal(word));
  return IntegerValue(WordToInteger(word));
}

template <typename T>
void StoreAs(T stored, std::byte* destination) {
  std::memcpy(destination, &stored, sizeof stored);
}

// Stores `value` as `type` (a valid type) at `destination`, which holds
// PlyTypeSize(type) bytes. Integer types take the low bits of the integer.
void StoreValue(const PlyValue& value, int type, std::byte* destination) {
  switch (type) {
    case kPlyInt8: StoreAs(static_cast<std::int8_t>(value.integer), destination); break;
    case kPlyInt16: StoreAs(static_cast<std::int16_t>(value.integer), destination); break;
    case kPlyInt32: StoreAs(static_cast<std::int32_t>(value.integer), destination); break;
    case kPlyUint8: StoreAs(static_cast<std::uint8_t>(value.integer), destination); break;
    case kPlyUint16: StoreAs(static_cast<std::uint16_t>(value.integer), destination); break;
    case kPlyUint32: StoreAs(static_cast<std::uint32_t>(value.integer), destination); break;
    case kPlyFloat32: StoreAs(static_cast<float>(value.real), destination); break;
    default: StoreAs(value.real, destination); break;
  }
}

// Reads the values of one instance, from the words of its ascii line or from
// the binary data, and stores what the caller wants. Remembers whether a
// failure already reported itself (a bad type) so that the end-of-file
// message is not added to it.
class InstanceReader {
 public:
  InstanceReader(PlyFile& file, const Words* words) : file_(file), words_(words) {}

  bool reportedFailure() const { return reported_; }

  bool Read(int type, PlyValue& value) {
    if (!CheckType(type)) return false;
    if (words_ == nullptr) return ReadBinaryValue(file_, type, value);
    if (nextWord_ >= words_->size()) return false;
    value = AsciiValue((*words_)[nextWord_++], type);
    return true;
  }

  // False, with the reader's bad-type message, for a type code outside 1..8.
  bool CheckType(int type) {
    if (PlyTypeSize(type) != 0) return true;
    PrintError(words_ == nullptr ? "get_binary_item: bad type = %d\n" : "get_ascii_item: bad type = %d\n", type);
    reported_ = true;
    return false;
  }

  // Stores into `bytes` at `offset`; false for a bad internal type or a
  // destination outside `bytes` (a caller's mistake).
  bool Store(const PlyValue& value, int type, std::span<std::byte> bytes, std::size_t offset) {
    const std::size_t size = static_cast<std::size_t>(PlyTypeSize(type));
    if (size == 0) {
      PrintError("store_item: bad type = %d\n", type);
      reported_ = true;
      return false;
    }
    const bool fits = offset <= bytes.size() && size <= bytes.size() - offset;
    assert(fits);
    if (!fits) return false;
    StoreValue(value, type, bytes.data() + offset);
    return true;
  }

  // Items of `itemType` (a valid type) still available, checked against a
  // list count before allocating.
  std::uint64_t ItemsLeft(int itemType) const {
    if (words_ != nullptr) return words_->size() - nextWord_;
    return (file_.bytes.size() - file_.position) / static_cast<std::size_t>(PlyTypeSize(itemType));
  }

 private:
  PlyFile& file_;
  const Words* words_;  // null for binary data
  std::size_t nextWord_ = 0;
  bool reported_ = false;
};

bool ReadList(InstanceReader& reader, const PlyProperty& property, bool wanted, std::span<std::byte> record,
              std::span<PlyListItems> lists) {
  PlyValue countValue;
  if (!reader.Read(property.countExternalType, countValue)) return false;
  const std::int64_t count = countValue.integer;
  if (count < 0) return false;
  if (count > 0) {
    if (!reader.CheckType(property.externalType)) return false;
    if (static_cast<std::uint64_t>(count) > reader.ItemsLeft(property.externalType)) return false;
  }
  PlyListItems items;
  std::size_t itemSize = 0;
  if (wanted) {
    if (!reader.Store(countValue, property.countInternalType, record, property.countOffset)) return false;
    itemSize = static_cast<std::size_t>(PlyTypeSize(property.internalType));
    items.resize(static_cast<std::size_t>(count) * itemSize);
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    PlyValue item;
    if (!reader.Read(property.externalType, item)) return false;
    if (wanted && !reader.Store(item, property.internalType, items, i * itemSize)) return false;
  }
  if (wanted) {
    assert(property.offset < lists.size());
    if (property.offset >= lists.size()) return false;
    lists[property.offset] = std::move(items);
  }
  return true;
}

// Reads one instance property by property; false on any short or bad data.
bool ReadInstance(InstanceReader& reader, const PlyElement& element, std::span<std::byte> record,
                  std::span<PlyListItems> lists) {
  for (std::size_t i = 0; i < element.properties.size(); ++i) {
    const PlyProperty& property = element.properties[i];
    const bool wanted = element.wanted[i];
    if (property.isList) {
      if (!ReadList(reader, property, wanted, record, lists)) return false;
      continue;
    }
    PlyValue value;
    if (!reader.Read(property.externalType, value)) return false;
    if (wanted && !reader.Store(value, property.internalType, record, property.offset)) return false;
  }
  return true;
}

}  // namespace

PlyType PlyTypeFromName(std::string_view name) {
  for (const TypeName& entry : kTypeNames) {
    if (name == entry.name || name == entry.alias) return entry.type;
  }
  return kPlyInvalid;
}

int PlyTypeSize(int type) {
  switch (type) {
    case kPlyInt8:
    case kPlyUint8: return 1;
    case kPlyInt16:
    case kPlyUint16: return 2;
    case kPlyInt32:
    case kPlyUint32:
    case kPlyFloat32: return 4;
    case kPlyFloat64: return 8;
    default: return 0;
  }
}

namespace {

// The line end a file uses, told by its first line: a lone carriage return
// after "ply" (not the start of "\r\n") makes '\r' the line end throughout.
// Deciding once, from the magic line, keeps a binary body that starts with a
// '\n' byte intact.
char LineEndOf(std::string_view bytes) {
  const bool loneReturn = bytes.starts_with("ply\r") && (bytes.size() == 4 || bytes[4] != '\n');
  return loneReturn ? '\r' : '\n';
}

}  // namespace

std::unique_ptr<PlyFile> ReadPlyHeader(std::string bytes) {
  auto file = std::make_unique<PlyFile>();
  file->bytes = std::move(bytes);
  file->lineEnd = LineEndOf(file->bytes);
  const std::optional<std::string_view> first = NextLine(*file);
  if (!first) return nullptr;
  const Words firstWords = SplitWords(*first);
  if (firstWords.empty() || firstWords[0] != "ply") return nullptr;
  bool sawFormat = false;
  while (const std::optional<std::string_view> line = NextLine(*file)) {
    const Words words = SplitWords(*line);
    if (words.empty()) continue;
    if (words[0] == "end_header") return sawFormat ? std::move(file) : nullptr;
    if (!ParseHeaderLine(*line, words, *file, sawFormat)) return nullptr;
  }
  return nullptr;  // no "end_header": there is no data to find
}

std::unique_ptr<PlyFile> ReadPlyHeader(std::FILE* stream) {
  std::string bytes;
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) bytes.append(buffer, got);
  return ReadPlyHeader(std::move(bytes));
}

const PlyElement* DescribePlyElement(PlyFile& file, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= file.elements.size()) {
    PrintError("Warning:  No element with index %d\n", index);
    return nullptr;
  }
  file.currentElement = index;
  return &file.elements[static_cast<std::size_t>(index)];
}

bool SelectPlyProperty(PlyFile& file, const PlyProperty& request) {
  assert(file.currentElement >= 0);
  if (file.currentElement < 0) return false;
  PlyElement& element = file.elements[static_cast<std::size_t>(file.currentElement)];
  for (std::size_t i = 0; i < element.properties.size(); ++i) {
    PlyProperty& property = element.properties[i];
    if (property.name != request.name) continue;
    property.internalType = request.internalType;
    property.offset = request.offset;
    property.countInternalType = request.countInternalType;
    property.countOffset = request.countOffset;
    element.wanted[i] = true;
    return true;
  }
  PrintError("Warning:  Can't find property '%s' in element '%s'\n", request.name.c_str(), element.name.c_str());
  return false;
}

bool SelectPlyProperty(PlyFile& file, std::string_view elementName, const PlyProperty& request) {
  for (std::size_t i = 0; i < file.elements.size(); ++i) {
    if (file.elements[i].name != elementName) continue;
    file.currentElement = static_cast<int>(i);
    return SelectPlyProperty(file, request);
  }
  return false;
}

bool GetPlyElement(PlyFile& file, std::span<std::byte> record, std::span<PlyListItems> lists) {
  assert(file.currentElement >= 0);
  if (file.currentElement < 0) return false;
  const PlyElement& element = file.elements[static_cast<std::size_t>(file.currentElement)];
  bool read = false;
  bool reported = false;
  if (file.format == kPlyAscii) {
    // One instance per line; words beyond the properties are ignored.
    if (const std::optional<std::string_view> line = NextLine(file)) {
      const Words words = SplitWords(*line);
      InstanceReader reader(file, &words);
      read = ReadInstance(reader, element, record, lists);
      reported = reader.reportedFailure();
    }
  } else {
    InstanceReader reader(file, nullptr);
    read = ReadInstance(reader, element, record, lists);
    reported = reader.reportedFailure();
  }
  if (!read && !reported) PrintError("ply_get_element: unexpected end of file\n");
  return read;
}

std::uint64_t PlyMaxInstancesLeft(const PlyFile& file, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= file.elements.size()) return 0;
  const std::uint64_t left = file.bytes.size() - std::min(file.position, file.bytes.size());
  if (file.format == kPlyAscii) return (left + 1) / 2;
  std::uint64_t minimum = 0;
  for (const PlyProperty& property : file.elements[static_cast<std::size_t>(index)].properties) {
    minimum += static_cast<std::uint64_t>(PlyTypeSize(property.isList ? property.countExternalType
                                                                        : property.externalType));
  }
  return left / std::max<std::uint64_t>(1, minimum);
}

}  // namespace qx
