#pragma once

namespace gui {
// Starts the desktop application; returns the process exit status.
int run(int argc, char** argv);
}  // namespace gui
