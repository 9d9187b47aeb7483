#include "E2eConsole.h"

namespace sim {
namespace {

constexpr DWORD kCancelWaitMs = 500;

// A line as typed, without its line end and surrounding blanks.
std::string Trimmed(const std::string& line) {
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// Returns once a line "quit" arrived or stdin ended.
void ReadUntilQuit() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::string pending;
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(input, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    pending.append(buffer, got);
    for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      if (Trimmed(pending.substr(0, end)) == "quit") return;
      pending.erase(0, end + 1);
    }
  }
}

}  // namespace

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

void E2eConsole::Write(HANDLE stream, const std::string& text) {
  const std::string line = text + "\n";
  quil::ScopedLock hold(lock_);
  DWORD written = 0;
  WriteFile(stream, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

StdinQuitWatcher::StdinQuitWatcher() : quit_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  quil::UniqueHandle threadEvent;
  DuplicateHandle(GetCurrentProcess(), quit_.get(), GetCurrentProcess(), threadEvent.put(), 0,
                  FALSE, DUPLICATE_SAME_ACCESS);
  if (threadEvent) {
    thread_.reset(CreateThread(nullptr, 0, &ReadThread, threadEvent.get(), 0, nullptr));
  }
  if (thread_) {
    threadEvent.release();  // the thread owns it now
  } else {
    SetEvent(quit_.get());
  }
}

StdinQuitWatcher::~StdinQuitWatcher() {
  if (!thread_) return;
  CancelSynchronousIo(thread_.get());
  WaitForSingleObject(thread_.get(), kCancelWaitMs);
}

DWORD WINAPI StdinQuitWatcher::ReadThread(LPVOID quitEvent) {
  const quil::UniqueHandle quit(static_cast<HANDLE>(quitEvent));
  ReadUntilQuit();
  SetEvent(quit.get());
  return 0;
}

}  // namespace sim
