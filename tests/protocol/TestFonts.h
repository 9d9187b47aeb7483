// Font files made for tests: a complete small TrueType font with a face name and embedding
// permission of the test's choice (one glyph, "A", a square), which GDI loads; and the sfnt and
// collection containers around any tables.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quil::test {

using FontBytes = std::vector<uint8_t>;
using SfntTables = std::vector<std::pair<uint32_t, FontBytes>>;  // tag, table; sorted by tag

constexpr uint32_t Tag(const char (&name)[5]) {
  return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8 |
         uint8_t(name[3]);
}

// The tables of the test font; its OS/2 table holds `fsType`.
SfntTables TestFontTables(const std::u16string& family, uint16_t fsType);
// A font file: offset table, directory and the tables, each padded to 4 bytes, with checksums.
FontBytes BuildSfnt(uint32_t version, const SfntTables& tables);
FontBytes BuildTestFont(const std::u16string& family, uint16_t fsType = 0);
// A collection of the fonts, each font's table offsets moved to where it lies in the collection.
FontBytes BuildCollection(const std::vector<FontBytes>& fonts);

}  // namespace quil::test
