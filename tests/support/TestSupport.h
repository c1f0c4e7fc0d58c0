#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Camera recordings kept outside the repository (third-party files): QVR_CORPUS_DIR, else
// ../shared/corpus next to the checkout.
std::string corpusDir();
// Empty when the corpus holds `file`; else why the test that needs it is skipped, for GTEST_SKIP().
std::string corpusMissing(const std::string& file, const std::string& what);
std::string sourceDir();
std::string binaryDir();
// The command-line executable of this build tree.
std::string executablePath();

// A fresh folder removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct CommandResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};
// Runs a shell command line (tests build them from fixed parts and quoted paths).
CommandResult runCommand(const std::string& commandLine);
std::string shellQuote(const std::string& s);
bool haveProgram(const std::string& name);

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace testsupport
