#pragma once

namespace cli {
// Runs the command line; returns the process exit status.
int run(int argc, char** argv);
}  // namespace cli
