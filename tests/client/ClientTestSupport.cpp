#include "ClientTestSupport.h"

#include <tlhelp32.h>
#include <winspool.h>

#include <cstring>
#include <sstream>

#include "UniqueGdi.h"
#include "UniqueRegistryKey.h"
#include "WaitBound.h"

namespace quil::test {

namespace {

const DWORD kWaitMs = WaitBound(20000);
constexpr wchar_t kWindowsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

}  // namespace

RecordingServer::RecordingServer() : arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

void RecordingServer::Deliver(DWORD sessionId, const std::string& channelName, Bytes message) {
  {
    sim::Guard hold(lock_);
    messages_.emplace_back(channelName, std::move(message));
    lastSessionId_ = sessionId;
  }
  SetEvent(arrived_.get());
}

std::vector<Bytes> RecordingServer::Messages(const std::string& channelName) {
  sim::Guard hold(lock_);
  std::vector<Bytes> found;
  for (const auto& [channel, message] : messages_) {
    if (channel == channelName) found.push_back(message);
  }
  return found;
}

bool RecordingServer::WaitForMessages(const std::string& channelName, size_t count) {
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  while (Messages(channelName).size() < count) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    WaitForSingleObject(arrived_.get(), static_cast<DWORD>(deadline - now));
  }
  return true;
}

DWORD RecordingServer::LastSessionId() {
  sim::Guard hold(lock_);
  return lastSessionId_;
}

std::wstring TestFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring AddinPath() { return sim::UnixFile(QUIL_CLIENT_DLL); }

HMODULE LoadedAddin() { return GetModuleHandleW(L"QuillonClient.dll"); }

bool WaitUntilAddinUnloaded() {
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  while (LoadedAddin()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
  return true;
}

std::wstring AddFilePrinter(const std::wstring& name, const std::wstring& outputFileName) {
  const std::wstring folder = TestFolder() + L"out";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring output = folder + L"\\" + outputFileName;
  sim::AddFilePrinter(name, output);
  return output;
}

void DeleteAllPrinters() {
  for (const auto& name : EnumeratedPrinters()) DeletePrinterNamed(name);
}

void SetDefaultPrinterEntry(const std::wstring& name) {
  UniqueRegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kWindowsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (name.empty()) {
    RegDeleteValueW(key.get(), L"Device");
    return;
  }
  const std::wstring device = name + L",winspool,FILE:";
  RegSetValueExW(key.get(), L"Device", 0, REG_SZ, reinterpret_cast<const BYTE*>(device.c_str()),
                 static_cast<DWORD>((device.size() + 1) * sizeof(wchar_t)));
}

namespace {

Bytes MetafileBits(HENHMETAFILE metafile) {
  UniqueEnhMetaFile owned(metafile);
  const UINT size = GetEnhMetaFileBits(owned.get(), 0, nullptr);
  Bytes bits(size);
  GetEnhMetaFileBits(owned.get(), size, bits.data());
  return bits;
}

void DrawPage(HDC dc, int variant, LONG frameWidth, LONG frameHeight) {
  // The metafile records in the reference device's pixels; the picture fills the frame.
  const LONG width =
      MulDiv(frameWidth, GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, HORZSIZE) * 100);
  const LONG height =
      MulDiv(frameHeight, GetDeviceCaps(dc, VERTRES), GetDeviceCaps(dc, VERTSIZE) * 100);
  HBRUSH frame = CreateSolidBrush(RGB(40 * variant % 256, 90, 200));
  SelectObject(dc, frame);
  Rectangle(dc, width / 40, height / 40, width - width / 40, height - height / 40);
  HBRUSH inner = CreateSolidBrush(RGB(240, 200 - 30 * variant % 200, 30));
  SelectObject(dc, inner);
  Ellipse(dc, width / 4, height / 4, width / 4 * 3, height / 2 + height / 20 * variant);
  HPEN pen = CreatePen(PS_SOLID, 3, RGB(0, 0, 0));
  SelectObject(dc, pen);
  MoveToEx(dc, width / 20, height / 20, nullptr);
  LineTo(dc, width - width / 20, height - height / 20);
  MoveToEx(dc, width - width / 20, height / 20, nullptr);
  LineTo(dc, width / 20 * variant, height - height / 20);
  HFONT font = CreateFontW(-height / 25, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0,
                           0, 0, L"Arial");
  SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  const std::wstring text = L"Quillon page " + std::to_wstring(variant);
  TextOutW(dc, width / 10, height - height / 6, text.c_str(), static_cast<int>(text.size()));
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  SelectObject(dc, GetStockObject(BLACK_PEN));
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(frame);
  DeleteObject(inner);
  DeleteObject(pen);
  DeleteObject(font);
}

}  // namespace

Bytes MakePageMetafile(int variant, LONG frameWidth, LONG frameHeight) {
  const RECT frame{0, 0, frameWidth, frameHeight};
  HDC dc = CreateEnhMetaFileW(nullptr, nullptr, &frame, L"Quillon test page");
  if (!dc) return {};
  DrawPage(dc, variant, frameWidth, frameHeight);
  return MetafileBits(CloseEnhMetaFile(dc));
}

Bytes MakeBandPageMetafile() {
  const RECT frame{0, 0, 21590, 27940};
  HDC dc = CreateEnhMetaFileW(nullptr, nullptr, &frame, L"Quillon band page");
  if (!dc) return {};
  const LONG width =
      MulDiv(frame.right, GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, HORZSIZE) * 100);
  const LONG height =
      MulDiv(frame.bottom, GetDeviceCaps(dc, VERTRES), GetDeviceCaps(dc, VERTSIZE) * 100);
  const RECT band{0, 0, width, height / 8};
  FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  return MetafileBits(CloseEnhMetaFile(dc));
}

Bytes MakeLargePageMetafile(size_t extraBytes) {
  const RECT frame{0, 0, 21590, 27940};
  HDC dc = CreateEnhMetaFileW(nullptr, nullptr, &frame, L"Quillon large page");
  if (!dc) return {};
  const std::vector<BYTE> comment(extraBytes, 0x5A);
  GdiComment(dc, static_cast<UINT>(comment.size()), comment.data());
  DrawPage(dc, 1, 21590, 27940);
  return MetafileBits(CloseEnhMetaFile(dc));
}

Bytes MakeTextPageMetafile(const std::wstring& face) {
  const RECT frame{0, 0, 21590, 27940};
  HDC dc = CreateEnhMetaFileW(nullptr, nullptr, &frame, L"Quillon text page");
  if (!dc) return {};
  LOGFONTW logFont{};
  logFont.lfHeight = -120;
  logFont.lfWeight = FW_NORMAL;
  face.copy(logFont.lfFaceName, LF_FACESIZE - 1);
  const UniqueGdiObject font(CreateFontIndirectW(&logFont));
  const HGDIOBJ previous = SelectObject(dc, font.get());
  TextOutW(dc, 200, 200, L"AAA", 3);
  SelectObject(dc, previous);
  return MetafileBits(CloseEnhMetaFile(dc));
}

std::vector<uint8_t> JobDevMode(DWORD fields, short orientation) {
  DEVMODEW devMode{};
  devMode.dmSize = sizeof(DEVMODEW);
  devMode.dmSpecVersion = DM_SPECVERSION;
  devMode.dmFields = fields;
  devMode.dmOrientation = orientation;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&devMode);
  return {bytes, bytes + sizeof(devMode)};
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

size_t ThreadCount() {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  size_t count = 0;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more;
       more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  return count;
}

bool WaitForThreadCount(size_t count) {
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  while (ThreadCount() > count) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
  return true;
}

}  // namespace quil::test
