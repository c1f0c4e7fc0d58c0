#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvr {

// A file opened read-only, read with absolute seeks and bounded reads.
class ReadHandle {
 public:
  // None when the file cannot be opened for reading.
  static std::unique_ptr<ReadHandle> open(const std::string& path);
  ~ReadHandle();
  ReadHandle(const ReadHandle&) = delete;
  ReadHandle& operator=(const ReadHandle&) = delete;

  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }

  // Position for the next read(); false (and logged) when the seek fails.
  bool seek(uint64_t offset);
  uint64_t offset() const { return offset_; }
  // Up to `length` bytes from the current position: a read past the end returns what exists,
  // a failed read returns nothing and is logged.
  std::vector<uint8_t> read(size_t length);
  // Reads into `dst` at an absolute offset without moving the position; returns the count read
  // (short at the end of the file, 0 on failure).
  size_t readAt(uint64_t offset, uint8_t* dst, size_t length);

 private:
  ReadHandle(int fd, uint64_t size, std::string path);
  int fd_;
  uint64_t size_;
  uint64_t offset_ = 0;
  std::string path_;
};

// Forward window reader for the engines' scans: a window at any offset without a system call
// per offset. Windows past the end of the file are zero-filled. Moving backwards works but
// refills the buffer.
class BufferedReader {
 public:
  static constexpr size_t kDefaultBufferSize = 8u << 20;
  explicit BufferedReader(ReadHandle& handle, size_t bufferSize = kDefaultBufferSize);

  // Pointer to `length` bytes starting at `offset` (length <= bufferSize / 2); valid until the
  // next call. Bytes past the end of the file read as zero.
  const uint8_t* window(uint64_t offset, size_t length);
  // True when the last refill hit a read error (the bytes concerned read as zero).
  bool readFailed() const { return readFailed_; }
  uint64_t fileSize() const { return handle_.size(); }

 private:
  void fill(uint64_t offset);
  ReadHandle& handle_;
  std::vector<uint8_t> buffer_;
  uint64_t bufferStart_ = 0;
  size_t bufferValid_ = 0;  // bytes of buffer_ that hold file data or zero fill
  bool readFailed_ = false;
};

// A file written from the start. Every failed write is reported (false) and remembered.
// With `atomicReplace`, bytes go to a temporary file next to the target that commit() renames
// into place, so the target never holds a partial file; without commit() the temporary goes.
class WriteHandle {
 public:
  static std::unique_ptr<WriteHandle> create(const std::string& path, bool atomicReplace = true);
  ~WriteHandle();
  WriteHandle(const WriteHandle&) = delete;
  WriteHandle& operator=(const WriteHandle&) = delete;

  bool write(const uint8_t* data, size_t length);
  bool write(const std::vector<uint8_t>& data) { return write(data.data(), data.size()); }
  // Overwrites bytes already written (used to patch sizes); does not move the append position.
  bool writeAt(uint64_t offset, const uint8_t* data, size_t length);
  // Bytes appended so far (the next write's offset).
  uint64_t offset() const { return offset_; }
  bool failed() const { return failed_; }
  // Flushes, syncs and (for atomic handles) renames into place. False on any earlier failure.
  bool commit();
  // Removes the temporary (or, without atomic replace, the partial file).
  void discard();
  const std::string& path() const { return path_; }
  const std::string& writingPath() const { return tempPath_; }

 private:
  WriteHandle(int fd, std::string path, std::string tempPath);
  bool flushBuffer();
  bool appendToFile(const uint8_t* data, size_t length);
  int fd_;
  std::string path_;
  std::string tempPath_;
  std::vector<uint8_t> buffer_;
  uint64_t offset_ = 0;
  uint64_t written_ = 0;  // bytes handed to the file so far
  bool failed_ = false;
  bool done_ = false;
};

}  // namespace qvr
