// The client computer's command line:
//   quil_e2e_client.exe <linkPort> <sessionId> <outputFolder> <printer>... --default <printer>
//                       [--addin <path>] [--link <profile>]
// --addin names the add-in's DLL in place of the one the client package registered; --link the
// profile that shapes both directions of the channel link ("wan", "lan"; unshaped by default).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "SimLinkShape.h"

namespace sim {

struct E2eClientOptions {
  uint16_t linkPort = 0;
  DWORD sessionId = 0;
  std::wstring outputFolder;
  std::vector<std::wstring> printers;
  std::wstring defaultPrinter;  // one of `printers`
  std::wstring addinPath;       // empty: the registered add-in
  std::string linkProfile;      // empty: unshaped
  SimLinkShape linkShape;       // the profile's
};

inline constexpr char kClientUsage[] =
    "usage: quil_e2e_client <linkPort> <sessionId> <outputFolder> <printer>... "
    "--default <printer> [--addin <path>] [--link wan|lan]";

// The options, or what is wrong with the command line.
std::variant<E2eClientOptions, std::string> ParseClientOptions(int argc, wchar_t** argv);

}  // namespace sim
