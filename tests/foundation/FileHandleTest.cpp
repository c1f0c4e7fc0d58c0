#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <numeric>

#include "foundation/ByteOrder.h"
#include "foundation/FileHandle.h"
#include "foundation/FileSystem.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

using namespace qvr;
using testsupport::TempDir;

namespace {
std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return v;
}
}  // namespace

TEST(ReadHandle, BoundedReadsAndMissingFiles) {
  TempDir dir;
  auto bytes = pattern(1000);
  testsupport::writeFile(dir.file("a"), bytes);
  EXPECT_EQ(ReadHandle::open(dir.file("missing")), nullptr);
  EXPECT_EQ(ReadHandle::open(dir.path()), nullptr);

  auto h = ReadHandle::open(dir.file("a"));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->size(), 1000u);
  h->seek(990);
  auto tail = h->read(50);  // past the end: what exists
  ASSERT_EQ(tail.size(), 10u);
  EXPECT_EQ(tail[0], bytes[990]);
  EXPECT_TRUE(h->read(5).empty());
  h->seek(5000);
  EXPECT_TRUE(h->read(5).empty());
}

TEST(BufferedReader, WindowsMatchFileAndZeroFillPastEnd) {
  TempDir dir;
  auto bytes = pattern(100000);
  testsupport::writeFile(dir.file("a"), bytes);
  auto h = ReadHandle::open(dir.file("a"));
  BufferedReader reader(*h, 4096);
  // Every offset, forwards, across many refills.
  for (uint64_t off = 0; off < bytes.size() + 60; off += 13) {
    const uint8_t* w = reader.window(off, 50);
    for (size_t i = 0; i < 50; ++i) {
      uint8_t expected = off + i < bytes.size() ? bytes[off + i] : 0;
      ASSERT_EQ(w[i], expected) << "offset " << off << " index " << i;
    }
  }
  // Going back refills.
  EXPECT_EQ(reader.window(3, 1)[0], bytes[3]);
  EXPECT_FALSE(reader.readFailed());
}

TEST(WriteHandle, AtomicReplaceOnlyOnCommit) {
  TempDir dir;
  std::string target = dir.file("out.mov");
  {
    auto w = WriteHandle::create(target);
    ASSERT_NE(w, nullptr);
    auto big = pattern(9u << 20);  // larger than the write buffer
    EXPECT_TRUE(w->write(big));
    EXPECT_TRUE(w->write(pattern(10)));
    EXPECT_EQ(w->offset(), big.size() + 10);
    EXPECT_FALSE(fs::fileExists(target));  // never a half file under the final name
  }                                        // abandoned: the temporary goes too
  EXPECT_FALSE(fs::fileExists(target));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  auto w = WriteHandle::create(target);
  std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(w->write(data));
  uint8_t patch[2] = {9, 9};
  ASSERT_TRUE(w->writeAt(2, patch, 2));
  ASSERT_TRUE(w->commit());
  EXPECT_EQ(testsupport::readFile(target), (std::vector<uint8_t>{1, 2, 9, 9, 5, 6, 7, 8}));
}

TEST(WriteHandle, FailuresAreReported) {
  std::vector<std::string> lines;
  auto previous = setLogSink([&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(WriteHandle::create("/nonexistent-folder/x.mov"), nullptr);
  if (fs::fileExists("/dev/full")) {
    auto w = WriteHandle::create("/dev/full", false);
    ASSERT_NE(w, nullptr);
    w->write(pattern(100));
    EXPECT_FALSE(w->commit());  // the buffered bytes cannot land
    EXPECT_TRUE(w->failed());
  }
  setLogSink(previous);
  EXPECT_FALSE(lines.empty());
}

TEST(FileSystem, QueriesAndPaths) {
  TempDir dir;
  testsupport::writeFile(dir.file("Movie.MP4"), pattern(3));
  EXPECT_EQ(fs::fileSize(dir.file("Movie.MP4")), 3u);
  EXPECT_FALSE(fs::fileSize(dir.path()).has_value());
  EXPECT_EQ(fs::extensionLower(dir.file("Movie.MP4")), "mp4");
  EXPECT_EQ(fs::extensionLower("/a/b"), "");
  EXPECT_TRUE(fs::isReadableFile(dir.file("Movie.MP4")));
  EXPECT_FALSE(fs::isReadableFile(dir.path()));
  EXPECT_TRUE(fs::isWritable(dir.file("new")));
  EXPECT_TRUE(fs::createDirectories(dir.file("x/y/z")));
  EXPECT_TRUE(fs::freeSpace(dir.path()).value_or(0) > 0);
  EXPECT_EQ(fs::parentPath("/a/b/c.mov"), "/a/b");
}

TEST(ByteOrder, RoundTrips) {
  std::vector<uint8_t> out;
  putBE32(out, 0x01020304);
  putLE32(out, 0x01020304);
  putBE64(out, 0x1122334455667788ull);
  EXPECT_EQ(readBE32(out.data()), 0x01020304u);
  EXPECT_EQ(out[4], 0x04);
  EXPECT_EQ(readLE32(out.data() + 4), 0x01020304u);
  EXPECT_EQ(readBE64(out.data() + 8), 0x1122334455667788ull);
}
