// Reads a job's spool data in the EMF spool format, page by page, from a sequential byte source:
// a file header, then records of a type and a size. A record of type EMRI_METAFILE_DATA is one
// page, a complete enhanced metafile; every other record is read and dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SpoolMessages.h"

namespace quil {

// All fields are little-endian 32-bit values.
struct EmfSpoolLayout {
  static constexpr std::size_t kVersionField = 0;
  static constexpr std::size_t kHeaderSizeField = 4;
  static constexpr std::size_t kFixedHeaderSize = 16;  // version, header size, 8 more bytes
  static constexpr uint32_t kVersion = 0x10000;        // 1.0

  static constexpr std::size_t kRecordTypeField = 0;
  static constexpr std::size_t kRecordSizeField = 4;   // bytes that follow the record head
  static constexpr std::size_t kRecordHeadSize = 8;
  static constexpr uint32_t kMetafileDataRecord = 12;  // EMRI_METAFILE_DATA: one page
  static constexpr uint32_t kDevModeRecord = 3;        // EMRI_DEVMODE: settings of the pages after it
  // A DEVMODEW is at most a 16-bit public size plus 16-bit driver bytes; a larger record is no
  // DEVMODEW and is skipped like any record that is not read.
  static constexpr std::size_t kMaxDevModeRecordSize = 2 * 0xFFFF;
};
static_assert(EmfSpoolLayout::kHeaderSizeField + 4 <= EmfSpoolLayout::kFixedHeaderSize);
static_assert(EmfSpoolLayout::kRecordSizeField + 4 == EmfSpoolLayout::kRecordHeadSize);

// Where the spool data comes from, in file order; it is never sought.
class IQuilSpoolSource {
 public:
  virtual ~IQuilSpoolSource() = default;
  // Reads at most `size` bytes; the count read, 0 when the call failed or the data ended.
  virtual std::size_t Read(uint8_t* buffer, std::size_t size) = 0;
};

// The device settings that EMRI_DEVMODE records set for the pages after them.
struct SpoolPageSettings {
  bool changed = false;  // a usable record stood between the previous page and the one just read
  DevModeBlock devMode{};  // the public part of the last such record
};

class CQuilSpoolReader {
 public:
  // Bytes held for a page before its record's data has arrived: larger pages grow as they are
  // read, so that a record that claims more than the data holds costs no more than it delivers.
  static constexpr std::size_t kPageReserve = 16 * 1024 * 1024;
  // Non-page records are read and dropped in pieces of this size.
  static constexpr std::size_t kSkipPiece = 64 * 1024;

  explicit CQuilSpoolReader(IQuilSpoolSource& source) : source_(source) {}

  // Reads the file header and skips to its end. False when the data is not EMF spool data (other
  // version, a header that declares less than its fixed part) or ends inside the header.
  bool ReadHeader();
  // Reads records up to the next page and puts the page's metafile into `page` from `offset` on,
  // replacing what it held there; the first `offset` bytes are the caller's (their values
  // unspecified). The vector keeps its storage from page to page, so that a job's pages do not
  // each cost a fresh allocation. False when no further page can be read: the data ended or
  // broke off, a record had size 0, or the page did not fit into memory (the storage is then
  // given back). With `settings`, the EMRI_DEVMODE records before the page are read into it;
  // one that is too short to state dmFields or too large for a DEVMODEW is skipped.
  bool NextPage(std::vector<uint8_t>& page, std::size_t offset = 0, SpoolPageSettings* settings = nullptr);

 private:
  bool ReadExactly(uint8_t* buffer, std::size_t size);
  bool Skip(uint64_t size);
  bool ReadPage(uint32_t size, std::vector<uint8_t>& page, std::size_t offset);
  bool ReadSettings(uint32_t size, SpoolPageSettings& settings);

  IQuilSpoolSource& source_;
};

}  // namespace quil
