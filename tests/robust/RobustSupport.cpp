#include "robust/RobustSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "foundation/ByteOrder.h"

namespace robust {

std::vector<Box> childBoxes(const std::vector<uint8_t>& bytes, uint64_t base, uint64_t begin, uint64_t end) {
  std::vector<Box> boxes;
  uint64_t pos = begin;
  while (pos + 8 <= end && pos + 8 <= bytes.size()) {
    Box box;
    box.offset = base + pos;
    box.size = qvr::readBE32(&bytes[pos]);
    box.type.assign(reinterpret_cast<const char*>(&bytes[pos + 4]), 4);
    box.header = 8;
    if (box.size == 1 && pos + 16 <= bytes.size()) {
      box.size = qvr::readBE64(&bytes[pos + 8]);
      box.header = 16;
    }
    if (box.size < box.header || pos + box.size > end) break;
    boxes.push_back(box);
    pos += box.size;
  }
  return boxes;
}

const Box* findBox(const std::vector<Box>& boxes, const std::string& type) {
  for (const Box& box : boxes) {
    if (box.type == type) return &box;
  }
  return nullptr;
}

std::vector<TrackChunks> trackChunks(const std::vector<uint8_t>& moov) {
  std::vector<TrackChunks> tracks;
  if (moov.size() < 8) return tracks;
  const auto inside = [&](const Box& b) { return childBoxes(moov, 0, b.payload(), b.offset + b.size); };
  const auto top = childBoxes(moov, 0, 0, moov.size());
  if (top.empty() || top[0].type != "moov") return tracks;
  for (const Box& trak : inside(top[0])) {
    if (trak.type != "trak") continue;
    const Box* mdia = findBox(inside(trak), "mdia");
    if (mdia == nullptr) continue;
    const auto mdiaKids = inside(*mdia);
    TrackChunks track;
    if (const Box* hdlr = findBox(mdiaKids, "hdlr"); hdlr != nullptr && hdlr->payload() + 12 <= moov.size()) {
      track.handler.assign(reinterpret_cast<const char*>(&moov[hdlr->payload() + 8]), 4);
    }
    const Box* minf = findBox(mdiaKids, "minf");
    const Box* stbl = minf ? findBox(inside(*minf), "stbl") : nullptr;
    if (stbl == nullptr) continue;
    for (const Box& table : inside(*stbl)) {
      if (table.type != "stco" && table.type != "co64") continue;
      track.wide = table.type == "co64";
      const uint64_t count = qvr::readBE32(&moov[table.payload() + 4]);
      const uint64_t width = track.wide ? 8 : 4;
      for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = table.payload() + 8 + i * width;
        if (at + width > table.offset + table.size) break;
        track.offsets.push_back(track.wide ? qvr::readBE64(&moov[at]) : qvr::readBE32(&moov[at]));
      }
    }
    tracks.push_back(std::move(track));
  }
  return tracks;
}

std::vector<uint8_t> readRange(const std::string& path, uint64_t offset, size_t length) {
  std::vector<uint8_t> bytes(length);
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return {};
  size_t got = 0;
  while (got < length) {
    const ssize_t n = ::pread(fd, bytes.data() + got, length - got, static_cast<off_t>(offset + got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  return bytes;
}

std::vector<uint8_t> movieBoxOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  uint64_t pos = 0;
  while (pos + 8 <= fileSize) {
    const auto head = readRange(path, pos, 16);
    if (head.size() < 8) break;
    uint64_t size = qvr::readBE32(head.data());
    if (size == 1 && head.size() == 16) size = qvr::readBE64(head.data() + 8);
    if (size == 0) size = fileSize - pos;
    if (size < 8 || pos + size > fileSize) break;
    if (std::string(reinterpret_cast<const char*>(head.data() + 4), 4) == "moov") {
      return readRange(path, pos, static_cast<size_t>(size));
    }
    pos += size;
  }
  return {};
}

Fingerprint fingerprint(const std::string& path) {
  Fingerprint f;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return f;
  f.size = static_cast<uint64_t>(st.st_size);
  f.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  // FNV-1a over the whole content, read in large pieces.
  uint64_t h = 1469598103934665603ull;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return f;
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) h = (h ^ buffer[size_t(i)]) * 1099511628211ull;
  }
  ::close(fd);
  f.digest = h;
  return f;
}

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  return names;
}

double peakRssMiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

void writeWithHole(const std::string& source, const std::string& path, uint64_t at, uint64_t hole) {
  const int in = ::open(source.c_str(), O_RDONLY);
  const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) throw std::runtime_error("cannot open " + source + " or " + path);
  std::vector<uint8_t> buffer(1 << 20);
  uint64_t from = 0;
  for (;;) {
    const ssize_t n = ::pread(in, buffer.data(), buffer.size(), static_cast<off_t>(from));
    if (n <= 0) break;
    // Bytes before `at` keep their place; the rest move up by the hole, which is never written.
    for (ssize_t i = 0; i < n;) {
      const uint64_t pos = from + uint64_t(i);
      const uint64_t run = pos < at ? std::min<uint64_t>(at - pos, uint64_t(n - i)) : uint64_t(n - i);
      const uint64_t dest = pos < at ? pos : pos + hole;
      if (::pwrite(out, buffer.data() + i, run, static_cast<off_t>(dest)) != ssize_t(run)) {
        throw std::runtime_error("cannot write " + path);
      }
      i += ssize_t(run);
    }
    from += uint64_t(n);
  }
  // A hole at the very end still counts in the file's size.
  if (::ftruncate(out, static_cast<off_t>(std::max(from, at) + hole)) != 0) {
    throw std::runtime_error("cannot size " + path);
  }
  ::close(in);
  ::close(out);
}

}  // namespace robust
