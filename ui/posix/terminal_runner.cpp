#include <iostream>

#include "ui/sheet_runner.h"
#include "ui/terminal_form.h"

std::unique_ptr<SheetRunner> MakeSheetRunner() { return std::make_unique<TerminalForm>(std::cin, std::cout); }
