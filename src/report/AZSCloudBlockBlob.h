#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Error.h"
#include "report/AZSAccessCondition.h"
#include "report/AZSBlockListItem.h"
#include "report/AZSCloudBlob.h"
#include "report/AZSRequestOptions.h"
#include "report/azs/Stream.h"

class AZSOperationContext;

// A blob stored as a list of blocks. Operations return at once; their handler runs once, on a
// background thread.
class AZSCloudBlockBlob : public AZSCloudBlob {
 public:
  using ErrorHandler = std::function<void(std::optional<qvr::Error> error)>;

  // No request is made.
  static std::shared_ptr<AZSCloudBlockBlob> initWithContainer(std::shared_ptr<AZSCloudBlobContainer> container,
                                                              const std::string& blobName);

  void uploadBlockFromData(std::vector<uint8_t> data, const std::string& blockID, ErrorHandler completionHandler);
  void uploadBlockFromData(std::vector<uint8_t> data, const std::string& blockID, std::optional<std::string> contentMD5,
                           std::shared_ptr<AZSAccessCondition> accessCondition,
                           std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                           std::shared_ptr<AZSOperationContext> operationContext, ErrorHandler completionHandler);

  void uploadBlockListFromArray(std::vector<AZSBlockListItem> blockList, ErrorHandler completionHandler);
  void uploadBlockListFromArray(std::vector<AZSBlockListItem> blockList,
                                std::shared_ptr<AZSAccessCondition> accessCondition,
                                std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                std::shared_ptr<AZSOperationContext> operationContext, ErrorHandler completionHandler);

  // The text's UTF-8 bytes, uploaded as a stream; the handler runs on the upload's own thread.
  void uploadFromText(const std::string& textToUpload, ErrorHandler completionHandler);
  void uploadFromText(const std::string& textToUpload, std::shared_ptr<AZSAccessCondition> accessCondition,
                      std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                      std::shared_ptr<AZSOperationContext> operationContext, ErrorHandler completionHandler);

  // Reads the stream in blocks of 4 MiB, uploads them (at most `parallelismFactor` at a time) and commits
  // the block list, all on a thread of its own. A failed block or a stream error ends the upload
  // without committing anything, and the handler gets that error.
  void uploadFromStream(std::shared_ptr<qvr::azs::InputStream> sourceStream,
                        std::shared_ptr<AZSAccessCondition> accessCondition,
                        std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                        std::shared_ptr<AZSOperationContext> operationContext, ErrorHandler completionHandler);

 private:
  AZSCloudBlockBlob() = default;
};
