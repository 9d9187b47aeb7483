#include "QuilPrintersManager.h"

#include <windows.h>

#include <winspool.h>

#include <memory>
#include <new>

#include "WideText.h"
#include "WorkerThread.h"

namespace {

constexpr DWORD kEnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
// Level 4 holds names and attributes, which the spooler keeps locally: a connection's print server
// is not contacted, so a computer away from its print servers does not wait for them.
constexpr DWORD kEnumLevel = 4;

std::vector<std::u16string> EnumeratePrinterNames() {
  DWORD needed = 0;
  DWORD count = 0;
  if (EnumPrintersW(kEnumFlags, nullptr, kEnumLevel, nullptr, 0, &needed, &count) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return {};
  }
  std::vector<BYTE> buffer(needed);
  if (!EnumPrintersW(kEnumFlags, nullptr, kEnumLevel, buffer.data(), needed, &needed, &count)) {
    return {};
  }
  const auto* printers = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.data());
  std::vector<std::u16string> names;
  for (DWORD i = 0; i < count; ++i) {
    names.push_back(quil::ToU16(printers[i].pPrinterName ? printers[i].pPrinterName : L""));
  }
  return names;
}

std::u16string ReadDefaultPrinterName() {
  DWORD characters = 0;
  if (GetDefaultPrinterW(nullptr, &characters) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return {};
  }
  std::wstring name(characters, L'\0');
  if (!GetDefaultPrinterW(name.data(), &characters)) return {};
  name.resize(wcsnlen(name.c_str(), name.size()));
  return quil::ToU16(name);
}

}  // namespace

void CQuilPrintersManager::TakeSnapshot() {
  if (snapshotTaken_) return;
  snapshotTaken_ = true;
  try {
    answers_ = quil::PrinterListAnswers({EnumeratePrinterNames(), ReadDefaultPrinterName()});
  } catch (...) {
    // Out of memory while loading: the add-in reports no printers rather than failing to load.
  }
}

void CQuilPrintersManager::OnData(std::vector<uint8_t> message) {
  // Each worker gets the answer it writes, so requests that arrive back to back are each
  // answered once, even from a server that does not wait for the previous reply.
  const std::span<const uint8_t> answer = answers_.For(message);
  if (answer.empty() || StartWriting(answer)) return;
  if (CAddinChannel* channel = channel_) channel->WriteDetached(answer);
}

bool CQuilPrintersManager::StartWriting(std::span<const uint8_t> answer) {
  try {
    return quil::StartWorker(std::make_unique<Reply>(Reply{this, answer}));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void CQuilPrintersManager::Write(std::span<const uint8_t> answer) {
  if (CAddinChannel* channel = channel_) {
    channel->Write(answer.data(), static_cast<DWORD>(answer.size()));
  }
}
