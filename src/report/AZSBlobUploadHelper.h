#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "foundation/Error.h"
#include "report/AZSAccessCondition.h"
#include "report/AZSBlockListItem.h"
#include "report/AZSRequestOptions.h"
#include "report/azs/Crypto.h"
#include "report/azs/Stream.h"

class AZSCloudBlockBlob;
class AZSOperationContext;

// The stream upload of a block blob: cuts the stream into blocks, keeps a bounded number of block
// uploads in flight, then commits the list of blocks.
class AZSBlobUploadHelper : public std::enable_shared_from_this<AZSBlobUploadHelper> {
 public:
  static constexpr size_t kBlockSize = 4194304;
  static constexpr size_t kReadSize = 1024;

  AZSBlobUploadHelper(std::shared_ptr<AZSCloudBlockBlob> blob, std::shared_ptr<AZSAccessCondition> accessCondition,
                      std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                      std::shared_ptr<AZSOperationContext> operationContext,
                      std::function<void(std::optional<qvr::Error>)> completionHandler);

  // The whole upload on the calling thread; ends by calling the handler once.
  void run(qvr::azs::InputStream* stream);

  // "blockid" and a new UUID without "-", lower-cased, Base64-encoded.
  static std::string newBlockID();

 private:
  std::optional<qvr::Error> upload(qvr::azs::InputStream* stream);
  void uploadBuffer();
  bool waitForFreeSlot();
  void waitForAllBlocks();

  std::shared_ptr<AZSCloudBlockBlob> blob_;
  std::shared_ptr<AZSAccessCondition> accessCondition_;
  std::shared_ptr<AZSBlobRequestOptions> options_;
  std::shared_ptr<AZSOperationContext> context_;
  std::function<void(std::optional<qvr::Error>)> completionHandler_;
  int64_t parallelism_;

  std::vector<uint8_t> buffer_;
  std::vector<AZSBlockListItem> blockList_;
  qvr::azs::Md5Accumulator md5_;

  std::mutex lock_;  // guards the counts and the streaming error, which block completions update
  std::condition_variable blockFinished_;
  int64_t blocksStarted_ = 0;
  int64_t blocksFinished_ = 0;
  std::optional<qvr::Error> streamingError_;
};
