// Owning wrappers for spooler handles.
#pragma once

#include <windows.h>

#include <winspool.h>

#include "UniqueHandle.h"

namespace quil {

struct PrinterHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle printer) { ClosePrinter(printer); }
};

// A printer opened with OpenPrinterW or added with AddPrinterW.
using UniquePrinter = UniqueResource<PrinterHandleTraits>;

}  // namespace quil
