// A general parser for PLY polygon files: the header (format, elements with
// their properties, comments, object information) and the element data in
// ascii, binary big-endian or binary little-endian form.
//
// Use:
//   auto file = ReadPlyHeader(bytes);              // none: not a PLY header
//   for each element index e:
//     DescribePlyElement(*file, e)                 // name, count; becomes current
//     SelectPlyProperty(*file, request) ...         // what the caller wants
//     repeat count times: GetPlyElement(*file, record, lists)
//
// The caller describes where each wanted value goes: a scalar property is
// converted to the caller's type and stored at `offset` in a byte record; a
// list stores its count at `countOffset` and its items, converted and packed,
// in the list slot numbered `offset`. Unwanted properties are read and dropped,
// so elements are consumed in file order.
//
// Every value is checked against the bytes that are left: a truncated or
// malformed instance is a failed read with a message on standard error, never
// a read past the data; counts from the file never size an allocation beyond
// what the rest of the file can hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

// Property type codes; the size of each is PlyTypeSize.
enum PlyType : int {
  kPlyInvalid = 0,
  kPlyInt8 = 1,
  kPlyInt16 = 2,
  kPlyInt32 = 3,
  kPlyUint8 = 4,
  kPlyUint16 = 5,
  kPlyUint32 = 6,
  kPlyFloat32 = 7,
  kPlyFloat64 = 8,
};

enum PlyFormat : int {
  kPlyAscii = 1,
  kPlyBinaryBigEndian = 2,
  kPlyBinaryLittleEndian = 3,
};

// The type with this name in either naming column ("int8" or "char", ...);
// kPlyInvalid for any other word.
PlyType PlyTypeFromName(std::string_view name);
// Bytes of one value of `type`; 0 for kPlyInvalid and unknown codes.
int PlyTypeSize(int type);

// A property as the header describes it (name, external types, list flag) and,
// once selected, as the caller wants it (internal types and offsets).
struct PlyProperty {
  std::string name;
  int externalType = kPlyInvalid;
  int internalType = kPlyInvalid;
  // Scalar: byte offset in the caller's record. List: index of the list slot.
  std::size_t offset = 0;
  bool isList = false;
  int countExternalType = kPlyInvalid;
  int countInternalType = kPlyInvalid;
  std::size_t countOffset = 0;
};

struct PlyElement {
  std::string name;
  std::uint64_t count = 0;
  std::vector<PlyProperty> properties;
  // One flag per property: whether the caller selected it.
  std::vector<bool> wanted;
};

// The items of one list property of the last instance read, each converted to
// the property's internal type and packed.
using PlyListItems = std::vector<std::byte>;

struct PlyFile {
  int format = 0;
  float version = 0;
  std::vector<PlyElement> elements;
  std::vector<std::string> comments;
  std::vector<std::string> objInfo;
  // Index of the element being read, -1 before the first description.
  int currentElement = -1;

  // The whole file and the read position in it (just past the header at first).
  std::string bytes;
  std::size_t position = 0;
  // What ends a text line: '\n' (a "\r\n" pair leaves a blank '\r' behind),
  // or '\r' for files whose "ply" line ends in a lone carriage return.
  char lineEnd = '\n';
};

// Parses the header at the start of `bytes` and keeps the bytes for the
// element data. Returns none when the first word is not "ply", the format line
// is missing or not "format <ascii|binary_big_endian|binary_little_endian>
// <version>", an element or property line is malformed, or "end_header" never
// comes. Type names outside both naming columns give kPlyInvalid properties;
// reading such a property later fails with a "bad type" message.
std::unique_ptr<PlyFile> ReadPlyHeader(std::string bytes);
// The same for a stream open for reading in binary mode; reads it to its end.
// The caller keeps and closes the stream.
std::unique_ptr<PlyFile> ReadPlyHeader(std::FILE* stream);

// Makes element `index` the current one and returns it (name, instance count,
// properties). Writes "Warning:  No element with index %d\n" to standard error
// and returns null for an index outside the header's elements.
const PlyElement* DescribePlyElement(PlyFile& file, int index);

// Marks the property of the current element named `request.name` as wanted,
// taking internal types and offsets from `request`. When the element has no
// such property, writes "Warning:  Can't find property '%s' in element '%s'\n"
// to standard error and returns false; the caller's destination is then never
// written. Precondition: an element is current.
bool SelectPlyProperty(PlyFile& file, const PlyProperty& request);
// The same for the element named `elementName`, which also becomes current.
// Returns false when there is no such element or property.
bool SelectPlyProperty(PlyFile& file, std::string_view elementName, const PlyProperty& request);

// Reads the next instance of the current element (in ascii files: the next
// line; words beyond the properties are ignored). Wanted scalars and list
// counts are converted and stored into `record` at their offsets; wanted lists
// replace `lists[offset]`. Conversion goes through a signed integer, an
// unsigned integer or a double; floats stored into integer types are truncated
// toward zero (saturating at the 64-bit range, NaN as 0) and then narrowed.
// Returns false, after a message on standard error, when the data ends early
// or is malformed ("ply_get_element: unexpected end of file\n") or a type code
// is invalid ("get_binary_item: bad type = %d\n", "get_ascii_item: bad type =
// %d\n", "store_item: bad type = %d\n"). Preconditions: an element is current;
// every wanted offset fits in `record` and every list slot in `lists`.
bool GetPlyElement(PlyFile& file, std::span<std::byte> record, std::span<PlyListItems> lists);

// An upper bound on the instances of element `index` that the unread rest of
// the file can still hold: each binary instance needs at least the bytes of
// its scalars and list counts (at least one), each ascii instance a value and
// a line end. Use it to bound a reservation made from the header's count.
// Note that a binary instance of an element without properties takes no
// bytes at all: callers skip such elements rather than loop over their count.
std::uint64_t PlyMaxInstancesLeft(const PlyFile& file, int index);

}  // namespace qx
