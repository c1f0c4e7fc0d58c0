// The blob storage client against a scripted local server: the account, the answers and failed
// exchanges, and in one test the client features the report never uses. Signing and the
// requests the report sends are checked by the emulator suite.
#include <gtest/gtest.h>

#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudBlobContainer.h"
#include "report/AZSCloudBlockBlob.h"
#include "report/AZSCloudStorageAccount.h"
#include "report/AZSErrors.h"
#include "report/AZSOperationContext.h"
#include "report/AZSRetryPolicy.h"
#include "report/AZSSharedKeyBlobAuthenticationHandler.h"
#include "report/ErrorReportTestSupport.h"

using namespace reporttest;
using testsupport::LocalHttpServer;

namespace {

struct Answer : LocalHttpServer::Response {
  Answer(int status = 200, std::string body = {}) : Response{status, std::move(body), {}} {}
};
using Script = std::vector<Answer>;

// A storage service that answers request after request from `script`, then with `fallback`.
struct Storage : LocalHttpServer {
  explicit Storage(Script script, Answer fallback = {})
      : LocalHttpServer([script, fallback, next = size_t(0)](const Request&) mutable {
          return next < script.size() ? script[next++] : fallback;
        }) {}
  std::shared_ptr<AZSCloudBlobContainer> container(int port = 0) const {
    std::string endpoint = "http://127.0.0.1:" + std::to_string(port ? port : this->port()) + "/devstoreaccount1";
    return AZSCloudStorageAccount::accountFromConnectionString(devConnectionString(endpoint))
        ->getBlobClient()
        ->containerReferenceFromName("box");
  }
};

}  // namespace

TEST(ConnectionString, AccountAddressKeyAndSigner) {
  const std::string key = ";AccountKey=c2VjcmV0LWtleS1ieXRlcw==";  // "secret-key-bytes": "=" ends only the name
  const std::string cloud = "https://acct.blob.core.windows.net";
  struct Case {
    std::string text, address;  // address "": no account
    std::string key;            // "-": requests go unsigned
  };
  const std::vector<Case> cases = {
      {"DefaultEndpointsProtocol=http;AccountName=acct" + key + ";EndpointSuffix=example.test",
       "http://acct.blob.example.test", "secret-key-bytes"},
      // Anything but exactly "http" means https; no suffix means the public cloud's.
      {"DefaultEndpointsProtocol=HTTP;AccountName=acct" + key, cloud, "secret-key-bytes"},
      {"AccountName=acct" + key + ";BlobEndpoint=http://127.0.0.1:10000/devstoreaccount1",
       "http://127.0.0.1:10000/devstoreaccount1", "secret-key-bytes"},
      // Pieces without "=" are skipped and later pieces win; a key that is no Base64 signs with nothing.
      {";;garbage;AccountName=first;AccountName=acct;novalue;AccountKey=not*base64;;", cloud, ""},
      // A shared access signature travels in the query of every address.
      {"AccountName=acct;SharedAccessSignature=sv=1&sig=abc;BlobEndpoint=https://h.example/",
       "https://h.example/?sv=1&sig=abc", "-"},
      // No blob address can be formed; names are case-sensitive.
      {"", "", ""},
      {"accountname=x" + key, "", ""},
      {"BlobEndpoint=ftp://h.example/x", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto account = AZSCloudStorageAccount::accountFromConnectionString(c.text);
    ASSERT_EQ(account != nullptr, !c.address.empty());
    if (!account) continue;
    EXPECT_EQ(account->storageCredentials->transformWithStorageUri(account->blob_endpoint).primaryUri->string(),
              c.address);
    auto* signer =
        dynamic_cast<AZSSharedKeyBlobAuthenticationHandler*>(account->getBlobClient()->authenticationHandler.get());
    ASSERT_EQ(signer != nullptr, c.key != "-");
    const auto& bytes = account->storageCredentials->accountKey;
    if (signer) {
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.key);
    }
  }
}

TEST(Execution, AnswersAndFailedExchangesEndTheOperationOnAnotherThread) {
  struct Case {
    Script script;  // empty: nothing listens
    int64_t code, status;
  };
  const std::vector<Case> cases = {
      {{{404}, {201}}, 0, -1},
      {{{206}}, 0, -1},
      {{{203}}, AZSEServerError, 203},
      {{{404}, {409, "<?xml version=\"1.0\"?><Error><Code>ContainerAlreadyExists</Code></Error>"}},
       AZSEServerError,
       409},
      // An error body that is no XML, or one with entities: code 6.
      {{{404}, {500, "<html>Bad gateway"}}, AZSEXMLParseError, -1},
      {{{404}, {400, "<!DOCTYPE a [<!ENTITY b \"x\">]><Error>&b;</Error>"}}, AZSEXMLParseError, -1},
      {{{LocalHttpServer::kHangUp}}, AZSEURLSessionError, -1},
      {{}, AZSEURLSessionError, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases.data());
    Storage server(c.script);
    auto container = server.container(c.script.empty() ? LocalHttpServer::closedPort() : 0);
    std::thread::id thread;
    auto r = run(
        [&](auto h) {
          container->createContainerIfNotExistsWithCompletionHandler([h](ErrorResult e, bool) { h(std::move(e)); });
        },
        &thread);
    EXPECT_EQ(r ? r->code : 0, c.code);
    EXPECT_EQ(r ? statusOf(*r) : -1, c.status);
    EXPECT_EQ(server.requests().size(), c.script.size());
    // The report's upload runs in this handler; it must not hold up the caller.
    EXPECT_NE(thread, std::this_thread::get_id());
  }
}

// Not used by the report, which sets no retry policy and no options: a policy repeats only
// retriable failures, up to its limit, after its interval; an operation whose time is up sends
// nothing; a block can carry its own hash.
TEST(UnusedByTheReport, RetryPoliciesAndRequestOptions) {
  enum Option { kNone, kExpired, kBlockMd5 };
  struct Case {
    Script script;
    std::shared_ptr<AZSRetryPolicy> policy;
    Option option;
    size_t requests;
    int64_t outcome;  // the last HTTP status, else minus the error code; 0: success
    double waited;    // seconds at least
  };
  auto linear = AZSRetryPolicyLinear::initWithMaximumAttempts(3, 0.2);
  auto exponential = AZSRetryPolicyExponential::initWithMaximumAttempts(2, 0.1);
  for (const auto& c : std::vector<Case>{{{{503}, {408}, {201}}, linear, kNone, 3, 0, 0.4},
                                         {{{503}, {503}, {201}}, exponential, kNone, 2, 503, 0.5},
                                         {{{501}, {201}}, linear, kNone, 1, 501, 0},
                                         {{{404}, {201}}, linear, kNone, 1, 404, 0},
                                         {{{503}, {201}}, nullptr, kNone, 1, 503, 0},
                                         {{}, nullptr, kExpired, 0, -AZSEOperationExpired, 0},
                                         {{{201}}, nullptr, kBlockMd5, 1, 0, 0}}) {
    Storage server(c.script);
    auto context = std::make_shared<AZSOperationContext>();
    context->retryPolicy = c.policy;
    auto options = std::make_shared<AZSBlobRequestOptions>();
    if (c.option == kExpired) options->operationExpiryTime = std::chrono::system_clock::now();
    if (c.option == kBlockMd5) options->useTransactionalMD5.set(true);
    auto start = std::chrono::steady_clock::now();
    auto blob = server.container()->blockBlobReferenceFromName("b");
    auto r = run([&](auto h) { blob->uploadBlockFromData({'a', 'b', 'c'}, "QQ==", {}, nullptr, options, context, h); });
    EXPECT_EQ(!r ? 0 : statusOf(*r) > 0 ? statusOf(*r) : -r->code, c.outcome);
    ASSERT_EQ(server.requests().size(), c.requests);
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), c.waited);
    if (c.option == kBlockMd5) {
      EXPECT_EQ(server.requests()[0].headers["content-md5"], "kAFQmDzST7DWlj99KOF/cg==");  // of "abc"
    }
  }
}
