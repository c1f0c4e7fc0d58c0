#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

// A field of the request options that remembers whether it was set.
template <typename T>
class AZSOption {
 public:
  explicit AZSOption(T defaultValue) : value_(std::move(defaultValue)) {}
  const T& value() const { return value_; }
  operator const T&() const { return value_; }
  bool isSet() const { return set_; }
  void set(T value) {
    value_ = std::move(value);
    set_ = true;
  }
  // Takes `other`'s value when it was set there and not here.
  void fillFrom(const AZSOption& other) {
    if (!set_ && other.set_) set(other.value_);
  }

 private:
  T value_;
  bool set_ = false;
};

class AZSRequestOptions {
 public:
  virtual ~AZSRequestOptions() = default;

  AZSOption<double> serverTimeout{60.0};                   // seconds, per request
  AZSOption<uint64_t> maximumDownloadBufferSize{1048576};  // bytes of an answer's body kept
  AZSOption<double> maximumExecutionTime{600.0};           // seconds, for the whole operation
  std::optional<std::chrono::system_clock::time_point> operationExpiryTime;
};

class AZSBlobRequestOptions : public AZSRequestOptions {
 public:
  AZSOption<bool> useTransactionalMD5{false};
  AZSOption<bool> storeBlobContentMD5{false};
  AZSOption<bool> disableContentMD5Validation{false};
  AZSOption<int64_t> parallelismFactor{3};

  // The options one operation runs with: a copy of `given` (or defaults). When the client has default
  // options, each field set there and not in `given` is taken from them, and the operation expires
  // after the maximum execution time from now.
  static std::shared_ptr<AZSBlobRequestOptions> copyOptions(const std::shared_ptr<AZSBlobRequestOptions>& given,
                                                            const std::shared_ptr<AZSBlobRequestOptions>& defaults);
};
