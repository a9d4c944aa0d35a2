// Saving and loading whole scene files. A scene file holds one top-level
// record, the scene; `.qxz` is that stream packed with gzip, `.qx4` the plain
// stream. Loading always goes through the gzip reader, which passes plain
// files through, so either packing loads under either name.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qx {

class ObjectReader;
class QXScene;

// Writes `scene` to `path`, packed with gzip (level 9) when `pack` is set.
// The file is written beside the target under a unique temporary name and
// renamed over it when complete, so a failed save leaves any existing file
// untouched and nothing half-written behind. When only the packing fails the
// plain stream is saved. The scene's save settings choose the coders.
// Returns false when the file could not be written or could not replace the
// target (a folder of that name, no room, no permission); `failure`, when
// given, then says why (without the path).
bool SaveScene(QXScene& scene, const std::string& path, bool pack, std::string* failure = nullptr);

// Reads the scene file at `path` (packed or plain); none when the file cannot
// be opened or holds no scene. A truncated file loads at lower detail.
std::unique_ptr<QXScene> LoadScene(const std::string& path);

// The scene's stream in memory, and back (none when the bytes hold no scene).
std::vector<uint8_t> EncodeScene(QXScene& scene);
std::unique_ptr<QXScene> DecodeScene(std::span<const uint8_t> bytes);

// Reads the top-level record from `in` and keeps it when it is a scene.
std::unique_ptr<QXScene> ReadScene(ObjectReader& in);

}  // namespace qx
