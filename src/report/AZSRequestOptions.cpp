#include "report/AZSRequestOptions.h"

std::shared_ptr<AZSBlobRequestOptions> AZSBlobRequestOptions::copyOptions(
    const std::shared_ptr<AZSBlobRequestOptions>& given, const std::shared_ptr<AZSBlobRequestOptions>& defaults) {
  auto options = given ? std::make_shared<AZSBlobRequestOptions>(*given) : std::make_shared<AZSBlobRequestOptions>();
  if (!defaults) return options;
  // The caller's own choice for this operation wins over the client's defaults.
  options->serverTimeout.fillFrom(defaults->serverTimeout);
  options->maximumDownloadBufferSize.fillFrom(defaults->maximumDownloadBufferSize);
  options->maximumExecutionTime.fillFrom(defaults->maximumExecutionTime);
  options->useTransactionalMD5.fillFrom(defaults->useTransactionalMD5);
  options->storeBlobContentMD5.fillFrom(defaults->storeBlobContentMD5);
  options->disableContentMD5Validation.fillFrom(defaults->disableContentMD5Validation);
  options->parallelismFactor.fillFrom(defaults->parallelismFactor);
  if (!options->operationExpiryTime) {
    options->operationExpiryTime =
        std::chrono::system_clock::now() + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                               std::chrono::duration<double>(options->maximumExecutionTime.value()));
  }
  return options;
}
