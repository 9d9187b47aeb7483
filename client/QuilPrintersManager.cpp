#include "QuilPrintersManager.h"

#include <windows.h>

#include <winspool.h>

#include <memory>

#include "WideText.h"
#include "WorkerThread.h"

namespace {

constexpr DWORD kEnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;

std::vector<std::u16string> EnumeratePrinterNames() {
  DWORD needed = 0;
  DWORD count = 0;
  if (EnumPrintersW(kEnumFlags, nullptr, 2, nullptr, 0, &needed, &count) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return {};
  }
  std::vector<BYTE> buffer(needed);
  if (!EnumPrintersW(kEnumFlags, nullptr, 2, buffer.data(), needed, &needed, &count)) return {};
  const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
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
    snapshot_.names = EnumeratePrinterNames();
    snapshot_.defaultName = ReadDefaultPrinterName();
  } catch (...) {
    // Out of memory while loading: the add-in reports no printers rather than failing to load.
    snapshot_ = {};
  }
}

void CQuilPrintersManager::OnData(std::vector<uint8_t> message) {
  // Each worker gets the request it answers, so requests that arrive back to back are each
  // answered once, even from a server that does not wait for the previous reply.
  quil::StartWorker(std::make_unique<Request>(Request{this, std::move(message)}));
}

void CQuilPrintersManager::Answer(const std::vector<uint8_t>& request) {
  CAddinChannel* channel = channel_;
  const auto reply = quil::AnswerPrinterListRequest(request, snapshot_);
  if (reply && channel) channel->Write(reply->data(), static_cast<DWORD>(reply->size()));
}
