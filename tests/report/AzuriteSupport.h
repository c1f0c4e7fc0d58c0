#pragma once
// For the suites that talk to the storage emulator, which the CTest fixture "azurite" starts
// (scripts/azurite-start) and whose address it leaves in its state folder.
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "report/AZSCloudBlobClient.h"
#include "report/AZSOperationContext.h"
#include "report/AZSRequestFactory.h"
#include "report/AZSSharedKeyBlobAuthenticationHandler.h"

namespace reporttest {

inline std::string emulatorEndpoint() {
  if (const char* env = std::getenv("QVR_AZURITE_ENDPOINT"); env && *env) return env;
  std::ifstream in(std::string(QVR_AZURITE_STATE_DIR) + "/endpoint");
  std::string line;
  std::getline(in, line);
  return line;
}

// A blob's bytes as the emulator holds them, through a signed GET of our own.
inline std::optional<std::vector<uint8_t>> readBack(const AZSCloudBlobClient& client,
                                                    const qvr::azs::UrlComponents& url) {
  auto request = AZSRequestFactory::getRequestWithUrlComponents(url, 30);
  AZSSharedKeyBlobAuthenticationHandler signer(client.credentials);
  AZSOperationContext ctx;
  if (signer.signRequest(request, ctx)) return std::nullopt;
  auto out = qvr::azs::performHttpRequest(request, 30, 64u << 20, [](const qvr::azs::HttpResponse&) {});
  if (out.transportFailed || !out.response || out.response->statusCode != 200) return std::nullopt;
  return out.body;
}

}  // namespace reporttest
