// Writes the fuzzers' seed corpora: valid messages from the builders, so that fuzzing starts from
// well-formed input. Usage: fuzz_seeds <corpus root>; one directory per fuzz target.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ChunkScript.h"
#include "JobSettings.h"
#include "ChannelChunk.h"
#include "EmfSpoolReader.h"
#include "FontMessages.h"
#include "MessageAssembler.h"
#include "PageCompression.h"
#include "SpoolExtension.h"
#include "PortSettingsBlock.h"
#include "PrinterListAnswer.h"
#include "PrinterListMessages.h"
#include "SpoolMessages.h"
#include "TestFonts.h"

namespace {

using Seeds = std::vector<std::vector<uint8_t>>;

bool WriteSeeds(const std::filesystem::path& directory, const Seeds& seeds) {
  std::filesystem::create_directories(directory);
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    std::ofstream file(directory / ("seed_" + std::to_string(i)), std::ios::binary);
    file.write(reinterpret_cast<const char*>(seeds[i].data()),
               static_cast<std::streamsize>(seeds[i].size()));
    if (!file) return false;
  }
  return true;
}

std::vector<uint8_t> Filled(std::size_t size) {
  std::vector<uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}

// A compressed page of `metafile`, which must shrink.
std::vector<uint8_t> CompressedSeed(const std::vector<uint8_t>& metafile) {
  std::vector<uint8_t> message;
  quil::BuildCompressedPage(metafile, quil::kPageCompressionLevel, message);
  return message;
}

// A compressed font data message of the font, which must shrink.
std::vector<uint8_t> CompressedFontSeed(const std::vector<uint8_t>& font) {
  std::vector<uint8_t> message;
  quil::BuildCompressedFontData(quil::BuildFontData({u"Corporate Sans", 400, false, 0}, font),
                                quil::kPageCompressionLevel, message);
  return message;
}

// A message of `size` bytes cut into chunks of at most 1600 bytes, flagged as the platform does.
std::vector<uint8_t> ChunkedScript(uint8_t startRule, std::size_t size) {
  std::vector<uint8_t> script{startRule};
  const auto message = Filled(size);
  for (std::size_t start = 0; start < size; start += 1600) {
    const std::size_t length = std::min<std::size_t>(1600, size - start);
    const auto flags = static_cast<uint8_t>((start == 0 ? quil::kChunkFlagFirst : 0) |
                                            (start + length == size ? quil::kChunkFlagLast : 0));
    quil::fuzz::AppendChunk(script, flags, static_cast<uint16_t>(size),
                            std::span(message).subspan(start, length));
  }
  return script;
}

// The reads with which the server receives a message: each a 2-byte length, then the chunk's
// 8-byte header and up to 1600 data bytes.
std::vector<uint8_t> ServerReads(const std::vector<uint8_t>& message) {
  std::vector<uint8_t> reads;
  const auto put32 = [&reads](uint32_t value) {
    for (int i = 0; i < 4; ++i) reads.push_back(static_cast<uint8_t>(value >> 8 * i));
  };
  for (std::size_t start = 0; start < message.size(); start += 1600) {
    const std::size_t length = std::min<std::size_t>(1600, message.size() - start);
    const std::size_t readSize = quil::ChannelChunkLayout::kHeaderSize + length;
    reads.push_back(static_cast<uint8_t>(readSize));
    reads.push_back(static_cast<uint8_t>(readSize >> 8));
    put32(static_cast<uint32_t>(message.size()));
    put32((start == 0 ? quil::kChunkFlagFirst : 0) | (start + length == message.size() ? quil::kChunkFlagLast : 0));
    reads.insert(reads.end(), message.begin() + start, message.begin() + start + length);
  }
  return reads;
}

// A request for the answer fuzzer, after the byte that sets the number of printers.
std::vector<uint8_t> Prefixed(uint8_t printers, std::vector<uint8_t> request) {
  request.insert(request.begin(), printers);
  return request;
}

// Spool data for the reader fuzzer: a byte that sets the read size, a header that is longer than
// its fixed part, and a page between records of other types.
std::vector<uint8_t> SpoolSeed(uint8_t pieceSize) {
  std::vector<uint8_t> data{pieceSize};
  const auto put32 = [&data](uint32_t value) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(value >> 8 * i));
  };
  for (uint32_t value : {quil::EmfSpoolLayout::kVersion, 20u, 0u, 0u, 0u}) put32(value);
  for (uint32_t type : {3u, quil::EmfSpoolLayout::kMetafileDataRecord, 13u}) {
    put32(type);
    put32(12);
    const auto bytes = Filled(12);
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  return data;
}

// A page's metafile for the font scan: a header record, two fonts (one of them twice), the end.
std::vector<uint8_t> FontPageSeed() {
  std::vector<uint8_t> page;
  const auto put32 = [&page](uint32_t value) {
    for (int i = 0; i < 4; ++i) page.push_back(static_cast<uint8_t>(value >> 8 * i));
  };
  put32(1);
  put32(16);
  put32(0);
  put32(0);
  for (const char16_t* face : {u"Corporate Sans", u"Barcode 39", u"Corporate Sans"}) {
    put32(quil::EmfFontRecordLayout::kExtCreateFontRecord);
    put32(quil::EmfFontRecordLayout::kLogFont + quil::EmfFontRecordLayout::kLogFontSize);
    put32(1);
    std::vector<uint8_t> logFont(quil::EmfFontRecordLayout::kLogFontSize);
    logFont[quil::EmfFontRecordLayout::kWeight] = 0x90;  // 400
    logFont[quil::EmfFontRecordLayout::kWeight + 1] = 0x01;
    for (std::size_t i = 0; face[i]; ++i) logFont[quil::EmfFontRecordLayout::kFaceName + 2 * i] = static_cast<uint8_t>(face[i]);
    page.insert(page.end(), logFont.begin(), logFont.end());
  }
  put32(quil::EmfFontRecordLayout::kEofRecord);
  put32(8);
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quil;
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds <corpus root>\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  DevModeBlock devMode{};
  devMode[0] = 'L';
  // A job's settings followed by a printer's: both state 220 public bytes, the job asks for
  // landscape with its orientation bit set.
  std::vector<uint8_t> settings(2 * devMode.size());
  for (const std::size_t base : {std::size_t{0}, devMode.size()}) {
    settings[base + DevModeLayout::kSize] = 220;
    settings[base + DevModeLayout::kOrientation] = base == 0 ? 2 : 1;
  }
  settings[DevModeLayout::kFields] = 0x01;
  const std::vector<std::pair<const char*, Seeds>> corpora = {
      {"message_code", {BuildJobEnd(), BuildPageAck()}},
      {"count_reply", {BuildPrinterCountReply(0), BuildPrinterCountReply(3)}},
      {"printer_request", {BuildPrinterRequest(0), BuildPrinterRequest(2)}},
      {"printer_record",
       {BuildPrinterRecord(u"Laser", true), BuildPrinterRecord(u"\\\\PRINTSRV\\Laser", false)}},
      {"job_start",
       {BuildJobStart(devMode, u"Laser", u"Report.docx"), BuildJobStart(devMode, u"P", u"")}},
      {"page", {BuildPage(Filled(64)), BuildPage({})}},
      {"page_settings", {BuildJobStartAck(kCapPageSettings), BuildPageSettings(devMode), BuildJobStartAck()}},
      {"compressed_page", {CompressedSeed(Filled(4000)), CompressedSeed(std::vector<uint8_t>(70000, 'E'))}},
      {"job_settings", {settings}},
      {"printer_list_answer",
       {Prefixed(3, BuildPrinterCountRequest()), Prefixed(3, BuildPrinterRequest(1)),
        Prefixed(2, BuildPrinterRequest(2))}},
      {"assembler", {ChunkedScript(0, 5000), ChunkedScript(1, 1600), ChunkedScript(1, 3300)}},
      {"port_settings",
       {BuildPortSettingsBlock({u"QPRN[3:0:1]", u"\\\\PRINTSRV\\Laser", u"alice", 3}),
        BuildPortSettingsBlock({u"", u"", u"", 0})}},
      {"spool_reader", {SpoolSeed(0), SpoolSeed(7), SpoolSeed(0x87)}},
      {"job_devmode", {settings, std::vector<uint8_t>(settings.begin(), settings.begin() + 100)}},
      {"font_messages",
       {BuildFontQuery(std::vector<FontReference>{{u"Corporate Sans", 700, true, 0}, {u"Barcode 39", 400, false, 2}}),
        BuildFontQueryAnswer({true, false, true}), BuildFontData({u"Barcode 39", 400, false, 2}, Filled(100)),
        BuildFontDataAck(), CompressedFontSeed(test::BuildTestFont(u"Corporate Sans", 0x0004))}},
      {"font_files",
       {test::BuildTestFont(u"Corporate Sans", 0x0004),
        test::BuildCollection({test::BuildTestFont(u"Corporate Sans", 0x0008), test::BuildTestFont(u"Barcode 39", 0x0002)}),
        FontPageSeed()}},
      {"server_read",
       {ServerReads(BuildPrinterCountReply(3)), ServerReads(BuildPrinterRecord(u"\\\\SRV\\P", true)),
        ServerReads(Filled(5000))}},
  };
  for (const auto& [target, seeds] : corpora) {
    if (!WriteSeeds(root / target, seeds)) {
      std::fprintf(stderr, "cannot write seeds for %s\n", target);
      return 1;
    }
  }
  return 0;
}
