// Spool data as the spooler keeps a job: pages recorded as real enhanced metafiles with the
// platform's GDI, wrapped in the EMF spool format with records of other types between them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quil::test {

// One page recorded with GDI: a frame, a filled shape and a line of text that carries `number`,
// so that every page's bytes differ. `extraBytes` grows it with a bitmap of about that size.
std::vector<uint8_t> RecordedPage(int number, size_t extraBytes = 0);

// One page recorded with GDI that sets a line of text in each of the faces (regular weight), each
// font created and selected in turn, as an application does.
std::vector<uint8_t> RecordedTextPage(int number, const std::vector<std::wstring>& faces);

// Builds spool data record by record.
class SpoolFile {
 public:
  // The file header: version, header size (at least 16 for well-formed data), 8 bytes, padding.
  explicit SpoolFile(uint32_t version = 0x10000, uint32_t headerSize = 24);
  // The header as Windows writes it: version, header size, the offsets of the document name and
  // of the output device name, then both names (UTF-16, NUL-terminated), the size rounded up to
  // a multiple of 4.
  static SpoolFile WithNames(const std::wstring& document, const std::wstring& device);
  SpoolFile& Record(uint32_t type, const std::vector<uint8_t>& data);
  SpoolFile& Page(const std::vector<uint8_t>& metafile) { return Record(12, metafile); }
  // A record head that claims `size` bytes, without them.
  SpoolFile& Head(uint32_t type, uint32_t size);
  // A page-offset record: 8 bytes that give the distance from its own start back to the start of
  // the page record at `pageAt`.
  SpoolFile& PageOffset(uint32_t type, size_t pageAt);
  // Where the next record starts.
  size_t Size() const { return bytes_.size(); }
  std::vector<uint8_t> Bytes() const { return bytes_; }
  // The data cut off `count` bytes before its end.
  std::vector<uint8_t> BytesWithout(size_t count) const;

 private:
  void Put(uint32_t value);
  std::vector<uint8_t> bytes_;
};

// Record types of the EMF spool format that are not pages.
inline constexpr uint32_t kDevModeRecord = 3;
inline constexpr uint32_t kMetafileOffsetsRecord = 13;
inline constexpr uint32_t kBlackAndWhiteOffsetsRecord = 14;
inline constexpr uint32_t kFontRecord = 2;

// A DEVMODEW whose public part has `dmSize` bytes (of a pattern) and `driverExtra` private bytes.
std::vector<uint8_t> JobDevMode(uint16_t dmSize, uint16_t driverExtra);

}  // namespace quil::test
