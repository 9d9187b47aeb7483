#include "HostServer.h"

#include <algorithm>
#include <optional>

#include "HostCommands.h"
#include "SimVirtualChannels.h"
#include "UniqueRegistryKey.h"

namespace sim::host {
namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Quillon Simulation";
constexpr DWORD kLoopMs = 200;
constexpr size_t kMaxLineBytes = 64 * 1024;

std::optional<uint16_t> ConfiguredPort(const wchar_t* valueName) {
  quil::UniqueRegistryKey key;
  DWORD port = 0;
  DWORD size = sizeof(port);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
      RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&port), &size) !=
          ERROR_SUCCESS ||
      port == 0 || port > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(port);
}

// A listener on 127.0.0.1:port. Address reuse lets a restarted service listen again while
// connections of its previous run linger in TIME_WAIT.
UniqueSocket ListenOn(uint16_t port) {
  UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const BOOL reuse = TRUE;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (!listener ||
      setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse)) ||
      bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ||
      listen(listener.get(), SOMAXCONN)) {
    return {};
  }
  return listener;
}

}  // namespace

ControlConnection::ControlConnection(UniqueSocket socket, HostLinks& links)
    : socket_(std::move(socket)), links_(links), thread_(CreateThread(nullptr, 0, Serve, this, 0, nullptr)) {}

bool ControlConnection::Finished() const { return WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0; }

DWORD WINAPI ControlConnection::Serve(LPVOID self) {
  auto* connection = static_cast<ControlConnection*>(self);
  const LineWriter write = [connection](const std::string& line) { connection->WriteLine(line); };
  for (std::string line; connection->ReadLine(line) && RunCommand(line, connection->links_, write);) {
  }
  shutdown(connection->socket_.get(), SD_BOTH);
  return 0;
}

// A line without its "\n" (and "\r"); false when the connection ends first.
bool ControlConnection::ReadLine(std::string& line) {
  size_t end = 0;
  while ((end = received_.find('\n')) == std::string::npos) {
    char buffer[4096];
    const int got = recv(socket_.get(), buffer, sizeof(buffer), 0);
    if (got <= 0 || received_.size() > kMaxLineBytes) return false;
    received_.append(buffer, static_cast<size_t>(got));
  }
  line = received_.substr(0, end);
  received_.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void ControlConnection::WriteLine(const std::string& line) {
  const std::string text = line + "\n";
  SendAll(socket_.get(), {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

void HostServer::Start() {
  // Lives as long as the process: its module is pinned, and the process's end stops its threads.
  auto* server = new HostServer;
  server->thread_.reset(CreateThread(nullptr, 0, Listen, server, 0, nullptr));
}

DWORD WINAPI HostServer::Listen(LPVOID self) {
  static_cast<HostServer*>(self)->Run();
  return 0;
}

void HostServer::Run() {
  const WinsockSession winsock;
  const auto controlPort = ConfiguredPort(L"ControlPort");
  const auto linkPort = ConfiguredPort(L"LinkPort");
  if (!winsock.Started() || !controlPort || !linkPort) return;
  const UniqueSocket control = ListenOn(*controlPort);
  const UniqueSocket link = ListenOn(*linkPort);
  if (!control || !link) return;
  SimVirtualChannels::Instance().KeepWritten(false);  // jobs of any length: nothing reads them back
  for (;;) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(control.get(), &ready);
    FD_SET(link.get(), &ready);
    timeval timeout{0, kLoopMs * 1000};
    if (select(0, &ready, nullptr, nullptr, &timeout) > 0) {
      if (FD_ISSET(control.get(), &ready)) StartControl(AcceptConnection(control.get(), 0));
      if (FD_ISSET(link.get(), &ready)) links_.Accept(AcceptConnection(link.get(), 0));
    }
    links_.RetireEnded();
    std::erase_if(controls_, [](const auto& connection) { return connection->Finished(); });
  }
}

void HostServer::StartControl(UniqueSocket socket) {
  if (!socket) return;
  auto connection = std::make_unique<ControlConnection>(std::move(socket), links_);
  if (connection->Started()) controls_.push_back(std::move(connection));
}

}  // namespace sim::host
