#pragma once

namespace gui {
// Starts the desktop application, with `file` (a path or a file:// URI) chosen when given;
// returns the process exit status. When another copy runs, the file is handed to it instead.
int run(int argc, char** argv, const char* file = nullptr);
}  // namespace gui
