#include "EmfSpoolReader.h"

#include <algorithm>
#include <array>
#include <new>
#include <span>

#include "JobDevMode.h"
#include "JobSettings.h"
#include "MessageReader.h"

namespace quil {

bool CQuilSpoolReader::ReadExactly(uint8_t* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const std::size_t read = source_.Read(buffer + done, size - done);
    if (read == 0 || read > size - done) return false;
    done += read;
  }
  return true;
}

bool CQuilSpoolReader::Skip(uint64_t size) {
  std::vector<uint8_t> piece(static_cast<std::size_t>(std::min<uint64_t>(size, kSkipPiece)));
  while (size > 0) {
    const auto length = static_cast<std::size_t>(std::min<uint64_t>(size, piece.size()));
    if (!ReadExactly(piece.data(), length)) return false;
    size -= length;
  }
  return true;
}

bool CQuilSpoolReader::ReadHeader() {
  using Layout = EmfSpoolLayout;
  std::array<uint8_t, Layout::kFixedHeaderSize> header{};
  if (!ReadExactly(header.data(), header.size())) return false;
  const CQuilMessageReader reader(header);
  const auto version = reader.U32(Layout::kVersionField);
  const auto headerSize = reader.U32(Layout::kHeaderSizeField);
  if (version != Layout::kVersion || !headerSize || *headerSize < Layout::kFixedHeaderSize) return false;
  return Skip(*headerSize - Layout::kFixedHeaderSize);
}

bool CQuilSpoolReader::NextPage(std::vector<uint8_t>& page, std::size_t offset, SpoolPageSettings* settings) {
  using Layout = EmfSpoolLayout;
  page.clear();
  if (settings) settings->changed = false;
  for (;;) {
    std::array<uint8_t, Layout::kRecordHeadSize> head{};
    if (!ReadExactly(head.data(), head.size())) return false;
    const CQuilMessageReader reader(head);
    const uint32_t type = *reader.U32(Layout::kRecordTypeField);
    const uint32_t size = *reader.U32(Layout::kRecordSizeField);
    if (size == 0) return false;
    if (type == Layout::kMetafileDataRecord) return ReadPage(size, page, offset);
    if (type == Layout::kDevModeRecord && settings && size <= Layout::kMaxDevModeRecordSize) {
      if (!ReadSettings(size, *settings)) return false;
    } else if (!Skip(size)) {
      return false;
    }
  }
}

bool CQuilSpoolReader::ReadSettings(uint32_t size, SpoolPageSettings& settings) {
  std::vector<uint8_t> record(size);
  if (!ReadExactly(record.data(), record.size())) return false;
  const auto publicSize = CQuilMessageReader(record).U16(DevModeLayout::kSize);
  if (!publicSize || *publicSize < DevModeLayout::kFields + 4 || *publicSize > record.size()) return true;
  settings.devMode = DevModeBlockOf(record);
  settings.changed = true;
  return true;
}

bool CQuilSpoolReader::ReadPage(uint32_t size, std::vector<uint8_t>& page, std::size_t offset) {
  try {
    page.resize(offset);
    // Storage grows at least twofold (within the reserve), so that pages of rising size do not
    // each cost a buffer of their own.
    const std::size_t wanted = offset + std::min<std::size_t>(size, kPageReserve);
    if (wanted > page.capacity()) page.reserve(std::max(wanted, std::min(2 * page.capacity(), offset + kPageReserve)));
    const std::size_t end = offset + size;
    while (page.size() < end) {
      const std::size_t have = page.size();
      const std::size_t piece = std::min<std::size_t>(end - have, kPageReserve);
      page.resize(have + piece);
      if (!ReadExactly(page.data() + have, piece)) {
        std::vector<uint8_t>().swap(page);
        return false;
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    std::vector<uint8_t>().swap(page);
    return false;
  }
}

}  // namespace quil
