// The platform's way of showing the settings sheet: a Win32 property sheet on
// Windows, the terminal form on standard input and output elsewhere.
#pragma once

#include <memory>

#include "ui/config_sheet.h"

std::unique_ptr<SheetRunner> MakeSheetRunner();

// The UI module's instance handle, for its resources.
void* UiModuleInstance();
