// The blob storage client against a scripted local server: accounts, answers and failed exchanges,
// and the client features the report never uses, one test each. The emulator suites cover signing
// and the requests the report sends.
#include <gtest/gtest.h>

#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudBlobContainer.h"
#include "report/AZSCloudBlockBlob.h"
#include "report/AZSCloudStorageAccount.h"
#include "report/AZSErrors.h"
#include "report/AZSExecutor.h"
#include "report/AZSOperationContext.h"
#include "report/AZSRequestResult.h"
#include "report/AZSResponseParser.h"
#include "report/AZSRetryPolicy.h"
#include "report/AZSSharedKeyBlobAuthenticationHandler.h"
#include "report/ErrorReportTestSupport.h"
#include "report/azs/Crypto.h"

using namespace reporttest;
using testsupport::LocalHttpServer;

namespace {

std::shared_ptr<AZSCloudBlobContainer> containerOn(const std::string& endpoint) {
  return AZSCloudStorageAccount::accountFromConnectionString(devConnectionString(endpoint))
      ->getBlobClient()
      ->containerReferenceFromName("box");
}

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
  std::shared_ptr<AZSCloudBlobContainer> container() const { return containerOn(baseUrl() + "/devstoreaccount1"); }
  size_t count(const std::string& query) const {
    size_t n = 0;
    for (const auto& r : requests()) n += r.target.find(query) != std::string::npos;
    return n;
  }
};

const std::string kErrorBody =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><Error><Code>ContainerAlreadyExists</Code>"
    "<Message>The specified container already exists.</Message></Error>";

qvr::Error refused(int status) {
  auto response = std::make_shared<qvr::azs::HttpResponse>();
  response->statusCode = status;
  AZSRequestResult result(std::chrono::system_clock::now(), 0, response, std::nullopt);
  AZSOperationContext ctx;
  return AZSResponseParser::preprocessResponseWithResponse(*response, result, ctx).value_or(qvr::Error());
}

}  // namespace

TEST(ConnectionString, AccountAddressKeyAndSigner) {
  const std::string key = ";AccountKey=c2VjcmV0LWtleS1ieXRlcw==";  // "secret-key-bytes": "=" ends only the name
  const std::string cloud = "https://acct.blob.core.windows.net",
                    cloud2 = "https://acct-secondary.blob.core.windows.net";
  struct Case {
    std::string text, primary, secondary;  // primary "": no account; secondary "": none
    std::string key;                       // "-": requests go unsigned
  };
  const std::vector<Case> cases = {
      {"DefaultEndpointsProtocol=http;AccountName=acct" + key + ";EndpointSuffix=example.test",
       "http://acct.blob.example.test", "http://acct-secondary.blob.example.test", "secret-key-bytes"},
      // Anything but exactly "http" means https; no suffix means the public cloud's.
      {"DefaultEndpointsProtocol=HTTP;AccountName=acct" + key, cloud, cloud2, "secret-key-bytes"},
      {"AccountName=acct" + key + ";BlobEndpoint=http://127.0.0.1:10000/devstoreaccount1",
       "http://127.0.0.1:10000/devstoreaccount1", "", "secret-key-bytes"},
      // Pieces without "=" are skipped and later pieces win; a key that is no Base64 signs with nothing.
      {";;garbage;AccountName=first;AccountName=acct;novalue;AccountKey=not*base64;;", cloud, cloud2, ""},
      // A shared access signature travels in the query of every address.
      {"AccountName=acct;SharedAccessSignature=sv=1&sig=abc;BlobEndpoint=https://h.example/",
       "https://h.example/?sv=1&sig=abc", "", "-"},
      {"BlobEndpoint=https://h.example/a", "https://h.example/a", "", "-"},
      // No blob address can be formed; names are case-sensitive.
      {"", "", "", ""},
      {"accountname=x" + key, "", "", ""},
      {"BlobEndpoint=ftp://h.example/x", "", "", ""},
      {"AccountName=a/b" + key, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto account = AZSCloudStorageAccount::accountFromConnectionString(c.text);
    ASSERT_EQ(account != nullptr, !c.primary.empty());
    if (!account) continue;
    auto uri = account->storageCredentials->transformWithStorageUri(account->blob_endpoint);
    EXPECT_EQ(uri.primaryUri->string(), c.primary);
    EXPECT_EQ(uri.secondaryUri ? uri.secondaryUri->string() : "", c.secondary);
    auto* signer =
        dynamic_cast<AZSSharedKeyBlobAuthenticationHandler*>(account->getBlobClient()->authenticationHandler.get());
    EXPECT_EQ(signer != nullptr, c.key != "-");
    const auto& bytes = account->storageCredentials->accountKey;
    if (signer) {
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.key);
    }
  }
}

TEST(ResponseCheck, OnlyTheSuccessStatusesPass) {
  for (int ok : {200, 201, 202, 204, 206}) EXPECT_TRUE(refused(ok).domain.empty()) << ok;
  for (int bad : {100, 203, 205, 304, 404, 409, 500}) {
    EXPECT_EQ(refused(bad).code, AZSEServerError) << bad;
    EXPECT_EQ(statusOf(refused(bad)), bad);
  }
}

TEST(ResponseCheck, ErrorBodiesGiveTheServiceCodeOrCode6WithTheRefusalInside) {
  AZSOperationContext ctx;
  auto parse = [&](const std::string& body) {
    return AZSResponseParser::processErrorResponseWithData({body.begin(), body.end()}, refused(409), ctx);
  };
  qvr::Error e = parse(kErrorBody);
  EXPECT_EQ(e.code, AZSEServerError);
  EXPECT_EQ(statusOf(e), 409);
  EXPECT_EQ(e.stringFor("Code"), "ContainerAlreadyExists");
  EXPECT_EQ(parse("").code, AZSEServerError);
  for (const std::string& body :
       {std::string("<html>Bad gateway"), std::string("<Error><Code>X</Message></Error>"),
        std::string(
            "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY b \"bbbb\"><!ENTITY c \"&b;&b;\">]><Error>&c;</Error>"),
        std::string("<Error>\0</Error>", 16)}) {
    e = parse(body);
    ASSERT_EQ(e.code, AZSEXMLParseError) << body;
    const qvr::UserInfo* inner = e.userInfo.at("InnerError").map();
    EXPECT_EQ(inner->at("code").integer(), AZSEServerError);
    EXPECT_EQ(inner->at("userInfo").map()->at("HTTP Status Code").integer(), 409);
  }
}

TEST(Execution, RefusalsAndFailedExchangesEndTheOperationOnceOnAnotherThread) {
  // The check is refused; the create meets a conflict; nothing listens; a hang-up; an error body that is no XML.
  struct Case {
    bool listening;
    Script script;
    int64_t code, status;
    std::string serviceCode;
    size_t requests;
  };
  const std::vector<Case> cases = {
      {true, {{403}}, AZSEServerError, 403, "", 1},
      {true, {{404}, {409, kErrorBody}}, AZSEServerError, 409, "ContainerAlreadyExists", 2},
      {false, {}, AZSEURLSessionError, -1, "", 0},
      {true, {{LocalHttpServer::kHangUp}}, AZSEURLSessionError, -1, "", 1},
      {true, {{404}, {500, "<oops>"}}, AZSEXMLParseError, -1, "", 2},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    Storage server(c.script);
    auto container = c.listening ? server.container()
                                 : containerOn("http://127.0.0.1:" + std::to_string(LocalHttpServer::closedPort()));
    Completion<ErrorBoolResult> done;
    container->createContainerIfNotExistsWithCompletionHandler(done.handler<ErrorResult, bool>());
    auto r = done.wait();
    ASSERT_TRUE(r && r->first);
    EXPECT_FALSE(r->second);
    EXPECT_EQ(r->first->code, c.code);
    EXPECT_EQ(statusOf(*r->first), c.status);
    EXPECT_EQ(r->first->stringFor("Code"), c.serviceCode);
    EXPECT_EQ(server.requests().size(), c.requests);
    // The report's upload runs in this handler; it must not hold up the caller.
    EXPECT_NE(done.state->thread, std::this_thread::get_id());
    EXPECT_EQ(done.state->calls, 1);
  }
}

TEST(StreamUpload, AFailedBlockEndsTheUploadWithItsErrorAndCommitsNothing) {
  Storage server({{500, "<Error><Code>InternalError</Code></Error>"}}, {201});
  auto data = std::make_shared<qvr::azs::MemoryInputStream>(std::vector<uint8_t>(13 << 20, 7));
  auto r = run([&](auto h) {
    server.container()->blockBlobReferenceFromName("b")->uploadFromStream(data, nullptr, nullptr, nullptr, h);
  });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->stringFor("Code"), "InternalError");
  EXPECT_LE(server.count("comp=block&"), 3u) << "at most the blocks already in flight";
  EXPECT_EQ(server.count("comp=blocklist"), 0u);
}

// Not used by the report, which sends with no retry policy: a policy repeats only retriable
// failures, up to its limit, after its interval.
TEST(UnusedByTheReport, RetryPolicies) {
  struct Case {
    Script script;
    std::shared_ptr<AZSRetryPolicy> policy;
    size_t requests;
    int64_t status;  // of the final failure, 0: success
    double waited;   // seconds at least
  };
  for (const auto& c : std::vector<Case>{
           {{{503}, {408}, {201}}, AZSRetryPolicyLinear::initWithMaximumAttempts(3, 0.2), 3, 0, 0.4},
           {{{503}, {503}, {201}}, AZSRetryPolicyExponential::initWithMaximumAttempts(2, 0.1), 2, 503, 0.5},
           {{{501}, {201}}, AZSRetryPolicyLinear::initWithMaximumAttempts(3, 0.1), 1, 501, 0},
           {{{404}, {201}}, AZSRetryPolicyLinear::initWithMaximumAttempts(3, 0.1), 1, 404, 0},
           {{{503}, {201}}, nullptr, 1, 503, 0}}) {
    Storage server(c.script);
    auto context = std::make_shared<AZSOperationContext>();
    context->retryPolicy = c.policy;
    auto start = std::chrono::steady_clock::now();
    auto r = run([&](auto h) { server.container()->createContainerWithAccessType(0, nullptr, context, h); });
    EXPECT_EQ(r ? statusOf(*r) : 0, c.status);
    EXPECT_EQ(server.requests().size(), c.requests);
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), c.waited);
  }
}

// Not set by the report: caller options win, client defaults fill the rest, and an operation
// whose time is up sends nothing.
TEST(UnusedByTheReport, RequestOptions) {
  auto defaults = std::make_shared<AZSBlobRequestOptions>();
  defaults->serverTimeout.set(5);
  defaults->useTransactionalMD5.set(true);
  defaults->maximumExecutionTime.set(30);
  auto given = std::make_shared<AZSBlobRequestOptions>();
  given->serverTimeout.set(9);
  auto before = std::chrono::system_clock::now();
  auto merged = AZSBlobRequestOptions::copyOptions(given, defaults);
  EXPECT_EQ(merged->serverTimeout.value(), 9.0);
  EXPECT_TRUE(merged->useTransactionalMD5.value());
  EXPECT_FALSE(given->useTransactionalMD5.isSet());
  double remaining = AZSExecutor::remainingTimeForOptions(*merged, before);
  EXPECT_TRUE(remaining >= 30.0 && remaining < 31.0) << remaining;

  Storage server({});
  auto expired = std::make_shared<AZSBlobRequestOptions>();
  expired->operationExpiryTime = std::chrono::system_clock::now() - std::chrono::seconds(1);
  auto blob = server.container()->blockBlobReferenceFromName("b");
  auto r = run([&](auto h) { blob->uploadBlockFromData({1}, "QQ==", std::nullopt, nullptr, expired, nullptr, h); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->code, AZSEOperationExpired);
  EXPECT_TRUE(server.requests().empty());
}

// Not set by the report: a request's own hash, and the whole blob's hash that must be known before
// the block list is sent.
TEST(UnusedByTheReport, Md5Options) {
  Storage server({}, {201});
  auto blob = server.container()->blockBlobReferenceFromName("b");
  auto options = std::make_shared<AZSBlobRequestOptions>();
  options->storeBlobContentMD5.set(true);
  auto missing = run([&](auto h) { blob->uploadBlockListFromArray({}, nullptr, options, nullptr, h); });
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->code, AZSEContentMD5Missing);
  EXPECT_TRUE(server.requests().empty());

  std::vector<uint8_t> data((4 << 20) + 5, 9);
  ASSERT_FALSE(run([&](auto h) {
    blob->uploadFromStream(std::make_shared<qvr::azs::MemoryInputStream>(data), nullptr, options, nullptr, h);
  }));
  EXPECT_EQ(server.requests().back().headers["x-ms-blob-content-md5"],
            qvr::azs::base64Encode(qvr::azs::md5(data.data(), data.size())));

  options = std::make_shared<AZSBlobRequestOptions>();
  options->useTransactionalMD5.set(true);
  run([&](auto h) { blob->uploadBlockFromData({}, "QQ==", std::nullopt, nullptr, options, nullptr, h); });
  EXPECT_EQ(server.requests().back().headers["content-md5"], "1B2M2Y8AsgTpgAmY7PhCfg==");  // the empty body's
}
