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

  // Maps the whole file read-only so that it can be scanned and copied in place, without copies
  // into this process (the pages stay the page cache's; they count as resident while mapped).
  // None when the file cannot be mapped. Repeated calls return the same mapping.
  const uint8_t* map();
  const uint8_t* mapping() const { return map_; }
  // Makes the mapped pages of a range present, reading them from the file where needed. Only
  // after this succeeded may the range be read through the mapping: a page that cannot be read
  // there would end the process (SIGBUS) instead of failing one read. False on a read error, a
  // range beyond the end of the file as it is now, or no mapping.
  bool makePresent(uint64_t offset, uint64_t length);

 private:
  friend class WriteHandle;  // copies between the two files inside the kernel
  ReadHandle(int fd, uint64_t size, std::string path);
  int fd_;
  uint64_t size_;
  uint64_t offset_ = 0;
  std::string path_;
  const uint8_t* map_ = nullptr;
  bool mapTried_ = false;
};

// Forward window reader for the engines' scans: a window at any offset without a system call
// per offset. Windows past the end of the file are zero-filled. Moving backwards works but
// refills the buffer.
//
// `inPlace` reads windows straight from the file's mapping (ReadHandle::map()), made present
// `bufferSize` bytes at a time; windows it cannot serve that way (the end of the file, pages
// that cannot be read, no mapping) come from the buffer as before.
class BufferedReader {
 public:
  static constexpr size_t kDefaultBufferSize = 8u << 20;
  explicit BufferedReader(ReadHandle& handle, size_t bufferSize = kDefaultBufferSize);
  BufferedReader(ReadHandle& handle, size_t bufferSize, bool inPlace);

  // Pointer to `length` bytes starting at `offset` (length <= bufferSize / 2); valid until the
  // next call. Bytes past the end of the file read as zero.
  const uint8_t* window(uint64_t offset, size_t length);
  // True when the last refill hit a read error (the bytes concerned read as zero).
  bool readFailed() const { return readFailed_; }
  uint64_t fileSize() const { return handle_.size(); }

 private:
  static constexpr uint64_t kLeap = 16u << 10;
  static constexpr size_t kShortFill = 16u << 10;
  void fill(uint64_t offset, size_t amount);
  const uint8_t* inPlaceWindow(uint64_t offset, size_t length);
  ReadHandle& handle_;
  size_t bufferSize_;
  std::vector<uint8_t> buffer_;  // made on first use: in place, most scans never need it
  const uint8_t* map_ = nullptr;
  uint64_t presentStart_ = 0;  // mapped pages made present, [start, end)
  uint64_t presentEnd_ = 0;
  uint64_t bufferStart_ = 0;
  size_t bufferValid_ = 0;  // bytes of buffer_ that hold file data or zero fill
  bool readFailed_ = false;
  uint64_t lastWindow_ = 0;
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
  // Appends `length` bytes of `source` starting at `offset`. Bytes the source cannot supply (past
  // its end, or unreadable) are appended as zeros, so whatever follows keeps its place; `supplied`
  // (if given) receives how many came from the source (from a mapped source that shrank meanwhile,
  // the zeros of its new last page count as supplied). False on a write failure, like write().
  // The bytes go from the source's mapping when it has one, else are copied inside the kernel
  // where the two files allow it, else through memory.
  bool copyFrom(ReadHandle& source, uint64_t offset, uint64_t length, uint64_t* supplied = nullptr);
  struct Range {
    uint64_t offset = 0;
    uint64_t length = 0;
  };
  // The same for several ranges appended in order; from a mapped source they are gathered into
  // few system calls, which for many small pieces costs far less than one copy each.
  bool copyFrom(ReadHandle& source, const std::vector<Range>& ranges, uint64_t* supplied = nullptr);
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
  struct Piece;
  bool writeGathered(const std::vector<Piece>& pieces, uint64_t& shortfall);
  uint64_t copyInKernel(ReadHandle& source, uint64_t offset, uint64_t length);
  uint64_t copyThroughMemory(ReadHandle& source, uint64_t offset, uint64_t length);
  void startWriteBack();
  void removePartial();
  int fd_;
  std::string path_;
  std::string tempPath_;
  std::vector<uint8_t> buffer_;
  uint64_t offset_ = 0;
  uint64_t written_ = 0;        // bytes handed to the file so far
  uint64_t writeBackFrom_ = 0;  // start of the written bytes whose write-back is not yet started
  bool copyInKernelWorks_ = true;
  bool isRegularFile_ = true;
  bool failed_ = false;
  bool done_ = false;
};

}  // namespace qvr
