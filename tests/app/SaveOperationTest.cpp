#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "DesktopTestSupport.h"
#include "app/gui/SaveOperation.h"
#include "foundation/FileSystem.h"
#include "support/TestSupport.h"

namespace apptest {
namespace {

using qvr::SaveOperation;
using Outcome = SaveOperation::Outcome;

// Bytes that differ from chunk to chunk, so that a misplaced or repeated block shows.
std::vector<uint8_t> patterned(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + (i >> 10) * 7) & 0xFF);
  return bytes;
}

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// One copy with its reports collected.
struct CopyRun {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  std::optional<Outcome> outcome;
  std::unique_ptr<SaveOperation> op;

  CopyRun(const std::string& source, const std::string& destination, uint64_t size,
          std::chrono::milliseconds interval = std::chrono::milliseconds(0)) {
    SaveOperation::Callbacks callbacks;
    callbacks.progress = [this](uint64_t chunk, uint64_t count) {
      std::lock_guard<std::mutex> lock(mutex);
      progress.emplace_back(chunk, count);
    };
    callbacks.finished = [this](Outcome result, const std::string&) {
      std::lock_guard<std::mutex> lock(mutex);
      outcome = result;
      changed.notify_all();
    };
    op = std::make_unique<SaveOperation>(source, destination, size, std::move(callbacks), interval);
    op->setPausePoll(std::chrono::milliseconds(10));
  }
  Outcome finish() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(60), [this] { return outcome.has_value(); });
    lock.unlock();
    op->wait();
    return outcome.value_or(Outcome::Cancelled);
  }
};

TEST(SaveNaming, FolderFileAndChunkArithmetic) {
  EXPECT_EQ(qvr::savedFilePathIn("/home/u/Repaired", true), "/home/u/Repaired/repaired.mov");
  EXPECT_EQ(qvr::savedFilePathIn("/home/u/Repaired", false), "/home/u/Repaired/repaired.avi");
  EXPECT_EQ(qvr::saveChunkCount(0), 0u);
  EXPECT_EQ(qvr::saveChunkCount(1), 1u);
  EXPECT_EQ(qvr::saveChunkCount(1024), 1u);
  EXPECT_EQ(qvr::saveChunkCount(1025), 2u);
  EXPECT_EQ(qvr::saveChunkCount(uint64_t{5} << 40), uint64_t{5} << 30);
  EXPECT_EQ(qvr::savePercent(0, 2), 0);
  EXPECT_EQ(qvr::savePercent(1, 2), 50);
  EXPECT_EQ(qvr::savePercent(2, 3), 66);
  // Near the top of the range the product must not wrap.
  EXPECT_EQ(qvr::savePercent((uint64_t{1} << 54) - 1, uint64_t{1} << 54), 99);
}

TEST(SaveCopy, EmptyAndSmallFilesKeepTheChunkCountAndPercentages) {
  testsupport::TempDir dir;
  const std::string empty = dir.file("empty.mov");
  testsupport::writeFile(empty, {});
  CopyRun none(empty, dir.file("out0.mov"), 0);
  ASSERT_TRUE(none.op->start());
  EXPECT_EQ(none.finish(), Outcome::Completed);
  EXPECT_TRUE(none.progress.empty());
  EXPECT_EQ(qvr::fs::fileSize(dir.file("out0.mov")), 0u);

  const std::string small = dir.file("small.mov");
  testsupport::writeFile(small, patterned(1025));
  CopyRun two(small, dir.file("out1.mov"), 1025);
  ASSERT_TRUE(two.op->start());
  EXPECT_EQ(two.op->chunkCount(), 2u);
  EXPECT_EQ(two.finish(), Outcome::Completed);
  ASSERT_EQ(two.progress.size(), 2u);
  EXPECT_EQ(qvr::savePercent(two.progress[0].first, two.progress[0].second), 0);
  EXPECT_EQ(qvr::savePercent(two.progress[1].first, two.progress[1].second), 50);
  EXPECT_EQ(testsupport::readFile(dir.file("out1.mov")), patterned(1025));
}

TEST(SaveCopy, LargeFilesMoveInBlocksButCountEveryChunk) {
  testsupport::TempDir dir;
  const size_t size = 3 * 1024 * 1024 + 5;
  const std::string source = dir.file("big.mov");
  testsupport::writeFile(source, patterned(size));

  CopyRun every(source, dir.file("every.mov"), size);
  ASSERT_TRUE(every.op->start());
  ASSERT_EQ(every.finish(), Outcome::Completed);
  ASSERT_EQ(every.progress.size(), qvr::saveChunkCount(size));
  for (size_t i = 0; i < every.progress.size(); ++i) ASSERT_EQ(every.progress[i].first, i);
  EXPECT_EQ(testsupport::readFile(dir.file("every.mov")), patterned(size));

  // With the screen's limit of ten updates a second, a quick copy reports little.
  const auto began = std::chrono::steady_clock::now();
  CopyRun limited(source, dir.file("limited.mov"), size, std::chrono::milliseconds(100));
  ASSERT_TRUE(limited.op->start());
  ASSERT_EQ(limited.finish(), Outcome::Completed);
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
  ASSERT_FALSE(limited.progress.empty());
  EXPECT_EQ(limited.progress.front().first, 0u);
  EXPECT_LE(limited.progress.size(), static_cast<size_t>(1 + elapsed / 100));
  EXPECT_EQ(testsupport::readFile(dir.file("limited.mov")), patterned(size));
}

TEST(SaveCopy, SavingAgainReplacesTheEarlierCopy) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("a.mov"), patterned(5000));
  testsupport::writeFile(dir.file("out.mov"), std::vector<uint8_t>(90000, 'x'));
  CopyRun run(dir.file("a.mov"), dir.file("out.mov"), 5000);
  ASSERT_TRUE(run.op->start());
  ASSERT_EQ(run.finish(), Outcome::Completed);
  EXPECT_EQ(testsupport::readFile(dir.file("out.mov")), patterned(5000));
  EXPECT_EQ(entriesOf(dir.path()), (std::vector<std::string>{"a.mov", "out.mov"}));
}

TEST(SaveCopy, ReadErrorFailsTheCopyAndRemovesIt) {
  testsupport::TempDir dir;
  const size_t size = 3 * 1024 * 1024;
  std::filesystem::create_directory(dir.file("Repaired"));
  const std::string destination = dir.file("Repaired/repaired.mov");

  // The source shrinks after its size was taken: the missing bytes are a read error.
  testsupport::writeFile(dir.file("a.mov"), patterned(size));
  CopyRun shrunk(dir.file("a.mov"), destination, size);
  shrunk.op->setPaused(true);
  ASSERT_TRUE(shrunk.op->start());
  std::filesystem::resize_file(dir.file("a.mov"), size / 2);
  shrunk.op->setPaused(false);
  EXPECT_EQ(shrunk.finish(), Outcome::Failed);
  EXPECT_TRUE(entriesOf(dir.file("Repaired")).empty());

  // A source that cannot be opened starts nothing.
  CopyRun missing(dir.file("gone.mov"), destination, 10);
  EXPECT_FALSE(missing.op->start());
  EXPECT_FALSE(missing.op->error().empty());
}

TEST(SaveCheck, WritabilitySpaceAndSourceDecideBeforeAnyCopy) {
  testsupport::TempDir dir;
  const std::string source = dir.file("repaired.mov");
  testsupport::writeFile(source, patterned(5000));
  ScriptedDesktop desktop;

  desktop.writable = false;
  EXPECT_EQ(qvr::prepareSaveFolder(desktop, dir.file("NoWrite"), source).check, qvr::SaveCheck::NotWritable);
  EXPECT_FALSE(qvr::fs::fileExists(dir.file("NoWrite"))) << "no folder is made on a read-only volume";

  desktop.writable = true;
  desktop.freeBytes = std::optional<uint64_t>(5000);
  EXPECT_EQ(qvr::prepareSaveFolder(desktop, dir.file("Exact"), source).check, qvr::SaveCheck::NotEnoughSpace);
  EXPECT_TRUE(qvr::fs::isDirectory(dir.file("Exact")));
  EXPECT_TRUE(entriesOf(dir.file("Exact")).empty());
  desktop.freeBytes = std::optional<uint64_t>();
  EXPECT_EQ(qvr::prepareSaveFolder(desktop, dir.file("Unknown"), source).check, qvr::SaveCheck::NotEnoughSpace);

  desktop.freeBytes = std::optional<uint64_t>(5001);
  const qvr::SavePreparation ready = qvr::prepareSaveFolder(desktop, dir.file("Exact"), source);
  EXPECT_EQ(ready.check, qvr::SaveCheck::Ready) << "an existing folder is used as it is";
  EXPECT_EQ(ready.sourceSize, 5000u);
  EXPECT_EQ(qvr::prepareSaveFolder(desktop, dir.file("Other"), dir.file("gone.mov")).check,
            qvr::SaveCheck::SourceMissing);

  // The real desktop: a folder whose parent does not exist cannot be made.
  desktop.freeBytes.reset();
  desktop.writable = true;
  EXPECT_NE(qvr::prepareSaveFolder(desktop, dir.file("no/such/Repaired"), source).check, qvr::SaveCheck::Ready);
}

}  // namespace
}  // namespace apptest
