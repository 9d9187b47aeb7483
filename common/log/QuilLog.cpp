#include "QuilLog.h"

#include <stdarg.h>
#include <stdio.h>
#include <time.h>
#include <wchar.h>

#include <memory>

#include "UniqueHandle.h"

#ifndef QUIL_LOG_ENABLED
#define QUIL_LOG_ENABLED 0
#endif

namespace quil {
namespace {

constexpr bool kLogEnabled = QUIL_LOG_ENABLED != 0;
constexpr char kLogPath[] = "c:\\Quillon.log";
constexpr wchar_t kLogMutexName[] = L"QuillonLog";
constexpr wchar_t kNoSystemText[] = L"(no system text for this code)";
constexpr size_t kTimeTextLength = 80;

// Serialises writers across threads and processes; lives as long as the module.
class LogMutex {
 public:
  LogMutex() : mutex_(CreateMutexW(nullptr, FALSE, kLogMutexName)) {}
  HANDLE get() const { return mutex_.get(); }

 private:
  UniqueHandle mutex_;
};

LogMutex g_logMutex;

// Logging must not disturb the caller's last error, which it may be about to log or report.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : error_(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(error_); }

 private:
  DWORD error_;
};

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};

// The Windows runtime's formatting, where %s in a wide format takes a wide string.
void WriteFormatted(FILE* stream, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  __ms_vfwprintf(stream, format, args);
  va_end(args);
}

// The local time as "dd-mm-yy HH:MM:SS", with the time-zone data read afresh.
void FormatLocalTime(wchar_t (&text)[kTimeTextLength]) {
  _tzset();
  time_t now = time(nullptr);
  text[0] = L'\0';
  if (const tm* local = localtime(&now)) wcsftime(text, kTimeTextLength, L"%d-%m-%y %H:%M:%S", local);
}

void WriteEntry(const wchar_t* format, va_list args) {
  HANDLE mutex = g_logMutex.get();
  const bool locked = mutex && WaitForSingleObject(mutex, INFINITE) != WAIT_FAILED;
  MutexReleaser release(locked ? mutex : nullptr);

  FILE* opened = fopen(kLogPath, "a+");
  if (!opened) {
    wprintf(L"create log file error\n");
    return;
  }
  std::unique_ptr<FILE, FileCloser> stream(opened);
  wchar_t timeText[kTimeTextLength];
  FormatLocalTime(timeText);
  WriteFormatted(stream.get(), L"\n%s - th(0x%x) |", timeText, GetCurrentThreadId());
  __ms_vfwprintf(stream.get(), format, args);
  fflush(stream.get());
}

}  // namespace

void Log(const wchar_t* format, ...) {
  if (!kLogEnabled) return;
  LastErrorKeeper keepCallersError;
  va_list args;
  va_start(args, format);
  WriteEntry(format, args);
  va_end(args);
}

void LogErrorText(DWORD code) {
  if (!kLogEnabled) return;
  LastErrorKeeper keepCallersError;
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
                                      nullptr);
  // Without text the pointer is not the system's to free.
  UniqueLocalMemory ownedText(length ? text : nullptr);
  Log(L"Result: %s [%d]", length ? text : kNoSystemText, static_cast<int>(code));
}

}  // namespace quil
