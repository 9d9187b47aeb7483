#include "TestFonts.h"

#include <initializer_list>

namespace quil::test {
namespace {

// Big-endian fields of a table, written in order.
class TableWriter {
 public:
  TableWriter& U16(uint16_t value) {
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
    bytes_.push_back(static_cast<uint8_t>(value));
    return *this;
  }
  TableWriter& U16s(std::initializer_list<int> values) {
    for (int value : values) U16(static_cast<uint16_t>(value));
    return *this;
  }
  TableWriter& U32(uint32_t value) { return U16(static_cast<uint16_t>(value >> 16)).U16(static_cast<uint16_t>(value)); }
  TableWriter& Bytes(std::initializer_list<uint8_t> values) {
    bytes_.insert(bytes_.end(), values);
    return *this;
  }
  TableWriter& Zeros(std::size_t count) {
    bytes_.insert(bytes_.end(), count, 0);
    return *this;
  }
  TableWriter& Text(const std::u16string& text) {
    for (char16_t unit : text) U16(unit);
    return *this;
  }
  FontBytes Take() { return std::move(bytes_); }

 private:
  FontBytes bytes_;
};

constexpr uint16_t kUnitsPerEm = 1000;
constexpr int kGlyphs = 2;  // .notdef (empty) and "A"

FontBytes Head() {
  return TableWriter()
      .U32(0x00010000).U32(0x00010000).U32(0).U32(0x5F0F3CF5)  // version, revision, adjustment, magic
      .U16(0x000B).U16(kUnitsPerEm)                           // flags, units per em
      .Zeros(16)                                              // created, modified
      .U16s({100, 0, 500, 700})                               // bounding box
      .U16s({0, 8, 2, 0, 0})  // style, smallest size, direction, short offsets, glyph format
      .Take();
}

FontBytes Hhea() {
  return TableWriter()
      .U32(0x00010000)
      .U16s({800, -200, 0, 600})  // ascender, descender, line gap, largest advance
      .U16s({0, 0, 500})          // smallest side bearings, largest extent
      .U16s({1, 0, 0})            // caret slope and offset
      .Zeros(8)
      .U16s({0, kGlyphs})  // metric format, advance widths
      .Take();
}

FontBytes Maxp() {
  return TableWriter().U32(0x00010000).U16s({kGlyphs, 4, 1, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0}).Take();
}

FontBytes Os2(uint16_t fsType) {
  return TableWriter()
      .U16s({1, 500, 400, 5})  // version, average width, regular weight, normal width
      .U16(fsType)
      .U16s({650, 600, 0, 75, 650, 600, 0, 350, 50, 300})  // sub- and superscripts, strikeout
      .U16(0)                                              // family class
      .Zeros(10)                                           // PANOSE
      .U32(1).U32(0).U32(0).U32(0)                         // Unicode ranges: Basic Latin
      .U32(0x51554C4E)                                     // vendor "QULN"
      .U16(0x0040).U16('A').U16('A')                       // regular; the characters mapped
      .U16s({800, -200, 0, 800, 200})                      // typographic and Windows metrics
      .U32(1).U32(0)                                       // code pages: Latin 1
      .Take();
}

FontBytes Hmtx() { return TableWriter().U16s({600, 0, 600, 100}).Take(); }

FontBytes Cmap() {
  return TableWriter()
      .U16s({0, 1, 3, 1}).U32(12)           // one subtable, Windows Unicode
      .U16s({4, 32, 0, 4, 4, 1, 0})         // format 4, length, language, 2 segments
      .U16s({'A', 0xFFFF, 0, 'A', 0xFFFF})  // end codes, pad, start codes
      .U16s({1 - 'A', 1, 0, 0})             // deltas, range offsets
      .Take();
}

// Glyph 1, "A": one square contour; .notdef is empty.
FontBytes Glyf() {
  return TableWriter()
      .U16s({1, 100, 0, 500, 700, 3, 0})  // one contour, its box, its last point, no instructions
      .Bytes({1, 1, 1, 1})                // each point on the curve, 16-bit coordinates
      .U16s({100, 400, 0, -400})          // x, as deltas
      .U16s({0, 0, 700, 0})               // y, as deltas
      .Zeros(2)                           // to 36 bytes: short glyph offsets count in 2 bytes
      .Take();
}

FontBytes Loca() { return TableWriter().U16s({0, 0, 18}).Take(); }

FontBytes Name(const std::u16string& family) {
  std::u16string postscript;
  for (char16_t unit : family) {
    if (unit != u' ') postscript.push_back(unit);
  }
  const std::u16string names[] = {family, u"Regular", family, family, postscript};
  const uint16_t ids[] = {1, 2, 3, 4, 6};
  TableWriter table;
  table.U16s({0, 5, 6 + 5 * 12});
  uint16_t offset = 0;
  for (int i = 0; i < 5; ++i) {
    const auto length = static_cast<uint16_t>(2 * names[i].size());
    table.U16s({3, 1, 0x409, ids[i], length, offset});
    offset = static_cast<uint16_t>(offset + length);
  }
  for (const auto& name : names) table.Text(name);
  return table.Take();
}

FontBytes Post() { return TableWriter().U32(0x00030000).U32(0).U16s({-100, 50}).Zeros(20).Take(); }

uint32_t Checksum(const FontBytes& bytes, std::size_t begin, std::size_t end) {
  uint32_t sum = 0;
  for (std::size_t i = begin; i < end; ++i) sum += uint32_t{bytes[i]} << (24 - 8 * ((i - begin) % 4));
  return sum;
}

void PutU32(FontBytes& bytes, std::size_t position, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[position + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint32_t GetU32(const FontBytes& bytes, std::size_t position) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | bytes[position + i];
  return value;
}

}  // namespace

SfntTables TestFontTables(const std::u16string& family, uint16_t fsType) {
  return {{Tag("OS/2"), Os2(fsType)}, {Tag("cmap"), Cmap()},         {Tag("glyf"), Glyf()},
          {Tag("head"), Head()},      {Tag("hhea"), Hhea()},         {Tag("hmtx"), Hmtx()},
          {Tag("loca"), Loca()},      {Tag("maxp"), Maxp()},         {Tag("name"), Name(family)},
          {Tag("post"), Post()}};
}

FontBytes BuildSfnt(uint32_t version, const SfntTables& tables) {
  uint16_t power = 1, selector = 0;
  while (std::size_t{power} * 2 <= tables.size()) power *= 2, ++selector;
  const auto count = static_cast<uint16_t>(tables.size());
  FontBytes font = TableWriter().U32(version).U16s({count, 16 * power, selector, 16 * (count - power)}).Take();
  font.resize(12 + 16 * tables.size());
  std::size_t headAt = 0;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const auto& [tag, table] = tables[i];
    const std::size_t at = font.size();
    if (tag == Tag("head")) headAt = at;
    font.insert(font.end(), table.begin(), table.end());
    font.resize((font.size() + 3) / 4 * 4, 0);
    const std::size_t record = 12 + 16 * i;
    PutU32(font, record, tag);
    PutU32(font, record + 4, Checksum(font, at, font.size()));
    PutU32(font, record + 8, static_cast<uint32_t>(at));
    PutU32(font, record + 12, static_cast<uint32_t>(table.size()));
  }
  if (headAt) PutU32(font, headAt + 8, 0xB1B0AFBA - Checksum(font, 0, font.size()));
  return font;
}

FontBytes BuildTestFont(const std::u16string& family, uint16_t fsType) {
  return BuildSfnt(0x00010000, TestFontTables(family, fsType));
}

FontBytes BuildCollection(const std::vector<FontBytes>& fonts) {
  FontBytes collection = TableWriter().U32(Tag("ttcf")).U32(0x00010000).U32(static_cast<uint32_t>(fonts.size())).Take();
  collection.resize(12 + 4 * fonts.size());
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    const auto base = static_cast<uint32_t>(collection.size());
    PutU32(collection, 12 + 4 * i, base);
    collection.insert(collection.end(), fonts[i].begin(), fonts[i].end());
    const uint32_t tables = GetU32(collection, base + 4) >> 16;
    for (uint32_t t = 0; t < tables; ++t) {
      const std::size_t offsetField = base + 12 + 16 * t + 8;
      PutU32(collection, offsetField, GetU32(collection, offsetField) + base);
    }
  }
  return collection;
}

}  // namespace quil::test
