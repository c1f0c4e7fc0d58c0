// libs: qvr_report qvr_foundation
#include <cstddef>
#include <cstdint>
#include <string>

#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudStorageAccount.h"

// A storage connection string from the configuration: the account and its blob client.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (auto account = AZSCloudStorageAccount::accountFromConnectionString(text)) {
    // An account is only handed out with a blob address to send requests to.
    if (!account->blob_endpoint.primaryUri) __builtin_trap();
    (void)account->getBlobClient();
  }
  return 0;
}
