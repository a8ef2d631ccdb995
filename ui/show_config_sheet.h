// ShowConfigSheet, the one way into the settings sheet, and what it tells the
// provider before and after.
#pragma once

#include <string>

#include "tapi/tspi.h"
#include "ui/config_sheet.h"

// The caption when the provider names nobody.
inline constexpr char kDefaultSheetCaption[] = "TSP Configuration";

// Asks the provider about itself through the callback (which may be null),
// shows the sheet through runner and, when the user saved anything, tells the
// provider to take up the changes. Always 0.
LONG ShowConfigSheet(HWND owner, TUISPIDLLCALLBACK callback, DWORD_PTR objectId, DWORD objectType, SheetRunner& runner,
                     const UserLocale& locale);

// The info page's texts from the provider's version words; empty for 0.
std::string ProviderVersionText(DWORD versionMS, DWORD versionLS);
std::string VersionText(DWORD version);
