// The executable's entry: no argument runs the service, "install" / "uninstall" register or
// remove it. Returns the process exit code (0 or -1).
#pragma once

int HingeflowEntry(int argc, wchar_t** argv);
