// The blob client against the storage emulator, which checks Shared Key signatures for real.
#include <gtest/gtest.h>

#include "report/AZSBlobUploadHelper.h"
#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudBlobContainer.h"
#include "report/AZSCloudBlockBlob.h"
#include "report/AZSCloudStorageAccount.h"
#include "report/AZSErrors.h"
#include "report/AZSOperationContext.h"
#include "report/AzuriteSupport.h"
#include "report/ReportTestSupport.h"
#include "report/azs/Crypto.h"
#include "support/TestSupport.h"

using namespace reporttest;

namespace {

std::string hexUuid() {
  std::string hex;
  for (char c : qvr::azs::uuidString())
    if (c != '-') hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return hex;
}

class Azurite : public ::testing::Test {
 protected:
  void SetUp() override {
    endpoint_ = emulatorEndpoint();
    ASSERT_FALSE(endpoint_.empty()) << "the emulator is not running; run through ctest (fixture azurite)";
    account_ = AZSCloudStorageAccount::accountFromConnectionString(devConnectionString(endpoint_));
    ASSERT_TRUE(account_);
    client_ = account_->getBlobClient();
  }

  static std::string uniqueName(const std::string& prefix) { return prefix + hexUuid().substr(0, 20); }

  std::shared_ptr<AZSCloudBlobContainer> newContainer(int64_t accessType = 0) {
    auto container = client_->containerReferenceFromName(uniqueName("qvr"));
    auto error = run([&](auto h) { container->createContainerWithAccessType(accessType, nullptr, nullptr, h); });
    EXPECT_FALSE(error) << error->toString();
    return container;
  }

  std::optional<std::vector<uint8_t>> readBack(const AZSCloudBlockBlob& blob) {
    return reporttest::readBack(*client_, *blob.storageUri.primaryUri);
  }

  std::string endpoint_;
  std::shared_ptr<AZSCloudStorageAccount> account_;
  std::shared_ptr<AZSCloudBlobClient> client_;
};

// Block IDs of the kind the report upload makes: Base64 of 32 lower-case hex digits, with padding.
std::string reportBlockID() { return qvr::azs::base64Encode(hexUuid()); }

}  // namespace

TEST_F(Azurite, CreateIfNotExistsCreatesOnceAndDeleteRemoves) {
  auto container = client_->containerReferenceFromName(uniqueName("qvr"));
  auto methods = std::make_shared<std::vector<std::string>>();
  auto ctx = std::make_shared<AZSOperationContext>();
  ctx->sendingRequest = [methods](qvr::azs::HttpRequest& r, AZSOperationContext&) { methods->push_back(r.method); };

  Completion<ErrorBoolResult> first;
  container->createContainerIfNotExistsWithAccessType(0, nullptr, ctx, pairHandler(first));
  auto r1 = first.wait();
  ASSERT_TRUE(r1);
  ASSERT_FALSE(r1->first) << r1->first->toString();
  EXPECT_TRUE(r1->second);
  EXPECT_EQ(*methods, std::vector<std::string>({"HEAD", "PUT"}));
  EXPECT_FALSE(container->properties.eTag.empty());

  methods->clear();
  Completion<ErrorBoolResult> second;
  container->createContainerIfNotExistsWithAccessType(0, nullptr, ctx, pairHandler(second));
  auto r2 = second.wait();
  ASSERT_TRUE(r2);
  EXPECT_FALSE(r2->first);
  EXPECT_FALSE(r2->second);
  EXPECT_EQ(*methods, std::vector<std::string>({"HEAD"}));

  EXPECT_FALSE(run([&](auto h) { container->deleteContainerWithCompletionHandler(h); }));
  Completion<ErrorBoolResult> exists;
  container->existsWithAccessCondition(nullptr, nullptr, nullptr, pairHandler(exists));
  auto e = exists.wait();
  ASSERT_TRUE(e);
  EXPECT_FALSE(e->first);
  EXPECT_FALSE(e->second);

  auto again = run([&](auto h) { container->deleteContainerWithCompletionHandler(h); });
  ASSERT_TRUE(again);
  EXPECT_EQ(again->code, AZSEServerError);
  EXPECT_EQ(statusOf(*again), 404);
  EXPECT_EQ(again->stringFor("Code"), "ContainerNotFound");
}

TEST_F(Azurite, BlocksAndBlockListMakeTheBlob) {
  auto container = newContainer();
  auto blob = container->blockBlobReferenceFromName("clip (1).mov");
  std::vector<uint8_t> data((2 << 20) + 1);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  // As the report upload sends a file: 1 MiB blocks, the last one shorter.
  std::vector<AZSBlockListItem> items;
  for (size_t offset = 0; offset < data.size(); offset += 1 << 20) {
    size_t end = std::min(data.size(), offset + (1 << 20));
    std::string id = reportBlockID();
    items.push_back(AZSBlockListItem::initWithBlockID(id, 0, static_cast<int64_t>(id.size())));
    std::vector<uint8_t> block(data.begin() + static_cast<long>(offset), data.begin() + static_cast<long>(end));
    auto error = run([&](auto h) { blob->uploadBlockFromData(block, id, h); });
    ASSERT_FALSE(error) << error->toString();
  }
  auto commit = run([&](auto h) { blob->uploadBlockListFromArray(items, h); });
  ASSERT_FALSE(commit) << commit->toString();
  EXPECT_FALSE(blob->properties.eTag.empty());
  EXPECT_EQ(readBack(*blob), data);
  EXPECT_EQ(blob->storageUri.primaryUri->string(), endpoint_ + "/" + container->name + "/clip%20%281%29.mov");

  // Any Base64 block ID is safe in the query, "+" and "/" included.
  auto general = container->blockBlobReferenceFromName("general.bin");
  std::vector<AZSBlockListItem> generalItems = {AZSBlockListItem::initWithBlockID("QUJ+Lw==", 0, 2),
                                                AZSBlockListItem::initWithBlockID("QUJ/Kw==", 0, 2)};
  for (const auto& item : generalItems) {
    auto error = run([&](auto h) { general->uploadBlockFromData({'a', 'b'}, item.blockID, h); });
    ASSERT_FALSE(error) << error->toString();
  }
  ASSERT_FALSE(run([&](auto h) { general->uploadBlockListFromArray(generalItems, h); }));
  EXPECT_EQ(readBack(*general), std::vector<uint8_t>({'a', 'b', 'a', 'b'}));

  // A 0-byte file goes as one empty block.
  auto empty = container->blockBlobReferenceFromName("empty.mov");
  std::string id = reportBlockID();
  auto put = run([&](auto h) { empty->uploadBlockFromData({}, id, h); });
  ASSERT_FALSE(put) << put->toString();
  ASSERT_FALSE(run([&](auto h) { empty->uploadBlockListFromArray({AZSBlockListItem::initWithBlockID(id, 0, 0)}, h); }));
  EXPECT_EQ(readBack(*empty), std::vector<uint8_t>());
  run([&](auto h) { container->deleteContainerWithCompletionHandler(h); });
}

TEST_F(Azurite, TextAndStreamUploadsRoundTrip) {
  auto container = newContainer();
  auto email = container->blockBlobReferenceFromName("email.txt");
  auto error = run([&](auto h) { email->uploadFromText("user@example.com", h); });
  ASSERT_FALSE(error) << error->toString();
  std::string text = "user@example.com";
  EXPECT_EQ(readBack(*email), std::vector<uint8_t>(text.begin(), text.end()));

  auto blank = container->blockBlobReferenceFromName("blank.txt");
  error = run([&](auto h) { blank->uploadFromText("", h); });
  ASSERT_FALSE(error) << error->toString();
  EXPECT_EQ(readBack(*blank), std::vector<uint8_t>());

  // Several 4 MiB blocks in flight at once still come back in order.
  std::vector<uint8_t> data((9 << 20) + 123);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i >> 12) ^ i);
  auto big = container->blockBlobReferenceFromName("big.bin");
  error = run([&](auto h) {
    big->uploadFromStream(std::make_shared<qvr::azs::MemoryInputStream>(data), nullptr, nullptr, nullptr, h);
  });
  ASSERT_FALSE(error) << error->toString();
  EXPECT_EQ(readBack(*big), data);
  run([&](auto h) { container->deleteContainerWithCompletionHandler(h); });
}

TEST_F(Azurite, PublicBlobContainerServesPlainRequests) {
  auto container = newContainer(AZSContainerPublicAccessTypeBlob);
  auto blob = container->blockBlobReferenceFromName("note.txt");
  ASSERT_FALSE(run([&](auto h) { blob->uploadFromText("hello from the report", h); }));
  auto out = testsupport::runCommand("curl -s --max-time 20 " +
                                     testsupport::shellQuote(blob->storageUri.primaryUri->string()));
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.output, "hello from the report");
  run([&](auto h) { container->deleteContainerWithCompletionHandler(h); });
}

TEST_F(Azurite, WrongKeyIsRefusedWith403) {
  auto badAccount = AZSCloudStorageAccount::accountFromConnectionString(
      devConnectionString(endpoint_, qvr::azs::base64Encode(std::string(64, 'k'))));
  ASSERT_TRUE(badAccount);
  auto container = badAccount->getBlobClient()->containerReferenceFromName(uniqueName("qvr"));
  auto methods = std::make_shared<std::vector<std::string>>();
  auto ctx = std::make_shared<AZSOperationContext>();
  ctx->sendingRequest = [methods](qvr::azs::HttpRequest& r, AZSOperationContext&) { methods->push_back(r.method); };
  Completion<ErrorBoolResult> create;
  container->createContainerIfNotExistsWithAccessType(0, nullptr, ctx, pairHandler(create));
  auto r = create.wait();
  ASSERT_TRUE(r && r->first);
  EXPECT_EQ(r->first->domain, AZSErrorDomain);
  EXPECT_EQ(r->first->code, AZSEServerError);
  EXPECT_EQ(statusOf(*r->first), 403);
  EXPECT_FALSE(r->second);
  EXPECT_EQ(*methods, std::vector<std::string>({"HEAD"}));

  // A request with a body in its answer also carries the service's code and message.
  auto refused = run([&](auto h) { container->deleteContainerWithCompletionHandler(h); });
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->code, AZSEServerError);
  EXPECT_EQ(statusOf(*refused), 403);
  EXPECT_EQ(refused->stringFor("Code"), "AuthorizationFailure");
  EXPECT_FALSE(refused->stringFor("Message").empty());
}
