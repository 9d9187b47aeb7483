// The host's listeners: on 127.0.0.1 at the ports that HKLM\Software\Quillon Simulation names
// (DWORD values "ControlPort" and "LinkPort"), served by a thread of their own for the life of
// the process. Each control connection is served on a thread of its own.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "HostLinks.h"
#include "SimSocket.h"
#include "UniqueHandle.h"

namespace sim::host {

class ControlConnection {
 public:
  ControlConnection(UniqueSocket socket, HostLinks& links);
  ControlConnection(const ControlConnection&) = delete;
  ControlConnection& operator=(const ControlConnection&) = delete;

  bool Started() const { return static_cast<bool>(thread_); }
  bool Finished() const;

 private:
  static DWORD WINAPI Serve(LPVOID self);
  bool ReadLine(std::string& line);
  void WriteLine(const std::string& line);

  UniqueSocket socket_;
  HostLinks& links_;
  std::string received_;  // bytes after the last line read
  quil::UniqueHandle thread_;
};

class HostServer {
 public:
  // Starts the listening thread; it reads the ports, and ends at once if they are not set.
  static void Start();

 private:
  HostServer() = default;
  static DWORD WINAPI Listen(LPVOID self);
  void Run();
  void StartControl(UniqueSocket socket);

  HostLinks links_;
  std::vector<std::unique_ptr<ControlConnection>> controls_;
  quil::UniqueHandle thread_;
};

}  // namespace sim::host
