// quil_e2e_client: the end-to-end run's client computer. Creates its printers, hosts the real
// client add-in in the simulated remote-desktop client and joins it to the server host through a
// channel link, shaped by the profile of --link in both directions (the hello names it to the
// server host); runs until stdin says "quit" (or ends) or the link ends.
// Exit status: 0 after "quit", the end of stdin or the server closing the link; 1 when setting up
// fails or the link breaks; 2 for a bad command line.
#include <windows.h>

#include <winspool.h>

#include <variant>

#include "E2eClientOptions.h"
#include "E2eConsole.h"
#include "E2eJobOutputs.h"
#include "E2eLinkSocket.h"
#include "SimLinkReceiver.h"
#include "SimLinkSender.h"
#include "SimPrinters.h"
#include "SimRdpClient.h"

namespace sim {
namespace {

constexpr wchar_t kAddinKey[] =
    L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\Quillon";
constexpr DWORD kPollMs = 100;

// The add-in's path as the client package registered it; empty if it is not registered.
std::wstring RegisteredAddinPath() {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kAddinKey, L"Name", RRF_RT_REG_SZ, nullptr, nullptr,
                   &bytes) != ERROR_SUCCESS) {
    return {};
  }
  std::wstring path(bytes / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, kAddinKey, L"Name", RRF_RT_REG_SZ, nullptr, path.data(),
                   &bytes) != ERROR_SUCCESS) {
    return {};
  }
  path.resize(wcsnlen(path.c_str(), path.size()));
  return path;
}

// The printers, each printing into its port file in the output folder, and the default.
bool SetUpPrinters(const E2eClientOptions& options, E2eConsole& console) {
  CreateDirectoryW(options.outputFolder.c_str(), nullptr);
  InstallPostScriptDriver();
  for (const auto& printer : options.printers) {
    if (!AddFilePrinter(printer, PortFile(options.outputFolder, printer))) {
      console.ErrorLine("cannot create printer " + Utf8(printer));
      return false;
    }
  }
  if (!SetDefaultPrinterW(options.defaultPrinter.c_str())) {
    console.ErrorLine("cannot make " + Utf8(options.defaultPrinter) + " the default printer");
    return false;
  }
  return true;
}

// kRunning when stdin asked to quit while the link still runs; otherwise how the link ended.
SimLinkEnd WaitForQuitOrLinkEnd(HANDLE quit, SimLinkReceiver& link) {
  for (;;) {
    const SimLinkEnd end = link.WaitForEnd(kPollMs);
    if (end != SimLinkEnd::kRunning) return end;
    if (WaitForSingleObject(quit, 0) == WAIT_OBJECT_0) return SimLinkEnd::kRunning;
  }
}

// Connected from Connect() on: every chunk from the server goes to the add-in, every message the
// add-in writes goes to the server.
int RunConnected(SimRdpClient& client, E2eJobOutputs& jobs, UniqueSocket incoming,
                 E2eConsole& console) {
  client.Connect();
  StdinQuitWatcher input;
  SimLinkReceiver fromServer(
      std::move(incoming),
      [&client, &jobs](DWORD, const std::string& channelName, uint32_t totalLength, uint32_t flags,
                       std::span<const uint8_t> data) {
        jobs.ObserveServerChunk(channelName, data, totalLength, flags);
        client.SendChunk(channelName, data, totalLength, flags);
      });
  console.Line("ready");
  const SimLinkEnd end = WaitForQuitOrLinkEnd(input.QuitEvent(), fromServer);
  client.Disconnect();
  client.Terminate();
  if (end == SimLinkEnd::kRunning) return 0;
  console.Line(std::string("link ended: ") + SimLinkEndName(end));
  return end == SimLinkEnd::kClosed ? 0 : 1;
}

int RunClient(const E2eClientOptions& options, const std::wstring& addin, E2eConsole& console) {
  const WinsockSession winsock;
  UniqueSocket link = winsock.Started()
                          ? ConnectClientLink(options.linkPort, options.sessionId, options.linkProfile)
                          : UniqueSocket();
  UniqueSocket incoming = link ? DuplicateSocket(link.get()) : UniqueSocket();
  if (!incoming) {
    console.ErrorLine("cannot connect the link to 127.0.0.1:" + std::to_string(options.linkPort));
    return 1;
  }
  SimLinkSender toServer(std::move(link), options.linkShape);
  E2eJobOutputs jobs(toServer, options.outputFolder, console);
  SimRdpClient client(jobs, options.sessionId);
  if (!client.LoadAddin(addin)) {
    console.ErrorLine("cannot load the add-in " + Utf8(addin));
    return 1;
  }
  return RunConnected(client, jobs, std::move(incoming), console);
}

int Main(int argc, wchar_t** argv) {
  E2eConsole console;
  const auto parsed = ParseClientOptions(argc, argv);
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    console.ErrorLine(*error);
    console.ErrorLine(kClientUsage);
    return 2;
  }
  const auto& options = std::get<E2eClientOptions>(parsed);
  if (!SetUpPrinters(options, console)) return 1;
  const std::wstring addin = options.addinPath.empty() ? RegisteredAddinPath() : options.addinPath;
  if (addin.empty()) {
    console.ErrorLine("the add-in is not registered (HKCU\\" + Utf8(kAddinKey) + ", Name)");
    return 1;
  }
  return RunClient(options, addin, console);
}

}  // namespace
}  // namespace sim

int wmain(int argc, wchar_t** argv) { return sim::Main(argc, argv); }
