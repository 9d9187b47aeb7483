// Printers of Wine's PostScript driver that print into files, for the client add-in's tests and
// the end-to-end run's client computer: the driver's installation with ghostscript's PPD, printers
// whose port is a file, and the page count of the PostScript that comes out.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sim {

// A file of the build machine as a Windows path: Wine's drive Z: is the Unix root.
std::wstring UnixFile(const char* unixPath);

// Installs "Wine PostScript Driver" with ghostscript's ghostpdf.ppd; an installed driver is kept.
void InstallPostScriptDriver();
// (Re)creates the printer with that driver and the file `outputPath` as its port, deleting the
// file first. False if the spooler refused the printer.
bool AddFilePrinter(const std::wstring& name, const std::wstring& outputPath);
void DeletePrinterNamed(const std::wstring& name);
// The printers the spooler enumerates, local and connections, in its order.
std::vector<std::wstring> EnumeratedPrinters();

// The contents of a file; empty if it does not exist.
std::string ReadFileText(const std::wstring& path);
// How many pages a PostScript file holds, by its page comments.
int CountPostScriptPages(const std::string& postScript);

}  // namespace sim
