// Simulator face only: what ConsolePrintf printed since Reset, exactly as formatted.
#pragma once

#include <string>

namespace sim {

std::wstring ConsoleOutput();
void ClearConsoleOutput();

} // namespace sim
