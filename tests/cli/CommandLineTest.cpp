// The command line as a user meets it: which outputs it refuses to write, batches of files, and
// how progress looks on a terminal and in a log.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TestSupport.h"

using testsupport::runCommand;
using testsupport::shellQuote;
using testsupport::TempDir;

namespace {

std::string exe() { return shellQuote(testsupport::executablePath()); }
std::string sample(const std::string& name) { return testsupport::sourceDir() + "/data/samples/" + name; }

// A folder holding copies of the bundled damaged movies and their reference.
struct Card {
  TempDir dir;
  Card() {
    for (const char* name : {"damaged.mp4", "reference.mp4", "damaged.avi"})
      std::filesystem::copy_file(sample(name), dir.file(name));
  }
  std::string file(const std::string& name) const { return dir.file(name); }
  std::string repair(const std::string& arguments) const {
    return "cd " + shellQuote(dir.path()) + " && " + exe() + " repair " + arguments;
  }
};

TEST(CommandLine, NeverWritesOverItsInputsAndReplacesOtherFilesOnlyWhenForced) {
  Card card;
  std::filesystem::create_symlink(card.file("damaged.mp4"), card.file("link.mp4"));
  std::filesystem::create_hard_link(card.file("reference.mp4"), card.file("hard.mp4"));
  testsupport::writeFile(card.file("mine.mp4"), {1, 2, 3});
  std::filesystem::create_directory(card.file("here"));
  struct Case {
    std::string arguments;
    int exitCode;
    std::string says;
  } cases[] = {
      {"damaged.mp4 --reference reference.mp4 --output damaged.mp4", 2, "damaged file itself"},
      {"damaged.mp4 --reference reference.mp4 --output link.mp4", 2, "damaged file itself"},
      {"damaged.mp4 --reference reference.mp4 --output reference.mp4", 2, "reference movie"},
      {"damaged.mp4 --reference reference.mp4 --output hard.mp4", 2, "reference movie"},
      {"damaged.avi --output-dir .", 2, "damaged file itself"},
      {"damaged.mp4 --reference reference.mp4 --output mine.mp4", 2, "add --force"},
      {"damaged.mp4 --reference hard.mp4 --output-dir . --force", 2, "damaged file itself"},
      {"damaged.mp4 --reference reference.mp4 --output here/damaged.mp4 --json", 0, "\"repaired\""},
      {"damaged.mp4 --reference reference.mp4 --output mine.mp4 --force", 0, "Repaired movie written"},
  };
  for (const Case& c : cases) {
    auto r = runCommand(card.repair(c.arguments));
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.arguments << "\n" << r.output;
  }
  // The refused runs left every input as it was; only the forced one replaced the user's file.
  EXPECT_EQ(testsupport::readFile(card.file("damaged.mp4")), testsupport::readFile(sample("damaged.mp4")));
  EXPECT_EQ(testsupport::readFile(card.file("hard.mp4")), testsupport::readFile(sample("reference.mp4")));
  EXPECT_EQ(testsupport::readFile(card.file("damaged.avi")), testsupport::readFile(sample("damaged.avi")));
  EXPECT_GT(testsupport::readFile(card.file("mine.mp4")).size(), 1000u);
  EXPECT_TRUE(std::filesystem::exists(card.file("here/damaged.mp4")));
}

TEST(CommandLine, BatchRepairsEachFileIntoTheFolderAndExitsWithTheWorstStatus) {
  Card card;
  std::filesystem::create_directory(card.file("out"));
  std::filesystem::create_directory(card.file("other"));
  std::filesystem::copy_file(sample("damaged.avi"), card.file("other/damaged.avi"));
  testsupport::writeFile(card.file("broken.mov"), std::vector<uint8_t>(4096, 7));
  auto r =
      runCommand(card.repair("damaged.mp4 damaged.avi broken.mov other/damaged.avi --reference reference.mp4 "
                             "--output-dir out 2>/dev/null"));
  EXPECT_EQ(r.exitCode, 1) << r.output;  // an engine error outranks a refused name
  EXPECT_NE(r.output.find("damaged.mp4"), std::string::npos) << r.output;
  for (const char* row : {"repaired              100      189", "error", "refused"})
    EXPECT_NE(r.output.find(row), std::string::npos) << row << "\n" << r.output;
  EXPECT_TRUE(std::filesystem::exists(card.file("out/damaged.mp4")));
  EXPECT_TRUE(std::filesystem::exists(card.file("out/damaged.avi")));
  EXPECT_FALSE(std::filesystem::exists(card.file("out/broken.mov")));
  // The second damaged.avi would have replaced the first one's repair.
  EXPECT_EQ(testsupport::readFile(card.file("other/damaged.avi")), testsupport::readFile(sample("damaged.avi")));

  r = runCommand(card.repair("damaged.mp4 damaged.avi --output out/x.mp4"));
  EXPECT_EQ(r.exitCode, 2) << r.output;
}

TEST(CommandLine, AviDetailsComeFromItsHeadersAndChunks) {
  Card card;
  auto r = runCommand(card.repair("damaged.avi --output out.avi"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  // 25 fps in the stream header; 118 video chunks survive; 16-bit PCM.
  for (const char* line : {"fps:          25.00\n", "duration:     0:0:4\n", "audio format: PCM\n"})
    EXPECT_NE(r.output.find(line), std::string::npos) << line << r.output;
  EXPECT_EQ(r.output.find("audio:        \n"), std::string::npos) << r.output;
}

TEST(CommandLine, ProgressIsOneLineOnATerminalPlainLinesInALogAndNothingWhenQuiet) {
  if (!testsupport::haveProgram("script")) GTEST_SKIP() << "script(1) is needed for a pseudo-terminal";
  Card card;
  const std::string args = "damaged.mp4 --reference reference.mp4 --output-dir out ";
  std::filesystem::create_directory(card.file("out"));
  // script(1) gives the repair a real pseudo-terminal as its standard error.
  auto onTerminal = runCommand("cd " + shellQuote(card.dir.path()) + " && script -qec " +
                               shellQuote(exe() + " repair " + args + ">/dev/null") + " /dev/null");
  EXPECT_EQ(onTerminal.exitCode, 0) << onTerminal.output;
  EXPECT_NE(onTerminal.output.find("\r\033[K"), std::string::npos) << onTerminal.output;
  EXPECT_NE(onTerminal.output.find(" MB/s  0:0"), std::string::npos) << onTerminal.output;
  EXPECT_EQ(onTerminal.output.find("  25%\n"), std::string::npos) << onTerminal.output;

  auto inLog = runCommand(card.repair(args + "--force 2>&1 >/dev/null | cat"));
  EXPECT_EQ(inLog.exitCode, 0) << inLog.output;
  EXPECT_EQ(inLog.output.find('\r'), std::string::npos) << inLog.output;
  EXPECT_NE(inLog.output.find("%\n"), std::string::npos) << inLog.output;

  auto quiet = runCommand(card.repair(args + "--force --quiet"));
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.output, "");
  auto quietFailure = runCommand(card.repair(args + "--quiet"));
  EXPECT_EQ(quietFailure.exitCode, 2);
  EXPECT_NE(quietFailure.output.find("add --force"), std::string::npos) << quietFailure.output;
}

}  // namespace
