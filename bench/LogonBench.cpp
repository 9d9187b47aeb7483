// quil_bench_logon: the time from a user's logon to her last session printer, against the bare
// spooler calls that create and configure the same number of printers.
//   quil_bench_logon [--printers N] [--runs R]
// The system: the notification library's own code (as delivered, log off) logs a user on whose
// client reports N printers (default 50); its session thread asks for the list over the
// simulated "QPrn" channel, and for each printer adds the port, the printer with its security
// descriptor, and the port's settings, and makes the client's default the user's. The baseline
// makes the same calls on the same simulated spooler: per printer the transceive object opened
// for "AddPort", AddPrinterW with a descriptor built beforehand, the transceive object opened for
// "PortSettings", and one SetDefaultPrinterW. Runs alternate, R of each (default 5); the best
// time of each counts. The ratio says what the logon costs beyond the spooler's own work.
// Exit status: 0 when the figures were measured, 1 when a run failed, 2 for a bad command line.
#include <windows.h>

#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CQuilPrinterSecurity.h"
#include "Installation.h"
#include "PortSettingsBlock.h"
#include "QuillonNotify.h"
#include "SimScriptedClient.h"
#include "SimSpooler.h"
#include "SimTerminalServer.h"
#include "SimVirtualChannels.h"
#include "UniqueHandle.h"
#include "UniquePrinter.h"
#include "WideText.h"

namespace quil::bench {
namespace {

constexpr char kUsage[] = "usage: quil_bench_logon [--printers N] [--runs R]";
constexpr DWORD kSession = 3;
constexpr wchar_t kUser[] = L"alice";
constexpr wchar_t kDomain[] = L"CORP";
constexpr DWORD kRunWaitMs = 60000;

std::wstring ClientPrinterName(size_t index) { return L"\\\\PRINTSRV\\Printer " + std::to_wstring(index); }

// Polls without sleeping, so that the time measured ends when the condition first holds.
template <typename Condition>
bool SpinUntil(Condition condition) {
  for (const ULONGLONG deadline = GetTickCount64() + kRunWaitMs; !condition(); SwitchToThread()) {
    if (GetTickCount64() >= deadline) return false;
  }
  return true;
}

size_t PrinterCount() { return sim::SimSpooler::Instance().Printers().size(); }

// Seconds from the logon call until the printer-list exchange has ended with every printer made;
// the user then logs off (not timed). Negative when the run failed.
double RunSystem(size_t printers) {
  auto& channels = sim::SimVirtualChannels::Instance();
  UniqueHandle token;
  if (!WTSQueryUserToken(kSession, token.put())) return -1;
  const size_t closes = channels.Closes();
  const Stopwatch clock;
  QuilEventLogon(kSession, token.get());
  const bool made = SpinUntil([&] { return channels.Closes() > closes && channels.OpenChannels() == 0; });
  const double seconds = clock.Seconds();
  const bool complete = made && PrinterCount() == printers;
  QuilEventLogoff(kSession, nullptr);
  return complete && PrinterCount() == 0 ? seconds : -1;
}

bool Transceive(const wchar_t* command, const void* input, DWORD size) {
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
  UniquePrinter xcv;
  if (!OpenPrinterW(const_cast<LPWSTR>(sim::SimSpooler::kXcvMonitorName), xcv.put(), &defaults)) return false;
  BYTE output[260];
  DWORD needed = 0;
  DWORD status = 0;
  return XcvDataW(xcv.get(), command, static_cast<PBYTE>(const_cast<void*>(input)), size, output, sizeof(output),
                  &needed, &status) != FALSE;
}

DWORD Bytes(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

struct BarePrinter {
  std::wstring name;
  std::wstring port;
  std::vector<uint8_t> settings;
  UniquePrinter handle;
};

// Seconds for the bare calls that make the printers; they are removed afterwards (not timed).
double RunBaseline(size_t count, PSECURITY_DESCRIPTOR descriptor) {
  static unsigned run = 0;
  ++run;
  std::vector<BarePrinter> printers(count);
  for (size_t i = 0; i < count; ++i) {
    printers[i].name = L"Printer " + std::to_wstring(i) + L" on PRINTSRV (alice : 3)";
    printers[i].port = L"QPRN[3:" + std::to_wstring(i) + L":" + std::to_wstring(run * 100000 + i) + L"]";
    printers[i].settings =
        BuildPortSettingsBlock({ToU16(printers[i].port), ToU16(ClientPrinterName(i)), ToU16(kUser), kSession});
  }
  bool ok = true;
  const Stopwatch clock;
  for (BarePrinter& printer : printers) {
    ok = Transceive(L"AddPort", printer.port.c_str(), Bytes(printer.port)) && ok;
    PRINTER_INFO_2W info{};
    info.pPrinterName = printer.name.data();
    info.pPortName = printer.port.data();
    info.pDriverName = const_cast<LPWSTR>(kDriverName);
    info.pPrintProcessor = const_cast<LPWSTR>(L"WinPrint");
    info.pSecurityDescriptor = descriptor;
    printer.handle.reset(AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
    ok = printer.handle && ok;
    ok = Transceive(L"PortSettings", printer.settings.data(), static_cast<DWORD>(printer.settings.size())) && ok;
  }
  ok = SetDefaultPrinterW(printers.front().name.c_str()) && ok;
  const double seconds = clock.Seconds();
  for (BarePrinter& printer : printers) {
    DeletePrinter(printer.handle.get());
    Transceive(L"RemovePort", printer.port.c_str(), Bytes(printer.port));
  }
  return ok && PrinterCount() == 0 ? seconds : -1;
}

int Logon(size_t printerCount, size_t runs) {
  sim::SimTerminalServer::Instance().AddSession(kSession, L"RDP-Tcp#0", kUser, kDomain);
  std::vector<sim::SimScriptedPrinter> list;
  for (size_t i = 0; i < printerCount; ++i) list.push_back({ToU16(ClientPrinterName(i)), i == 0});
  sim::SimScriptedClient client(std::move(list));
  sim::SimVirtualChannels::Instance().SetClient(kSession, &client);
  UniqueHandle token;
  CQuilPrinterSecurity security;
  HRESULT failure = S_OK;
  if (!WTSQueryUserToken(kSession, token.put()) || !security.Build(token.get(), failure)) {
    std::printf("logon: the baseline's security descriptor could not be built (0x%08lx)\n", failure);
    return 1;
  }
  std::printf("logon: a client with %zu printers, %zu runs of each side\n", printerCount, runs);
  std::fflush(stdout);
  std::vector<double> system;
  std::vector<double> baseline;
  for (size_t round = 0; round < runs; ++round) {
    const double bare = RunBaseline(printerCount, security.Descriptor());
    const double logon = RunSystem(printerCount);
    if (bare < 0 || logon < 0) {
      std::printf("logon: run %zu failed (%s)\n", round + 1, bare < 0 ? "baseline" : "system");
      return 1;
    }
    baseline.push_back(bare * 1000);
    system.push_back(logon * 1000);
  }
  // The figures are times: the best is the shortest.
  const double best = *std::min_element(system.begin(), system.end());
  const double bestBaseline = *std::min_element(baseline.begin(), baseline.end());
  std::printf("logon runs (ms): baseline %s; system %s\n", JoinFigures(baseline, "%.1f").c_str(),
              JoinFigures(system, "%.1f").c_str());
  std::printf("logon baseline (bare spooler calls for %zu printers): %.1f ms\n", printerCount, bestBaseline);
  std::printf("logon system (logon to the last session printer): %.1f ms\n", best);
  std::printf("figure logon: system/baseline time %.2f (no goal; median runs %.2f)\n", best / bestBaseline,
              Median(system) / Median(baseline));
  return 0;
}

}  // namespace
}  // namespace quil::bench

int wmain(int argc, wchar_t** argv) {
  const auto printers = quil::bench::Option(argc, argv, 1, L"--printers", 50);
  const auto runs = quil::bench::Option(argc, argv, 1, L"--runs", 5);
  if (!printers || !runs) {
    std::puts(quil::bench::kUsage);
    return 2;
  }
  return quil::bench::Logon(*printers, *runs);
}
