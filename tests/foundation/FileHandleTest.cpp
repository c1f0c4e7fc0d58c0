#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
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
  for (bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "in place" : "buffered");
    auto h = ReadHandle::open(dir.file("a"));
    BufferedReader reader(*h, 4096, inPlace);
    // Every offset, forwards, across many refills.
    for (uint64_t off = 0; off < bytes.size() + 60; off += 13) {
      const uint8_t* w = reader.window(off, 50);
      for (size_t i = 0; i < 50; ++i) {
        uint8_t expected = off + i < bytes.size() ? bytes[off + i] : 0;
        ASSERT_EQ(w[i], expected) << "offset " << off << " index " << i;
      }
    }
    // Leaps far ahead (short reads), then byte by byte across the short read's end and past EOF.
    auto big = pattern(600000);
    testsupport::writeFile(dir.file("b"), big);
    auto hb = ReadHandle::open(dir.file("b"));
    BufferedReader leaper(*hb, 1u << 18, inPlace);
    for (uint64_t off : {uint64_t{0}, uint64_t{200000}, uint64_t{450000}, uint64_t{599990}}) {
      for (uint64_t at = off; at < off + 20000; at += 7) {
        const uint8_t* w = leaper.window(at, 50);
        for (size_t i = 0; i < 50; ++i) {
          ASSERT_EQ(w[i], at + i < big.size() ? big[at + i] : 0) << "offset " << at << " index " << i;
        }
      }
    }
    // Going back refills.
    EXPECT_EQ(reader.window(3, 1)[0], bytes[3]);
    EXPECT_FALSE(reader.readFailed());
    EXPECT_EQ(h->mapping() != nullptr, inPlace);
  }
}

// A mapped file that shrinks under the reader would end the process on the first read of a page
// past its new end; such windows have to come from the buffer instead.
TEST(BufferedReader, InPlaceSurvivesAFileThatShrinks) {
  TempDir dir;
  auto bytes = pattern(1u << 20);
  testsupport::writeFile(dir.file("a"), bytes);
  auto h = ReadHandle::open(dir.file("a"));
  BufferedReader reader(*h, 64u << 10, true);
  EXPECT_EQ(reader.window(1000, 100)[0], bytes[1000]);
  ASSERT_EQ(::truncate(dir.file("a").c_str(), 300000), 0);
  for (uint64_t off = 0; off + 4096 <= bytes.size(); off += 4096) {
    const uint8_t* w = reader.window(off, 4096);
    const uint8_t expected = off < 300000 ? bytes[off] : 0;
    ASSERT_EQ(w[0], expected) << off;
  }
  EXPECT_TRUE(reader.readFailed());
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

namespace {
// What copyFrom must append: the source's bytes where it has them, zeros past its end.
std::vector<uint8_t> slice(const std::vector<uint8_t>& source, uint64_t offset, uint64_t length) {
  std::vector<uint8_t> out(length, 0);
  for (uint64_t i = 0; i < length && offset + i < source.size(); ++i) out[i] = source[offset + i];
  return out;
}

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

// Copies mixed with buffered writes and a patch land in order, whichever way the bytes travel:
// inside the kernel (same file system), through memory (source on another file system) or
// gathered from a mapping.
void checkCopies(const std::string& sourcePath, const std::string& target, bool mapped) {
  const auto source = pattern(11u << 20);
  testsupport::writeFile(sourcePath, source);
  auto in = ReadHandle::open(sourcePath);
  ASSERT_NE(in, nullptr);
  if (mapped) {
    ASSERT_NE(in->map(), nullptr);
  }
  auto w = WriteHandle::create(target);
  ASSERT_NE(w, nullptr);
  std::vector<uint8_t> expected;
  auto copy = [&](uint64_t offset, uint64_t length, uint64_t supplied) {
    uint64_t got = 99;
    ASSERT_TRUE(w->copyFrom(*in, offset, length, &got));
    EXPECT_EQ(got, supplied) << offset;
    append(expected, slice(source, offset, length));
    EXPECT_EQ(w->offset(), expected.size());
  };
  const auto head = pattern(1000);
  ASSERT_TRUE(w->write(head));  // still buffered when the first copy comes
  append(expected, head);
  copy(5, 3, 3);
  copy(100, 9u << 20, 9u << 20);  // larger than the write buffer
  ASSERT_TRUE(w->write(pattern(7)));
  append(expected, pattern(7));
  copy(source.size() - 10, 100000, 10);  // the cut-off end of a recording reads as zeros
  copy(source.size() + 5, 70000, 0);
  copy(0, 0, 0);
  copy(12345, 1, 1);
  // Many small pieces, some past the end, as one call: more than one gathered write's worth.
  std::vector<WriteHandle::Range> ranges;
  uint64_t suppliedByRanges = 0;
  for (uint64_t i = 0; i < 3000; ++i) {
    const uint64_t offset = (i * 7919 * 13) % (source.size() + 20000);
    const uint64_t length = 1 + i % 5000;
    ranges.push_back({offset, length});
    append(expected, slice(source, offset, length));
    suppliedByRanges += offset < source.size() ? std::min<uint64_t>(length, source.size() - offset) : 0;
  }
  uint64_t got = 0;
  ASSERT_TRUE(w->copyFrom(*in, ranges, &got));
  EXPECT_EQ(got, suppliedByRanges);
  EXPECT_EQ(w->offset(), expected.size());
  const uint8_t patch[3] = {0xAA, 0xBB, 0xCC};
  ASSERT_TRUE(w->writeAt(1001, patch, 3));
  std::copy(patch, patch + 3, expected.begin() + 1001);
  ASSERT_TRUE(w->commit());
  EXPECT_EQ(testsupport::readFile(target), expected);
}
}  // namespace

TEST(WriteHandleCopy, SameFileSystemAndAcrossFileSystems) {
  TempDir dir;
  {
    SCOPED_TRACE("same file system");
    checkCopies(dir.file("source"), dir.file("out"), false);
  }
  {
    SCOPED_TRACE("mapped source");
    checkCopies(dir.file("source"), dir.file("out3"), true);
  }
  if (fs::isWritable("/dev/shm/x")) {
    SCOPED_TRACE("source on another file system");
    std::string shm = "/dev/shm/qvr-copy-test-" + std::to_string(::getpid());
    checkCopies(shm, dir.file("out2"), false);
    ::unlink(shm.c_str());
  }
}

TEST(WriteHandleCopy, SourceShorterThanWhenOpenedAndPseudoFiles) {
  TempDir dir;
  const auto source = pattern(300000);
  auto expected = slice(source, 150000, 50000);
  expected.resize(100000, 0);
  uint64_t got = 0;
  for (bool mapped : {false, true}) {
    SCOPED_TRACE(mapped ? "mapped" : "not mapped");
    testsupport::writeFile(dir.file("source"), source);
    auto in = ReadHandle::open(dir.file("source"));
    if (mapped) {
      ASSERT_NE(in->map(), nullptr);
    }
    ASSERT_EQ(::truncate(dir.file("source").c_str(), 200000), 0);  // shrinks behind the handle's back
    auto w = WriteHandle::create(dir.file("out"));
    ASSERT_TRUE(w->copyFrom(*in, std::vector<WriteHandle::Range>{{150000, 100000}}, &got));
    // Through a mapping, the zeros after the new end in its last page are taken as the file's.
    EXPECT_LE(got - 50000u, mapped ? 4095u : 0u) << got;
    ASSERT_TRUE(w->commit());
    EXPECT_EQ(testsupport::readFile(dir.file("out")), expected);
  }

  // Files of the kernel's own file systems state a size their contents do not have.
  const std::string pseudo = "/sys/kernel/mm/transparent_hugepage/enabled";
  auto sys = ReadHandle::open(pseudo);
  if (!sys) GTEST_SKIP() << pseudo;
  std::vector<uint8_t> text(sys->size());
  text.resize(sys->readAt(0, text.data(), text.size()));
  ASSERT_FALSE(text.empty());
  auto w2 = WriteHandle::create(dir.file("out2"));
  ASSERT_TRUE(w2->copyFrom(*sys, 0, sys->size() + 10, &got));
  EXPECT_EQ(got, text.size());
  ASSERT_TRUE(w2->commit());
  EXPECT_EQ(testsupport::readFile(dir.file("out2")), slice(text, 0, sys->size() + 10));
}

TEST(WriteHandle, WriteAndCopyFailuresAreReported) {
  TempDir dir;
  testsupport::writeFile(dir.file("source"), pattern(1u << 20));
  auto in = ReadHandle::open(dir.file("source"));
  std::vector<std::string> lines;
  auto previous = setLogSink([&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(WriteHandle::create("/nonexistent-folder/x.mov"), nullptr);
  {
    // A full disk in the middle of an in-kernel copy: past the file size limit copies fail (EFBIG).
    auto w = WriteHandle::create(dir.file("out"));
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{300000, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool copied = w->copyFrom(*in, 0, 1u << 20);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(copied);
    EXPECT_TRUE(w->failed());
    EXPECT_FALSE(w->copyFrom(*in, 0, 10));  // a failed handle stays failed
    EXPECT_FALSE(w->commit());
  }
  if (fs::fileExists("/dev/full")) {
    // Buffered bytes that cannot land fail the commit; a device takes no kernel copy, and the copy
    // through memory meets the full disk. Either way the device is never removed as a partial file.
    for (bool copy : {false, true}) {
      SCOPED_TRACE(copy ? "copy" : "write");
      auto w = WriteHandle::create("/dev/full", false);
      ASSERT_NE(w, nullptr);
      if (copy) {
        EXPECT_FALSE(w->copyFrom(*in, 0, 100000));
        EXPECT_TRUE(w->failed());
        w->discard();
      } else {
        w->write(pattern(100));
        EXPECT_FALSE(w->commit());
        EXPECT_TRUE(w->failed());
      }
      EXPECT_TRUE(fs::fileExists("/dev/full"));
    }
  }
  setLogSink(previous);
  EXPECT_FALSE(lines.empty());
  EXPECT_FALSE(fs::fileExists(dir.file("out")));
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
