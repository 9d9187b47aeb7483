// Opening a local printer for one job: its device context with the job's settings merged in and
// the document started, and playing one page onto it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

#include "SpoolMessages.h"
#include "UniqueGdi.h"

namespace quil {

// Opens the job's printer, merges the job's settings into the printer's own device settings,
// creates the device context and starts the document. Throws std::runtime_error when the printer
// cannot be opened, its settings cannot be read, or the device context cannot be created.
UniqueDC OpenPrintJob(const JobStart& job);

// Plays one page's enhanced metafile stretched over the whole printable area; bytes that are not
// a metafile print nothing.
void PlayPage(HDC printerDC, std::span<const uint8_t> metafile);

}  // namespace quil
