#include "foundation/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/Log.h"

namespace qvr {

namespace {
constexpr size_t kWriteBufferSize = 4u << 20;

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
}  // namespace

// ---- ReadHandle ----

ReadHandle::ReadHandle(int fd, uint64_t size, std::string path) : fd_(fd), size_(size), path_(std::move(path)) {}

ReadHandle::~ReadHandle() {
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

// ---- BufferedReader ----

BufferedReader::BufferedReader(ReadHandle& handle, size_t bufferSize)
    : handle_(handle), buffer_(std::max<size_t>(bufferSize, 4096)) {}

void BufferedReader::fill(uint64_t offset) {
  bufferStart_ = offset;
  size_t n = handle_.readAt(offset, buffer_.data(), buffer_.size());
  uint64_t expected = offset < handle_.size() ? std::min<uint64_t>(buffer_.size(), handle_.size() - offset) : 0;
  if (n < expected) readFailed_ = true;
  std::memset(buffer_.data() + n, 0, buffer_.size() - n);
  bufferValid_ = buffer_.size();
}

const uint8_t* BufferedReader::window(uint64_t offset, size_t length) {
  if (length > buffer_.size() / 2) length = buffer_.size() / 2;
  if (offset < bufferStart_ || offset + length > bufferStart_ + bufferValid_) fill(offset);
  return buffer_.data() + (offset - bufferStart_);
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
  return std::unique_ptr<WriteHandle>(new WriteHandle(fd, path, target));
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
  // Start write-back of what has just landed, so the one sync at the end finds little left to do
  // and the page cache never fills with a whole movie's dirty pages.
  ::sync_file_range(fd_, static_cast<off_t>(written_), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
  written_ += length;
  return true;
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

bool WriteHandle::writeAt(uint64_t offset, const uint8_t* data, size_t length) {
  if (failed_ || done_) return false;
  if (!flushBuffer()) return false;
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      log("Write error in %s: %s", tempPath_.c_str(), std::strerror(errno));
      failed_ = true;
      return false;
    }
    done += static_cast<size_t>(n);
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
    ::unlink(tempPath_.c_str());
  }
  done_ = true;
  return ok;
}

void WriteHandle::discard() {
  if (done_) return;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(tempPath_.c_str());
  done_ = true;
}

}  // namespace qvr
