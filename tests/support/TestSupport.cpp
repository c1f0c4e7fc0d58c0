#include "support/TestSupport.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

std::string corpusDir() {
  if (const char* env = std::getenv("QVR_CORPUS_DIR"); env && *env) return env;
  return sourceDir() + "/../shared/corpus";
}
std::string corpusMissing(const std::string& file, const std::string& what) {
  if (std::filesystem::exists(corpusDir() + "/" + file)) return "";
  return "camera corpus not found at " + corpusDir() + ": " + what + " with " + file +
         " skipped (third-party recordings are kept outside the repository)";
}
std::string sourceDir() { return QVR_SOURCE_DIR; }
std::string binaryDir() { return QVR_BINARY_DIR; }
std::string executablePath() { return binaryDir() + "/quenda-video-repair"; }

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/qvr-test-XXXXXX";
  std::vector<char> buf(base.begin(), base.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

CommandResult runCommand(const std::string& commandLine) {
  CommandResult result;
  FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
  int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

bool haveProgram(const std::string& name) { return runCommand("command -v " + shellQuote(name)).exitCode == 0; }

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testsupport
