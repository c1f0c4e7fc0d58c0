#pragma once

#include <string>

namespace qvr {

// Stands for the desktop's running-application lookup: the first copy holds an advisory lock on
// a file named after the application identifier; the lock goes with the process, however it ends.
class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  enum class Result { Acquired, HeldElsewhere, Unavailable };
  // Unavailable when the lock file cannot be opened: then nobody can tell, and the caller
  // should not refuse to start.
  Result acquire(const std::string& bundleIdentifier);
  void release();
  bool held() const { return fd_ >= 0; }

  // $XDG_RUNTIME_DIR, else /tmp with the user id in the name.
  static std::string lockPathFor(const std::string& bundleIdentifier);

 private:
  int fd_ = -1;
};

}  // namespace qvr
