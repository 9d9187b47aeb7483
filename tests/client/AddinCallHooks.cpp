#include "AddinCallHooks.h"

#include <winspool.h>

#include "WaitBound.h"

namespace quil::test {

namespace {

const DWORD kHoldMs = WaitBound(20000);

StartDocStall* g_stall = nullptr;
PrinterEnumerationLog* g_enumerations = nullptr;
FontResourceLog* g_fonts = nullptr;

}  // namespace

StartDocStall::StartDocStall()
    : held_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      released_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

bool StartDocStall::Apply(HMODULE module) {
  g_stall = this;
  return patch_.Apply(module, "gdi32.dll", "StartDocW", reinterpret_cast<void*>(&HeldStartDoc));
}

bool StartDocStall::WaitUntilHeld() {
  return WaitForSingleObject(held_.get(), kHoldMs) == WAIT_OBJECT_0;
}

void StartDocStall::Release() {
  patch_.Restore();
  SetEvent(released_.get());
}

int WINAPI StartDocStall::HeldStartDoc(HDC dc, const DOCINFOW* document) {
  SetEvent(g_stall->held_.get());
  if (WaitForSingleObject(g_stall->released_.get(), kHoldMs) != WAIT_OBJECT_0) {
    g_stall->timedOut_ = true;
  }
  return StartDocW(dc, document);
}

bool PrinterEnumerationLog::Apply(HMODULE module) {
  g_enumerations = this;
  return patch_.Apply(module, "winspool.drv", "EnumPrintersW",
                      reinterpret_cast<void*>(&LoggedEnumPrinters));
}

BOOL WINAPI PrinterEnumerationLog::LoggedEnumPrinters(DWORD flags, LPWSTR name, DWORD level,
                                                      LPBYTE buffer, DWORD size, LPDWORD needed,
                                                      LPDWORD returned) {
  ++g_enumerations->calls_;
  if ((flags & PRINTER_ENUM_CONNECTIONS) && level != 4) ++g_enumerations->serverQueries_;
  return EnumPrintersW(flags, name, level, buffer, size, needed, returned);
}

bool FontResourceLog::Apply(HMODULE module) {
  g_fonts = this;
  return addPatch_.Apply(module, "gdi32.dll", "AddFontMemResourceEx", reinterpret_cast<void*>(&LoggedAdd)) &&
         removePatch_.Apply(module, "gdi32.dll", "RemoveFontMemResourceEx", reinterpret_cast<void*>(&LoggedRemove));
}

std::vector<HANDLE> FontResourceLog::Added() {
  sim::Guard guard(lock_);
  return added_;
}

std::vector<HANDLE> FontResourceLog::Removed() {
  sim::Guard guard(lock_);
  return removed_;
}

HANDLE WINAPI FontResourceLog::LoggedAdd(PVOID font, DWORD size, PVOID reserved, DWORD* loaded) {
  const HANDLE fonts = AddFontMemResourceEx(font, size, reserved, loaded);
  sim::Guard guard(g_fonts->lock_);
  g_fonts->added_.push_back(fonts);
  return fonts;
}

BOOL WINAPI FontResourceLog::LoggedRemove(HANDLE fonts) {
  {
    sim::Guard guard(g_fonts->lock_);
    g_fonts->removed_.push_back(fonts);
  }
  return RemoveFontMemResourceEx(fonts);
}

}  // namespace quil::test
