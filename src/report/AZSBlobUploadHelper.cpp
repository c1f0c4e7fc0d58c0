#include "report/AZSBlobUploadHelper.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <future>

#include "foundation/Log.h"
#include "report/AZSCloudBlockBlob.h"
#include "report/AZSErrors.h"
#include "report/AZSOperationContext.h"
#include "report/AZSResponseParser.h"

AZSBlobUploadHelper::AZSBlobUploadHelper(std::shared_ptr<AZSCloudBlockBlob> blob,
                                         std::shared_ptr<AZSAccessCondition> accessCondition,
                                         std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                         std::shared_ptr<AZSOperationContext> operationContext,
                                         std::function<void(std::optional<qvr::Error>)> completionHandler)
    : blob_(std::move(blob)),
      accessCondition_(std::move(accessCondition)),
      options_(requestOptions ? std::move(requestOptions) : std::make_shared<AZSBlobRequestOptions>()),
      context_(operationContext ? std::move(operationContext) : std::make_shared<AZSOperationContext>()),
      completionHandler_(std::move(completionHandler)),
      // A factor below one would never let a block go.
      parallelism_(std::max<int64_t>(1, options_->parallelismFactor)) {}

std::string AZSBlobUploadHelper::newBlockID() {
  std::string uuid = qvr::azs::uuidString();
  std::string plain;
  for (char c : uuid) {
    if (c != '-') plain += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return qvr::azs::base64Encode("blockid" + plain);
}

bool AZSBlobUploadHelper::waitForFreeSlot() {
  std::unique_lock lock(lock_);
  while (blocksStarted_ - blocksFinished_ >= parallelism_ && !streamingError_) {
    blockFinished_.wait_for(lock, std::chrono::milliseconds(100));
  }
  return !streamingError_;
}

void AZSBlobUploadHelper::waitForAllBlocks() {
  std::unique_lock lock(lock_);
  while (blocksFinished_ < blocksStarted_) blockFinished_.wait_for(lock, std::chrono::milliseconds(100));
}

void AZSBlobUploadHelper::uploadBuffer() {
  {
    std::lock_guard lock(lock_);
    ++blocksStarted_;
  }
  std::vector<uint8_t> data;
  data.swap(buffer_);
  std::string blockID = newBlockID();
  blockList_.push_back(
      AZSBlockListItem::initWithBlockID(blockID, AZSBlockListModeLatest, static_cast<int64_t>(data.size())));
  auto self = shared_from_this();
  blob_->uploadBlockFromData(std::move(data), blockID, std::nullopt, accessCondition_, options_, context_,
                             [self](std::optional<qvr::Error> error) {
                               std::lock_guard lock(self->lock_);
                               if (error && !self->streamingError_) self->streamingError_ = std::move(error);
                               ++self->blocksFinished_;
                               self->blockFinished_.notify_all();
                             });
}

void AZSBlobUploadHelper::run(qvr::azs::InputStream* stream) {
  std::optional<qvr::Error> error;
  try {
    error = upload(stream);
  } catch (const std::exception& e) {
    // A stream that throws, or memory running out, ends the upload like a stream error.
    waitForAllBlocks();
    qvr::Error inner("qvr.azs.stream", 0, {{"description", e.what()}});
    error = qvr::Error(AZSErrorDomain, AZSEURLSessionError,
                       {{AZSInnerErrorKey, AZSResponseParser::userInfoForInnerError(inner)}});
  }
  try {
    if (stream) stream->close();
  } catch (...) {
  }
  OPENSSL_thread_stop();  // as the executor does: nothing of this thread's crypto state outlives the handler
  try {
    if (completionHandler_) completionHandler_(std::move(error));
  } catch (...) {
    qvr::log("A blob upload completion handler threw an exception");
  }
}

std::optional<qvr::Error> AZSBlobUploadHelper::upload(qvr::azs::InputStream* stream) {
  std::optional<qvr::Error> streamError;
  if (!stream) {
    qvr::Error inner("qvr.azs", 0, {{"description", "There is no stream to upload."}});
    streamError = qvr::Error(AZSErrorDomain, AZSEURLSessionError,
                             {{AZSInnerErrorKey, AZSResponseParser::userInfoForInnerError(inner)}});
  }
  uint8_t chunk[kReadSize];
  while (!streamError) {
    // After a failed block nothing more is read: the upload ends with that block's error.
    if (!waitForFreeSlot()) break;
    long n = stream->read(chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0 || static_cast<size_t>(n) > sizeof chunk) {
      streamError = stream->streamError().value_or(qvr::Error("qvr.azs.stream", 0));
      context_->logAtLevel(2, "Error in stream callback.  Error code = %ld, error domain = %s, error userinfo = %s",
                           static_cast<long>(streamError->code), streamError->domain.c_str(),
                           qvr::UserInfoValue(streamError->userInfo).toString().c_str());
      break;
    }
    md5_.add(chunk, static_cast<size_t>(n));
    buffer_.insert(buffer_.end(), chunk, chunk + n);
    if (buffer_.size() >= kBlockSize) uploadBuffer();
  }

  std::optional<qvr::Error> error = streamError;
  bool blockFailed;
  {
    std::lock_guard lock(lock_);
    blockFailed = streamingError_.has_value();
  }
  // What was read of a broken stream, or after a failed block, is not stored: a committed list would
  // make a blob that looks whole but is not.
  if (!error && !blockFailed && !buffer_.empty()) {
    if (waitForFreeSlot()) uploadBuffer();
  }
  waitForAllBlocks();
  {
    std::lock_guard lock(lock_);
    if (!error) error = streamingError_;
  }

  if (!error) {
    if (options_->storeBlobContentMD5) blob_->properties.contentMD5 = qvr::azs::base64Encode(md5_.finish());
    std::promise<std::optional<qvr::Error>> committed;
    auto done = committed.get_future();
    blob_->uploadBlockListFromArray(
        blockList_, accessCondition_, options_, context_,
        [&committed](std::optional<qvr::Error> commitError) { committed.set_value(std::move(commitError)); });
    error = done.get();
  }
  return error;
}
