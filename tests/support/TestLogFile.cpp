#include "TestLogFile.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace quil::test {
namespace {
constexpr char kEntryStart[] = "\r\n";
constexpr char kPrefixEnd[] = ") |";
constexpr char kThreadMark[] = " - th(0x";
// The line break and the time "dd-mm-yy HH:MM:SS" stand before the thread mark.
constexpr size_t kTimeOffset = 2 + 17;

bool StartsEntry(const std::string& bytes, size_t lineBreak) {
  return bytes.size() >= lineBreak + kTimeOffset &&
         bytes.compare(lineBreak + kTimeOffset, sizeof(kThreadMark) - 1, kThreadMark) == 0;
}

}  // namespace

void TestLogFile::Remove() { DeleteFileA(kPath); }

bool TestLogFile::Exists() { return GetFileAttributesA(kPath) != INVALID_FILE_ATTRIBUTES; }

std::string TestLogFile::ReadBytes() {
  std::ifstream file(kPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Entries start with a line break; a message may itself hold line breaks, so an entry runs
// until the next line break that is followed by a time prefix.
std::vector<std::string> TestLogFile::Messages() {
  const std::string bytes = ReadBytes();
  std::vector<std::string> messages;
  size_t entry = bytes.find(kEntryStart);
  while (entry != std::string::npos) {
    const size_t prefixEnd = bytes.find(kPrefixEnd, entry);
    if (prefixEnd == std::string::npos) break;
    const size_t messageStart = prefixEnd + sizeof(kPrefixEnd) - 1;
    size_t next = bytes.find(kEntryStart, messageStart);
    while (next != std::string::npos && !StartsEntry(bytes, next)) next = bytes.find(kEntryStart, next + 1);
    messages.push_back(bytes.substr(messageStart, next == std::string::npos ? std::string::npos : next - messageStart));
    entry = next;
  }
  return messages;
}

size_t TestLogFile::CountMessage(const std::string& message) {
  const std::vector<std::string> messages = Messages();
  return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
}

}  // namespace quil::test
