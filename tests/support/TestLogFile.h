// Reads back the diagnostic log file that the code under test wrote.
#pragma once

#include <string>
#include <vector>

namespace quil::test {

class TestLogFile {
 public:
  static constexpr const char* kPath = "c:\\Quillon.log";

  // Deletes the log file so that a test starts with none.
  static void Remove();
  static bool Exists();
  // The file's bytes exactly as written.
  static std::string ReadBytes();
  // The message of each entry: the text after the "<time> - th(0x<id>) |" prefix.
  static std::vector<std::string> Messages();
  // How many entries carry exactly this message.
  static size_t CountMessage(const std::string& message);
};

}  // namespace quil::test
