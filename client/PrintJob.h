// Opening a local printer for one job: its device context with the job's settings merged in and
// the document started, and playing one page onto it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

#include "SpoolMessages.h"
#include "UniqueGdi.h"

namespace quil {

// Opens the job's printer, merges the job's settings into the printer's own device settings,
// creates the device context and starts the document. `printerSettings` receives the printer's
// own DEVMODEW, public and driver part (empty if it has none), for the pages' settings. Throws
// std::runtime_error when the printer cannot be opened, its settings cannot be read, or the
// device context cannot be created.
UniqueDC OpenPrintJob(const JobStart& job, std::vector<uint8_t>& printerSettings);

// Sets the device settings of the pages from the next one on: the printer's own settings with the
// page's merged in by the rules of the job's settings. Called between pages (after EndPage, before
// the next StartPage); without printer settings the page's cannot be merged and nothing changes.
void ApplyPageSettings(HDC printerDC, const std::vector<uint8_t>& printerSettings,
                       std::span<const uint8_t, JobStartLayout::kDevModeSize> pageSettings);

// Plays one page's enhanced metafile stretched over the whole printable area; bytes that are not
// a metafile print nothing.
void PlayPage(HDC printerDC, std::span<const uint8_t> metafile);

}  // namespace quil
