#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <tuple>

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
// What a reader or copy must give: the source's bytes where it has them, zeros past its end.
std::vector<uint8_t> slice(const std::vector<uint8_t>& source, uint64_t offset, uint64_t length) {
  std::vector<uint8_t> out(length, 0);
  for (uint64_t i = 0; i < length && offset + i < source.size(); ++i) out[i] = source[offset + i];
  return out;
}
void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& b) { to.insert(to.end(), b.begin(), b.end()); }
}  // namespace

TEST(ReadHandle, UnreadableInputAndReadsPastTheEnd) {
  TempDir dir;
  const auto bytes = pattern(1000);
  testsupport::writeFile(dir.file("a"), bytes);
  EXPECT_EQ(ReadHandle::open(dir.file("missing")), nullptr);
  EXPECT_EQ(ReadHandle::open(dir.path()), nullptr);
  auto h = ReadHandle::open(dir.file("a"));
  ASSERT_NE(h, nullptr);
  h->seek(990);
  EXPECT_EQ(h->read(50), std::vector<uint8_t>(bytes.begin() + 990, bytes.end()));  // what exists
  EXPECT_TRUE(h->read(5).empty() && h->seek(5000) && h->read(5).empty());
}

TEST(BufferedReader, WindowsMatchTheFileAndZeroFillPastItsEnd) {
  TempDir dir;
  const auto small = pattern(100000), big = pattern(600000);
  testsupport::writeFile(dir.file("small"), small);
  testsupport::writeFile(dir.file("big"), big);
  auto expectWindows = [](BufferedReader& reader, const std::vector<uint8_t>& bytes, uint64_t from, uint64_t step) {
    for (uint64_t at = from; at < from + 20000; at += step) {
      const uint8_t* w = reader.window(at, 50);
      ASSERT_EQ(std::vector<uint8_t>(w, w + 50), slice(bytes, at, 50)) << at;
    }
  };
  for (bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "in place" : "buffered");
    auto h = ReadHandle::open(dir.file("small"));
    BufferedReader reader(*h, 4096, inPlace);
    for (uint64_t from = 0; from <= small.size(); from += 20000) expectWindows(reader, small, from, 13);  // refills
    EXPECT_EQ(reader.window(3, 1)[0], small[3]);                                // going back refills
    EXPECT_TRUE(!reader.readFailed() && (h->mapping() != nullptr) == inPlace);  // and in place when asked
    // Leaps far ahead (short reads), then small steps across the short read's end and past the end.
    auto hb = ReadHandle::open(dir.file("big"));
    BufferedReader leaper(*hb, 1u << 18, inPlace);
    for (uint64_t from : {0, 200000, 450000, 599990}) expectWindows(leaper, big, from, 7);
  }
}

// A mapped file that shrinks under the reader would end the process on the first read of a page
// past its new end; such windows have to come from the buffer instead.
TEST(BufferedReader, InPlaceSurvivesAFileThatShrinks) {
  TempDir dir;
  const auto bytes = pattern(1u << 20);
  testsupport::writeFile(dir.file("a"), bytes);
  auto h = ReadHandle::open(dir.file("a"));
  BufferedReader reader(*h, 64u << 10, true);
  EXPECT_EQ(reader.window(1000, 100)[0], bytes[1000]);
  ASSERT_EQ(::truncate(dir.file("a").c_str(), 300000), 0);
  for (uint64_t at = 0; at + 4096 <= bytes.size(); at += 4096)
    ASSERT_EQ(reader.window(at, 4096)[0], at < 300000 ? bytes[at] : 0);
  EXPECT_TRUE(reader.readFailed());
}

TEST(WriteHandle, AtomicReplaceOnlyOnCommit) {
  TempDir dir;
  const std::string target = dir.file("out.mov");
  {
    auto w = WriteHandle::create(target);
    ASSERT_TRUE(w && w->write(pattern(9u << 20)));  // larger than the write buffer
    EXPECT_FALSE(fs::fileExists(target));           // never a half file under the final name
  }                                                 // abandoned: the temporary goes too
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  auto w = WriteHandle::create(target);
  ASSERT_TRUE(w->write(pattern(10)) && w->commit());
  EXPECT_EQ(testsupport::readFile(target), pattern(10));
}

// Copies mixed with buffered writes and a patch land in order, whichever way the bytes travel:
// inside the kernel (same file system), through memory (source on another file system) or
// gathered from a mapping; what the source cannot supply is zero-filled.
TEST(WriteHandle, CopiesLandInOrderHoweverTheyTravel) {
  TempDir dir;
  const auto source = pattern(11u << 20);
  auto supplies = [&](uint64_t offset, uint64_t length) {
    return offset < source.size() ? std::min<uint64_t>(length, source.size() - offset) : 0;
  };
  const std::string shm = "/dev/shm/qvr-copy-test-" + std::to_string(::getpid());
  const std::pair<std::string, bool> sources[] = {
      {dir.file("source"), false}, {dir.file("source"), true}, {shm, false}};
  for (const auto& [from, mapped] : sources) {
    SCOPED_TRACE(from + (mapped ? " mapped" : ""));
    if (from == shm && !fs::isWritable(shm)) continue;
    testsupport::writeFile(from, source);
    auto in = ReadHandle::open(from);
    ASSERT_TRUE(in && (!mapped || in->map()));
    auto w = WriteHandle::create(dir.file("out"));
    std::vector<uint8_t> expected = pattern(1000);
    ASSERT_TRUE(w->write(expected));  // still buffered when the first copy comes
    auto copy = [&](uint64_t offset, uint64_t length) {
      uint64_t supplied = 99;
      ASSERT_TRUE(w->copyFrom(*in, offset, length, &supplied));
      EXPECT_EQ(supplied, supplies(offset, length)) << offset;
      append(expected, slice(source, offset, length));
    };
    copy(5, 3);
    copy(100, 9u << 20);  // larger than the write buffer
    ASSERT_TRUE(w->write(pattern(7)));
    append(expected, pattern(7));
    copy(source.size() - 10, 100000);  // the cut-off end of a recording reads as zeros
    copy(source.size() + 5, 70000);
    copy(0, 0);
    copy(12345, 1);
    // Many small pieces, some past the end, as one call: more than one gathered write's worth.
    std::vector<WriteHandle::Range> ranges;
    uint64_t supplied = 0, expectedSupplied = 0;
    for (uint64_t i = 0; i < 3000; ++i) {
      ranges.push_back({(i * 7919 * 13) % (source.size() + 20000), 1 + i % 5000});
      append(expected, slice(source, ranges.back().offset, ranges.back().length));
      expectedSupplied += supplies(ranges.back().offset, ranges.back().length);
    }
    ASSERT_TRUE(w->copyFrom(*in, ranges, &supplied));
    EXPECT_EQ(supplied, expectedSupplied);
    EXPECT_EQ(w->offset(), expected.size());
    const uint8_t patch[3] = {0xaa, 0xbb, 0xcc};
    ASSERT_TRUE(w->writeAt(1001, patch, 3));
    std::copy(patch, patch + 3, expected.begin() + 1001);
    ASSERT_TRUE(w->commit());
    EXPECT_EQ(testsupport::readFile(dir.file("out")), expected);
    if (from == shm) ::unlink(shm.c_str());
  }
}

TEST(WriteHandle, CopiesFromASourceShorterThanWhenOpenedAndFromPseudoFiles) {
  TempDir dir;
  const auto source = pattern(300000);
  const auto expected = slice(slice(source, 0, 200000), 150000, 100000);  // what is left, then zeros
  uint64_t got = 0;
  for (bool mapped : {false, true}) {
    SCOPED_TRACE(mapped ? "mapped" : "not mapped");
    testsupport::writeFile(dir.file("source"), source);
    auto in = ReadHandle::open(dir.file("source"));
    ASSERT_TRUE(!mapped || in->map());
    ASSERT_EQ(::truncate(dir.file("source").c_str(), 200000), 0);  // shrinks behind the handle's back
    auto w = WriteHandle::create(dir.file("out"));
    ASSERT_TRUE(w->copyFrom(*in, std::vector<WriteHandle::Range>{{150000, 100000}}, &got));
    // Through a mapping, the zeros after the new end in its last page are taken as the file's.
    EXPECT_LE(got - 50000u, mapped ? 4095u : 0u) << got;
    ASSERT_TRUE(w->commit());
    EXPECT_EQ(testsupport::readFile(dir.file("out")), expected);
  }
  // Files of the kernel's own file systems state a size their contents do not have.
  auto sys = ReadHandle::open("/sys/kernel/mm/transparent_hugepage/enabled");
  if (!sys) GTEST_SKIP() << "no transparent_hugepage setting to read";
  std::vector<uint8_t> text(sys->size());
  text.resize(sys->readAt(0, text.data(), text.size()));
  ASSERT_FALSE(text.empty());
  auto w = WriteHandle::create(dir.file("out2"));
  ASSERT_TRUE(w->copyFrom(*sys, 0, sys->size() + 10, &got));
  EXPECT_EQ(got, text.size());
  ASSERT_TRUE(w->commit());
  EXPECT_EQ(testsupport::readFile(dir.file("out2")), slice(text, 0, sys->size() + 10));
}

// Every failure to write is reported and logged, keeps the handle failed and its commit refused,
// and leaves no partial file behind (yet never removes a device named as the output).
TEST(WriteHandle, WriteFailuresAreReported) {
  TempDir dir;
  testsupport::writeFile(dir.file("source"), pattern(1u << 20));
  auto in = ReadHandle::open(dir.file("source"));
  std::vector<std::string> lines;
  auto previous = setLogSink([&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(WriteHandle::create(dir.file("missing/x.mov")), nullptr);
  const std::tuple<const char*, std::string, bool, rlim_t> cases[] = {
      {"a kernel copy past the file size limit (EFBIG)", dir.file("out"), true, 300000},
      {"buffered bytes that cannot land on a full device", "/dev/full", false, RLIM_INFINITY},
      {"a copy through memory to a full device (a device takes no kernel copy)", "/dev/full", true, RLIM_INFINITY},
  };
  for (const auto& [what, path, copy, sizeLimit] : cases) {
    SCOPED_TRACE(what);
    if (!fs::fileExists(path) && path == "/dev/full") continue;
    auto w = WriteHandle::create(path, path != "/dev/full");
    ASSERT_NE(w, nullptr);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{std::min(sizeLimit, saved.rlim_max), saved.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool done = copy ? w->copyFrom(*in, 0, 1u << 20) : w->write(pattern(100));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_NE(done, copy);                          // a buffered write fails only when the bytes are handed on
    EXPECT_FALSE(copy && w->copyFrom(*in, 0, 10));  // a failed handle stays failed
    EXPECT_FALSE(w->commit());
    EXPECT_TRUE(w->failed());
    EXPECT_EQ(fs::fileExists(path), path == "/dev/full");
  }
  setLogSink(previous);
  EXPECT_FALSE(lines.empty());
}
