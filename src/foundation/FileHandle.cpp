#include "foundation/FileHandle.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/Log.h"

namespace qvr {

namespace {
constexpr size_t kWriteBufferSize = 4u << 20;
// Write-back is started in steps of this size, not per write or copy.
constexpr uint64_t kWriteBackStep = 4u << 20;
// A gathered write from a mapping takes up to this many bytes or IOV_MAX pieces.
constexpr size_t kGatherBytes = 4u << 20;
constexpr size_t kGatherPieces = IOV_MAX;
// Unmapped sources: ranges shorter than this are read into the write buffer, longer ones copied
// inside the kernel, whose cost per call outweighs the copy it saves below about this size.
constexpr uint64_t kSmallCopy = 64u << 10;
// Written in place of bytes a source cannot supply.
const uint8_t kZeros[64u << 10] = {};

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22  // Linux 5.14
#endif

uint64_t pageSize() {
  static const uint64_t size = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

size_t preadFully(int fd, uint8_t* dst, size_t length, uint64_t offset, bool& failed) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, dst + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      failed = true;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool writeFully(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool pwriteFully(int fd, const uint8_t* data, size_t length, uint64_t offset) {
  while (length > 0) {
    ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

// ---- ReadHandle ----

ReadHandle::ReadHandle(int fd, uint64_t size, std::string path) : fd_(fd), size_(size), path_(std::move(path)) {}

ReadHandle::~ReadHandle() {
  if (map_) ::munmap(const_cast<uint8_t*>(map_), static_cast<size_t>(size_));
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<ReadHandle> ReadHandle::open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<ReadHandle>(new ReadHandle(fd, static_cast<uint64_t>(st.st_size), path));
}

bool ReadHandle::seek(uint64_t offset) {
  offset_ = offset;
  return true;
}

std::vector<uint8_t> ReadHandle::read(size_t length) {
  if (offset_ >= size_) return {};
  length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset_));
  std::vector<uint8_t> out(length);
  bool failed = false;
  size_t n = preadFully(fd_, out.data(), length, offset_, failed);
  if (failed) {
    log("Read error in %s at %llu: %s", path_.c_str(), static_cast<unsigned long long>(offset_), std::strerror(errno));
    return {};
  }
  out.resize(n);
  offset_ += n;
  return out;
}

size_t ReadHandle::readAt(uint64_t offset, uint8_t* dst, size_t length) {
  if (offset >= size_) return 0;
  length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
  bool failed = false;
  size_t n = preadFully(fd_, dst, length, offset, failed);
  if (failed) {
    log("Read error in %s at %llu: %s", path_.c_str(), static_cast<unsigned long long>(offset), std::strerror(errno));
    return 0;
  }
  return n;
}

const uint8_t* ReadHandle::map() {
  if (mapTried_) return map_;
  mapTried_ = true;
  if (size_ == 0 || size_ > SIZE_MAX) return nullptr;
  void* p = ::mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_SHARED, fd_, 0);
  if (p == MAP_FAILED) return nullptr;
  map_ = static_cast<const uint8_t*>(p);
  // Without a kernel that can make pages present and say when it cannot, reading a mapping is
  // not safe; everything then takes the ways that do without one.
  if (!makePresent(0, std::min<uint64_t>(size_, pageSize()))) {
    ::munmap(p, static_cast<size_t>(size_));
    map_ = nullptr;
  }
  return map_;
}

bool ReadHandle::makePresent(uint64_t offset, uint64_t length) {
  if (!map_ || offset > size_ || length > size_ - offset) return false;
  if (length == 0) return true;
  const uint64_t start = offset - offset % pageSize();
  int rc;
  do {
    rc =
        ::madvise(const_cast<uint8_t*>(map_) + start, static_cast<size_t>(offset + length - start), MADV_POPULATE_READ);
  } while (rc != 0 && (errno == EINTR || errno == EAGAIN));
  return rc == 0;
}

// ---- BufferedReader ----

BufferedReader::BufferedReader(ReadHandle& handle, size_t bufferSize) : BufferedReader(handle, bufferSize, false) {}

BufferedReader::BufferedReader(ReadHandle& handle, size_t bufferSize, bool inPlace)
    : handle_(handle), bufferSize_(std::max<size_t>(bufferSize, 4096)) {
  if (inPlace) map_ = handle.map();
  if (!map_) buffer_.resize(bufferSize_);
}

void BufferedReader::fill(uint64_t offset, size_t amount) {
  if (buffer_.empty()) buffer_.resize(bufferSize_);
  amount = std::min(amount, buffer_.size());
  bufferStart_ = offset;
  size_t n = handle_.readAt(offset, buffer_.data(), amount);
  uint64_t expected = offset < handle_.size() ? std::min<uint64_t>(amount, handle_.size() - offset) : 0;
  if (n < expected) readFailed_ = true;
  std::memset(buffer_.data() + n, 0, amount - n);
  bufferValid_ = amount;
}

const uint8_t* BufferedReader::window(uint64_t offset, size_t length) {
  if (length > bufferSize_ / 2) length = bufferSize_ / 2;
  if (map_) {
    if (const uint8_t* inPlace = inPlaceWindow(offset, length)) return inPlace;
  }
  if (buffer_.empty() || offset < bufferStart_ || offset + length > bufferStart_ + bufferValid_) {
    // A reader that leaps ahead (from one video unit to the next, say) or back (to the start of a
    // run it cut short) would use a few bytes of a full buffer: it gets a short read; one that
    // moves on byte by byte, or a span at a time, gets the full buffer.
    const bool leaping = offset > lastWindow_ + kLeap || offset + kLeap < lastWindow_;
    fill(offset, leaping ? std::max<size_t>(kShortFill, 2 * length) : bufferSize_);
  }
  lastWindow_ = offset;
  return buffer_.data() + (offset - bufferStart_);
}

// Null when the window has to come from the buffer: it reaches past the end of the file (which
// reads as zeros), or some of its pages cannot be read (the buffer's read then reports it).
const uint8_t* BufferedReader::inPlaceWindow(uint64_t offset, size_t length) {
  const uint64_t size = handle_.size();
  if (offset > size || length > size - offset) return nullptr;
  if (offset < presentStart_ || offset + length > presentEnd_) {
    // A buffer's worth ahead at a time, as a refill would read.
    const uint64_t end = std::min(size, offset + std::max<uint64_t>(bufferSize_, length));
    const bool continues = offset >= presentStart_ && offset <= presentEnd_ && presentEnd_ > 0;
    const uint64_t from = continues ? presentEnd_ : offset;
    if (!handle_.makePresent(from, end - from)) {
      presentStart_ = presentEnd_ = 0;
      return nullptr;
    }
    if (!continues) presentStart_ = offset;
    presentEnd_ = end;
  }
  return map_ + offset;
}

// ---- WriteHandle ----

WriteHandle::WriteHandle(int fd, std::string path, std::string tempPath)
    : fd_(fd), path_(std::move(path)), tempPath_(std::move(tempPath)) {
  buffer_.reserve(kWriteBufferSize);
}

std::unique_ptr<WriteHandle> WriteHandle::create(const std::string& path, bool atomicReplace) {
  std::string target = atomicReplace ? path + ".partial-" + std::to_string(::getpid()) : path;
  int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    log("Cannot create %s: %s", target.c_str(), std::strerror(errno));
    return nullptr;
  }
  auto handle = std::unique_ptr<WriteHandle>(new WriteHandle(fd, path, target));
  struct stat st {};
  handle->isRegularFile_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  return handle;
}

WriteHandle::~WriteHandle() {
  if (!done_) discard();
}

bool WriteHandle::appendToFile(const uint8_t* data, size_t length) {
  if (!writeFully(fd_, data, length)) {
    log("Write error in %s: %s", tempPath_.c_str(), std::strerror(errno));
    failed_ = true;
    return false;
  }
  written_ += length;
  startWriteBack();
  return true;
}

// Starts write-back of what has landed, so the one sync at the end finds little left to do and
// the page cache never fills with a whole movie's dirty pages.
void WriteHandle::startWriteBack() {
  if (written_ - writeBackFrom_ < kWriteBackStep) return;
  ::sync_file_range(fd_, static_cast<off_t>(writeBackFrom_), static_cast<off_t>(written_ - writeBackFrom_),
                    SYNC_FILE_RANGE_WRITE);
  writeBackFrom_ = written_;
}

bool WriteHandle::flushBuffer() {
  if (buffer_.empty()) return !failed_;
  if (!failed_) appendToFile(buffer_.data(), buffer_.size());
  buffer_.clear();
  return !failed_;
}

bool WriteHandle::write(const uint8_t* data, size_t length) {
  if (failed_ || done_) return false;
  offset_ += length;
  if (buffer_.size() + length > kWriteBufferSize) {
    if (!flushBuffer()) return false;
    if (length >= kWriteBufferSize) return appendToFile(data, length);
  }
  buffer_.insert(buffer_.end(), data, data + length);
  return true;
}

struct WriteHandle::Piece {
  const uint8_t* data;
  size_t length;
  ReadHandle* source;  // none: zeros
  uint64_t offset;     // in the source
};

bool WriteHandle::copyFrom(ReadHandle& source, uint64_t offset, uint64_t length, uint64_t* supplied) {
  return copyFrom(source, std::vector<Range>{{offset, length}}, supplied);
}

bool WriteHandle::copyFrom(ReadHandle& source, const std::vector<Range>& ranges, uint64_t* supplied) {
  if (supplied) *supplied = 0;
  if (failed_ || done_) return false;
  if (!flushBuffer()) return false;
  const uint8_t* map = source.mapping();
  uint64_t got = 0;
  uint64_t shortfall = 0;
  std::vector<Piece> pieces;
  size_t pending = 0;
  auto flush = [&] {
    const bool ok = pieces.empty() || writeGathered(pieces, shortfall);
    pieces.clear();
    pending = 0;
    return ok;
  };
  auto add = [&](const uint8_t* data, uint64_t length, ReadHandle* from, uint64_t at) {
    while (length > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(length, from ? kGatherBytes : sizeof kZeros));
      pieces.push_back({data, n, from, at});
      pending += n;
      length -= n;
      if (from) {
        data += n;
        at += n;
      }
      if ((pieces.size() >= kGatherPieces || pending >= kGatherBytes) && !flush()) return false;
    }
    return true;
  };

  for (const Range& range : ranges) {
    const uint64_t available = range.offset < source.size() ? std::min(range.length, source.size() - range.offset) : 0;
    uint64_t copied = available;
    if (map && available > 0) {
      if (!add(map + range.offset, available, &source, range.offset)) return false;
    } else if (available > 0 && available < kSmallCopy) {
      // Small pieces gather in the write buffer: a kernel copy each would cost more.
      if (!flush()) return false;
      if (buffer_.size() + available > kWriteBufferSize && !flushBuffer()) return false;
      const size_t at = buffer_.size();
      buffer_.resize(at + static_cast<size_t>(available));
      copied = source.readAt(range.offset, buffer_.data() + at, static_cast<size_t>(available));
      buffer_.resize(at + static_cast<size_t>(copied));
    } else if (available > 0) {
      if (!flush() || !flushBuffer()) return false;
      copied = copyInKernel(source, range.offset, available);
      if (copied < available && !failed_)
        copied += copyThroughMemory(source, range.offset + copied, available - copied);
      if (failed_) return false;
    }
    got += copied;
    if (!add(kZeros, range.length - copied, nullptr, 0)) return false;
  }
  if (!flush() || !flushBuffer()) return false;
  offset_ = written_;
  if (supplied) *supplied = got - shortfall;
  return true;
}

// One write of many pieces. Whatever it leaves (a source page that cannot be read, or a write
// that fails) goes on piece by piece through memory, which tells the two apart: the first ends as
// zeros (counted in `shortfall`), the second as a failure.
bool WriteHandle::writeGathered(const std::vector<Piece>& pieces, uint64_t& shortfall) {
  if (!flushBuffer()) return false;  // bytes gathered there come first
  std::vector<iovec> iov(pieces.size());
  for (size_t i = 0; i < pieces.size(); ++i) iov[i] = {const_cast<uint8_t*>(pieces[i].data), pieces[i].length};
  size_t first = 0;
  while (first < iov.size()) {
    const int count = static_cast<int>(std::min<size_t>(iov.size() - first, kGatherPieces));
    ssize_t n = ::writev(fd_, &iov[first], count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written_ += static_cast<uint64_t>(n);
    for (size_t left = static_cast<size_t>(n); left > 0 && first < iov.size();) {
      if (left >= iov[first].iov_len) {
        left -= iov[first].iov_len;
        ++first;
      } else {
        iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + left;
        iov[first].iov_len -= left;
        left = 0;
      }
    }
  }
  startWriteBack();
  for (; first < iov.size() && !failed_; ++first) {
    const Piece& piece = pieces[first];
    const uint64_t rest = iov[first].iov_len;
    const uint64_t copied =
        piece.source ? copyThroughMemory(*piece.source, piece.offset + (piece.length - rest), rest) : 0;
    if (copied < rest && piece.source && !failed_) {
      log("Read error in %s: %llu bytes at %llu written as zeros", piece.source->path().c_str(),
          static_cast<unsigned long long>(rest - copied),
          static_cast<unsigned long long>(piece.offset + piece.length - rest + copied));
      shortfall += rest - copied;
    }
    for (uint64_t zeros = rest - copied; zeros > 0 && !failed_;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(zeros, sizeof kZeros));
      appendToFile(kZeros, n);
      zeros -= n;
    }
  }
  return !failed_;
}

// Bytes copied from the page cache to the page cache without passing through this process. Stops
// early, leaving the rest to the copy through memory, where the files do not allow it (another
// file system, a pseudo file, a pipe) or on an error, which that copy then meets and reports.
uint64_t WriteHandle::copyInKernel(ReadHandle& source, uint64_t offset, uint64_t length) {
  uint64_t done = 0;
  while (copyInKernelWorks_ && done < length) {
    loff_t from = static_cast<loff_t>(offset + done);
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(length - done, 1u << 30));
    // Appends at the file's position, as write() does.
    ssize_t n = ::copy_file_range(source.fd_, &from, fd_, nullptr, piece, 0);
    if (n > 0) {
      done += static_cast<uint64_t>(n);
      written_ += static_cast<uint64_t>(n);
      startWriteBack();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // These say the pair of files cannot be copied this way at all; other errors may be passing.
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)) {
      copyInKernelWorks_ = false;
    }
    break;  // 0: a pseudo file that reads as empty here, or a source that shrank
  }
  return done;
}

// Returns the bytes copied; a failed write is remembered in failed_, a failed read logged.
uint64_t WriteHandle::copyThroughMemory(ReadHandle& source, uint64_t offset, uint64_t length) {
  std::vector<uint8_t> piece(static_cast<size_t>(std::min<uint64_t>(length, kWriteBufferSize)));
  uint64_t done = 0;
  while (done < length) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length - done, piece.size()));
    const size_t n = source.readAt(offset + done, piece.data(), want);
    if (n == 0 || !appendToFile(piece.data(), n)) break;
    done += n;
  }
  return done;
}

bool WriteHandle::writeAt(uint64_t offset, const uint8_t* data, size_t length) {
  if (failed_ || done_) return false;
  if (!flushBuffer()) return false;
  if (!pwriteFully(fd_, data, length, offset)) {
    log("Write error in %s: %s", tempPath_.c_str(), std::strerror(errno));
    failed_ = true;
    return false;
  }
  return true;
}

bool WriteHandle::commit() {
  if (done_) return false;
  bool ok = flushBuffer();
  if (ok && ::fsync(fd_) != 0) {
    log("Sync error in %s: %s", tempPath_.c_str(), std::strerror(errno));
    ok = false;
  }
  if (::close(fd_) != 0 && ok) {
    log("Close error in %s: %s", tempPath_.c_str(), std::strerror(errno));
    ok = false;
  }
  fd_ = -1;
  if (ok && tempPath_ != path_ && ::rename(tempPath_.c_str(), path_.c_str()) != 0) {
    log("Cannot rename %s to %s: %s", tempPath_.c_str(), path_.c_str(), std::strerror(errno));
    ok = false;
  }
  if (!ok) {
    failed_ = true;
    removePartial();
  }
  done_ = true;
  return ok;
}

// Only a file of our own making goes: written straight to a device (a chosen output of /dev/null,
// say), the name is the device's, and removing it would take the device away from everyone.
void WriteHandle::removePartial() {
  if (isRegularFile_) ::unlink(tempPath_.c_str());
}

void WriteHandle::discard() {
  if (done_) return;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  removePartial();
  done_ = true;
}

}  // namespace qvr
