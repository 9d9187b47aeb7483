#include "PortSettingsBlock.h"

#include "MessageReader.h"
#include "MessageWriter.h"

namespace quil {

std::vector<uint8_t> BuildPortSettingsBlock(const PortSettings& settings) {
  using Layout = PortSettingsLayout;
  const std::size_t stringsSize = CQuilMessageWriter::StringSize(settings.portName) +
                                  CQuilMessageWriter::StringSize(settings.clientPrinterName) +
                                  CQuilMessageWriter::StringSize(settings.userName);
  // The writer puts a code at offset 0; the port name's offset replaces it below.
  CQuilMessageWriter writer(0, Layout::kStringArea, stringsSize);
  writer.PutU32(Layout::kSessionId, settings.sessionId);
  writer.PutU32(Layout::kPortNameOffset, writer.LayInString(settings.portName));
  writer.PutU32(Layout::kClientPrinterNameOffset, writer.LayInString(settings.clientPrinterName));
  writer.PutU32(Layout::kUserNameOffset, writer.LayInString(settings.userName));
  return writer.Take();
}

std::optional<PortSettings> ParsePortSettingsBlock(std::span<const uint8_t> block) {
  using Layout = PortSettingsLayout;
  const CQuilMessageReader reader(block);
  const auto stringAt = [&reader](std::size_t offsetField) -> std::optional<std::u16string> {
    const auto offset = reader.U32(offsetField);
    if (!offset) return std::nullopt;
    return reader.String(uint64_t{Layout::kStringArea} + *offset);
  };
  auto portName = stringAt(Layout::kPortNameOffset);
  auto clientPrinterName = stringAt(Layout::kClientPrinterNameOffset);
  auto userName = stringAt(Layout::kUserNameOffset);
  const auto sessionId = reader.U32(Layout::kSessionId);
  if (!portName || !clientPrinterName || !userName || !sessionId) return std::nullopt;
  return PortSettings{std::move(*portName), std::move(*clientPrinterName), std::move(*userName), *sessionId};
}

}  // namespace quil
