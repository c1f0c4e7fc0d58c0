#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "foundation/Log.h"
#include "report/AZSBlobRequestXML.h"
#include "report/AZSBlobUploadHelper.h"
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
#include "report/ErrorReportTestSupport.h"
#include "report/ReportTestSupport.h"
#include "report/azs/Crypto.h"

using namespace reporttest;

namespace {

std::shared_ptr<AZSCloudBlobContainer> containerOn(const std::string& endpoint, const std::string& name = "box") {
  auto account = AZSCloudStorageAccount::accountFromConnectionString(devConnectionString(endpoint));
  return account->getBlobClient()->containerReferenceFromName(name);
}

const std::string kErrorBody =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><Error><Code>ContainerAlreadyExists</Code>"
    "<Message>The specified container already exists.</Message><QueryParameterName>restype</QueryParameterName>"
    "</Error>";

qvr::Error refused(int status) {
  qvr::azs::HttpResponse response;
  response.statusCode = status;
  AZSOperationContext ctx;
  AZSRequestResult result(std::chrono::system_clock::now(), 0, nullptr, std::nullopt);
  auto e = AZSResponseParser::preprocessResponseWithResponse(response, result, ctx);
  return e.value_or(qvr::Error());
}

std::shared_ptr<AZSRequestResult> resultWithStatus(long status) {
  if (status == 0)
    return std::make_shared<AZSRequestResult>(std::chrono::system_clock::now(), 0, nullptr, std::nullopt);
  auto response = std::make_shared<qvr::azs::HttpResponse>();
  response->statusCode = status;
  return std::make_shared<AZSRequestResult>(std::chrono::system_clock::now(), 0, response, std::nullopt);
}

// A stream that yields `good` bytes and then fails.
class BrokenStream : public qvr::azs::InputStream {
 public:
  explicit BrokenStream(size_t good) : left_(good) {}
  long read(uint8_t* buffer, size_t capacity) override {
    if (left_ == 0) return -1;
    size_t n = std::min(left_, capacity);
    std::fill_n(buffer, n, uint8_t('x'));
    left_ -= n;
    return static_cast<long>(n);
  }
  std::optional<qvr::Error> streamError() const override { return qvr::Error("test.stream", 42); }

 private:
  size_t left_;
};

size_t countWithQuery(const std::vector<RecordedRequest>& requests, const std::string& part) {
  size_t n = 0;
  for (const auto& r : requests) n += r.target.find(part) != std::string::npos;
  return n;
}

}  // namespace

TEST(ResponseCheck, OnlyTheSuccessStatusesAreAccepted) {
  for (int ok : {200, 201, 202, 204, 206}) EXPECT_TRUE(refused(ok).domain.empty()) << ok;
  for (int bad : {100, 203, 205, 304, 404, 409, 500}) {
    qvr::Error e = refused(bad);
    EXPECT_EQ(e.domain, AZSErrorDomain) << bad;
    EXPECT_EQ(e.code, AZSEServerError) << bad;
    EXPECT_EQ(statusOf(e), bad);
    EXPECT_TRUE(e.userInfo.count("URLResponse") && e.userInfo.count("RequestResult") &&
                e.userInfo.count("OperationContext"));
  }
}

TEST(ErrorBody, CodeMessageAndFurtherDetailsAreKept) {
  AZSOperationContext ctx;
  qvr::Error e = AZSResponseParser::processErrorResponseWithData(
      std::vector<uint8_t>(kErrorBody.begin(), kErrorBody.end()), refused(409), ctx);
  EXPECT_EQ(e.code, AZSEServerError);
  EXPECT_EQ(statusOf(e), 409);
  EXPECT_EQ(e.stringFor("Code"), "ContainerAlreadyExists");
  EXPECT_EQ(e.stringFor("Message"), "The specified container already exists.");
  EXPECT_EQ(e.stringFor("rawErrorData"), kErrorBody);
  const qvr::UserInfo* details = e.userInfo.at("AdditionalErrorDetails").map();
  ASSERT_TRUE(details);
  EXPECT_EQ(details->at("QueryParameterName"), qvr::UserInfoValue("restype"));

  // No body: the error stays as it was.
  qvr::Error plain = AZSResponseParser::processErrorResponseWithData({}, refused(404), ctx);
  EXPECT_EQ(plain.code, AZSEServerError);
  EXPECT_FALSE(plain.userInfo.count("rawErrorData"));
}

TEST(ErrorBody, UnparseableBodiesGiveCode6WithTheOriginalInside) {
  AZSOperationContext ctx;
  std::vector<std::string> logged;
  ctx.logLevel = 5;
  ctx.logFunction = [&](int64_t, const std::string& m) { logged.push_back(m); };
  const std::vector<std::string> bodies = {
      "<html>Bad gateway",
      "not xml at all",
      "<Error><Code>X</Message></Error>",
      "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY b \"bbbbbbbb\"><!ENTITY c \"&b;&b;&b;&b;\">]><Error>&c;</Error>",
      std::string("<Error>\0</Error>", 16),
  };
  for (const std::string& body : bodies) {
    qvr::Error e = AZSResponseParser::processErrorResponseWithData(std::vector<uint8_t>(body.begin(), body.end()),
                                                                   refused(500), ctx);
    EXPECT_EQ(e.domain, AZSErrorDomain) << body;
    ASSERT_EQ(e.code, AZSEXMLParseError) << body;
    const qvr::UserInfo* inner = e.userInfo.at("InnerError").map();
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->at("code").integer(), AZSEServerError);
    const qvr::UserInfo* innerInfo = inner->at("userInfo").map();
    ASSERT_TRUE(innerInfo);
    EXPECT_EQ(innerInfo->at("HTTP Status Code").integer(), 500);
  }
  EXPECT_NE(std::find(logged.begin(), logged.end(), "Parse unsuccessful."), logged.end());
}

TEST(BlockListXml, ElementsFollowTheModesInOrder) {
  AZSOperationContext ctx;
  std::optional<qvr::Error> error;
  auto xml = AZSBlobRequestXML::createBlockListXMLFromArray(
      {AZSBlockListItem::initWithBlockID("QQ==", 0, 1), AZSBlockListItem::initWithBlockID("Qg==", 1, 1),
       AZSBlockListItem::initWithBlockID("Qw==", 2, 1)},
      ctx, error);
  ASSERT_TRUE(xml);
  EXPECT_FALSE(error);
  EXPECT_EQ(*xml,
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<BlockList><Latest>QQ==</Latest>"
            "<Committed>Qg==</Committed><Uncommitted>Qw==</Uncommitted></BlockList>\n");

  auto empty = AZSBlobRequestXML::createBlockListXMLFromArray({}, ctx, error);
  ASSERT_TRUE(empty);
  EXPECT_NE(empty->find("<BlockList/>"), std::string::npos);
}

TEST(BlockListXml, UnknownModeIsCode7AndLogged) {
  AZSOperationContext ctx;
  std::vector<std::pair<int64_t, std::string>> logged;
  ctx.logLevel = 2;
  ctx.logFunction = [&](int64_t level, const std::string& m) { logged.emplace_back(level, m); };
  std::optional<qvr::Error> error;
  EXPECT_FALSE(
      AZSBlobRequestXML::createBlockListXMLFromArray({AZSBlockListItem::initWithBlockID("QQ==", 3, 1)}, ctx, error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, AZSEXMLCreationError);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], std::make_pair(int64_t(2), std::string("Error in generating XML block list.")));
  // Text that is not UTF-8 makes the writer itself fail; its code is reported.
  error.reset();
  EXPECT_FALSE(AZSBlobRequestXML::createBlockListXMLFromArray({AZSBlockListItem::initWithBlockID("\xff\xfe", 0, 1)},
                                                              ctx, error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, AZSEXMLCreationError);
  EXPECT_TRUE(error->userInfo.count("xmlReturnCode"));
}

TEST(RetryPolicies, WhichStatusesAreRetried) {
  AZSRetryContext ctx;
  ctx.currentRetryCount = 1;
  for (long status : {0L, 200L, 203L, 299L, 408L, 500L, 502L, 503L, 504L, 599L}) {
    ctx.lastRequestResult = resultWithStatus(status);
    EXPECT_TRUE(AZSRetryPolicyUtil::evaluateRetryContext(ctx, 3).shouldRetry) << status;
  }
  for (long status : {300L, 304L, 400L, 403L, 404L, 409L, 412L, 499L, 501L, 505L}) {
    ctx.lastRequestResult = resultWithStatus(status);
    EXPECT_FALSE(AZSRetryPolicyUtil::evaluateRetryContext(ctx, 3).shouldRetry) << status;
  }
  ctx.lastRequestResult = resultWithStatus(503);
  ctx.currentRetryCount = 3;
  EXPECT_FALSE(AZSRetryPolicyUtil::evaluateRetryContext(ctx, 3).shouldRetry);

  AZSOperationContext op;
  EXPECT_FALSE(AZSRetryPolicyNoRetry().evaluateRetryContext(ctx, op).shouldRetry);
  ctx.currentRetryCount = 1;
  auto linear = AZSRetryPolicyLinear::initWithMaximumAttempts(2, 7.5);
  AZSRetryInfo info = linear->clone()->evaluateRetryContext(ctx, op);
  EXPECT_TRUE(info.shouldRetry);
  EXPECT_EQ(info.retryInterval, 7.5);
}

TEST(RetryPolicies, ExponentialIntervalsStayWithinTheirBounds) {
  auto policy = AZSRetryPolicyExponential::initWithMaximumAttempts(30, 4.0);
  AZSOperationContext op;
  AZSRetryContext ctx;
  ctx.lastRequestResult = resultWithStatus(503);
  double lowest = 1e9, highest = 0;
  for (int i = 0; i < 2000; ++i) {
    ctx.currentRetryCount = 1;
    AZSRetryInfo info = policy->evaluateRetryContext(ctx, op);
    ASSERT_TRUE(info.shouldRetry);
    lowest = std::min(lowest, info.retryInterval);
    highest = std::max(highest, info.retryInterval);
  }
  EXPECT_GE(lowest, 0.8 * 4.0);
  EXPECT_LT(highest, 1.2 * 4.0);
  EXPECT_LT(lowest, 3.4);  // the draw really spreads over the range
  EXPECT_GT(highest, 4.6);
  ctx.currentRetryCount = 2;
  double second = policy->evaluateRetryContext(ctx, op).retryInterval;
  EXPECT_GE(second, 3 * 3.2);
  EXPECT_LT(second, 3 * 4.8);
  ctx.currentRetryCount = 20;
  EXPECT_EQ(policy->evaluateRetryContext(ctx, op).retryInterval, 120.0);
  auto tiny = AZSRetryPolicyExponential::initWithMaximumAttempts(3, 0.01);
  ctx.currentRetryCount = 1;
  EXPECT_EQ(tiny->evaluateRetryContext(ctx, op).retryInterval, 0.5);
  ctx.lastRequestResult = resultWithStatus(400);
  EXPECT_FALSE(policy->evaluateRetryContext(ctx, op).shouldRetry);
}

TEST(RequestOptions, ClientDefaultsFillWhatTheCallerLeftOpen) {
  auto copied = AZSBlobRequestOptions::copyOptions(nullptr, nullptr);
  EXPECT_EQ(copied->serverTimeout.value(), 60.0);
  EXPECT_FALSE(copied->operationExpiryTime);
  EXPECT_EQ(AZSExecutor::remainingTimeForOptions(*copied, std::chrono::system_clock::now()), 604800.0);

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
  ASSERT_TRUE(merged->operationExpiryTime);
  double remaining = AZSExecutor::remainingTimeForOptions(*merged, before);
  EXPECT_GE(remaining, 30.0);
  EXPECT_LT(remaining, 31.0);
  EXPECT_FALSE(given->useTransactionalMD5.isSet());  // the caller's object is not changed
}

TEST(Execution, CreateIfNotExistsAsksFirstAndCreatesOnlyWhenMissing) {
  {
    TestHttpServer server(
        Script{{404}, {201, "", {{"ETag", "\"0x8D\""}, {"Last-Modified", "Sun, 06 Dec 2026 17:00:00 GMT"}}}});
    auto container = containerOn(server.endpoint());
    Completion<ErrorBoolResult> done;
    auto caller = std::this_thread::get_id();
    container->createContainerIfNotExistsWithCompletionHandler(pairHandler(done));
    auto result = done.wait();
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->first) << result->first->toString();
    EXPECT_TRUE(result->second);
    EXPECT_NE(done.thread(), caller);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(requests[0].target, "/devstoreaccount1/box?restype=container");
    EXPECT_EQ(requests[1].method, "PUT");
    EXPECT_EQ(requests[1].headers["content-length"], "0");
    EXPECT_EQ(requests[1].headers["x-ms-version"], "2015-02-21");
    EXPECT_EQ(requests[1].headers["user-agent"].rfind("Azure-Storage/0.1.2-preview (iOS ", 0), 0u);
    EXPECT_FALSE(requests[1].headers["x-ms-client-request-id"].empty());
    EXPECT_EQ(requests[1].headers["authorization"].rfind("SharedKey devstoreaccount1:", 0), 0u);
    EXPECT_FALSE(requests[1].headers.count("content-type"));
    EXPECT_EQ(container->properties.eTag, "\"0x8D\"");
  }
  // It exists; the check is refused; the create itself meets a conflict, explained by the service.
  struct Case {
    Script script;
    int64_t status;
    size_t requests;
    std::string serviceCode;
  };
  for (const Case& c : std::vector<Case>{{{{200}}, 0, 1, ""},
                                         {{{403}}, 403, 1, ""},
                                         {{{404}, {409, kErrorBody}}, 409, 2, "ContainerAlreadyExists"}}) {
    SCOPED_TRACE(c.status);
    TestHttpServer server(c.script);
    Completion<ErrorBoolResult> done;
    containerOn(server.endpoint())->createContainerIfNotExistsWithCompletionHandler(pairHandler(done));
    auto result = done.wait();
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->second);
    EXPECT_EQ(result->first ? statusOf(*result->first) : 0, c.status);
    if (result->first) {
      EXPECT_EQ(result->first->code, AZSEServerError);
      EXPECT_EQ(result->first->stringFor("Code"), c.serviceCode);
    }
    EXPECT_EQ(server.requests().size(), c.requests);
  }
}

TEST(Execution, Status203IsAnErrorAnd201ASuccess) {
  TestHttpServer server(Script{{203}, {201}});
  auto blob = containerOn(server.endpoint())->blockBlobReferenceFromName("b");
  Completion<ErrorResult> first, second;
  blob->uploadBlockFromData({1, 2, 3}, "QQ==", first.handler());
  auto r1 = first.wait();
  ASSERT_TRUE(r1 && *r1);
  EXPECT_EQ((*r1)->code, AZSEServerError);
  EXPECT_EQ(statusOf(**r1), 203);
  blob->uploadBlockFromData({1, 2, 3}, "QQ==", second.handler());
  auto r2 = second.wait();
  ASSERT_TRUE(r2);
  EXPECT_FALSE(*r2);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].target, "/devstoreaccount1/box/b?comp=block&blockid=QQ%3D%3D");
  EXPECT_EQ(requests[1].body, std::string("\x01\x02\x03", 3));
  EXPECT_EQ(requests[1].headers["content-length"], "3");
  EXPECT_EQ(first.calls() + second.calls(), 2);
}

TEST(Execution, FailedExchangesGiveTheirCodes) {
  // A refused connection, a hang-up without an answer, and an error body that is no XML.
  struct Case {
    bool listening;
    Script script;
    int64_t code;
  };
  for (const Case& c : std::vector<Case>{{false, {}, AZSEURLSessionError},
                                         {true, {{TestHttpServer::kHangUp}}, AZSEURLSessionError},
                                         {true, {{500, "<oops>"}}, AZSEXMLParseError}}) {
    SCOPED_TRACE(c.code);
    TestHttpServer server(c.script);
    std::string endpoint =
        c.listening ? server.endpoint()
                    : "http://127.0.0.1:" + std::to_string(TestHttpServer::closedPort()) + "/devstoreaccount1";
    auto r = run([&](auto h) { containerOn(endpoint)->deleteContainerWithCompletionHandler(h); });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, c.code);
    if (c.listening) {
      EXPECT_EQ(server.requests().at(0).method, "DELETE");
    } else {
      EXPECT_TRUE(r->userInfo.at("InnerError").map());
    }
  }
}

TEST(Execution, ExpiredOperationSendsNothing) {
  TestHttpServer server(Script{});
  auto blob = containerOn(server.endpoint())->blockBlobReferenceFromName("b");
  auto options = std::make_shared<AZSBlobRequestOptions>();
  options->operationExpiryTime = std::chrono::system_clock::now() - std::chrono::seconds(1);
  auto ctx = std::make_shared<AZSOperationContext>();
  auto r = run([&](auto h) { blob->uploadBlockFromData({1}, "QQ==", std::nullopt, nullptr, options, ctx, h); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->domain, AZSErrorDomain);
  EXPECT_EQ(r->code, AZSEOperationExpired);
  EXPECT_TRUE(r->userInfo.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(server.requests().empty());
}

TEST(Execution, RetryPolicyRepeatsOnlyRetriableFailures) {
  {
    TestHttpServer server(Script{{503}, {500}, {201}});
    auto ctx = std::make_shared<AZSOperationContext>();
    ctx->retryPolicy = AZSRetryPolicyLinear::initWithMaximumAttempts(3, 0.2);
    std::vector<double> timeouts;
    ctx->sendingRequest = [&timeouts](qvr::azs::HttpRequest& request, AZSOperationContext&) {
      timeouts.push_back(request.timeoutInterval);
    };
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(
        run([&](auto h) { containerOn(server.endpoint())->createContainerWithAccessType(0, nullptr, ctx, h); }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_EQ(server.requests().size(), 3u);
    auto results = ctx->requestResults();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0]->statusCode(), 503);
    EXPECT_TRUE(results[0]->error);
    EXPECT_FALSE(results[2]->error);
    EXPECT_EQ(timeouts, std::vector<double>({60.0, 60.0, 60.0}));
    EXPECT_TRUE(ctx->endTime());
  }
  {
    TestHttpServer server(Script{{400}, {201}});
    auto ctx = std::make_shared<AZSOperationContext>();
    ctx->retryPolicy = AZSRetryPolicyExponential::initWithMaximumAttempts(3, 0.1);
    auto r = run([&](auto h) { containerOn(server.endpoint())->createContainerWithAccessType(0, nullptr, ctx, h); });
    ASSERT_TRUE(r);
    EXPECT_EQ(statusOf(*r), 400);
    EXPECT_EQ(server.requests().size(), 1u);
  }
  {
    // Without a policy, as the program runs, a retriable failure is still tried once only.
    TestHttpServer server(Script{{503}, {201}});
    EXPECT_TRUE(run([&](auto h) { containerOn(server.endpoint())->deleteContainerWithCompletionHandler(h); }));
    EXPECT_EQ(server.requests().size(), 1u);
  }
}

TEST(Execution, BlockListChecksBeforeSending) {
  TestHttpServer server(Script{});
  auto blob = containerOn(server.endpoint())->blockBlobReferenceFromName("b");
  auto options = std::make_shared<AZSBlobRequestOptions>();
  options->storeBlobContentMD5.set(true);
  Completion<ErrorResult> noMd5;
  auto caller = std::this_thread::get_id();
  blob->uploadBlockListFromArray({}, nullptr, options, nullptr, noMd5.handler());
  auto r = noMd5.wait();
  ASSERT_TRUE(r && *r);
  EXPECT_EQ((*r)->code, AZSEContentMD5Missing);
  EXPECT_EQ((*r)->stringFor("NSLocalizedDescription"),
            "Cannot store blob content MD5 without content MD5 set on the blob object when doing a Put Block List.");
  EXPECT_NE(noMd5.thread(), caller);
  auto m = run([&](auto h) { blob->uploadBlockListFromArray({AZSBlockListItem::initWithBlockID("QQ==", 9, 0)}, h); });
  ASSERT_TRUE(m);
  EXPECT_EQ(m->code, AZSEXMLCreationError);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(server.requests().empty());
}

TEST(Execution, TransactionalMd5IsSentWhenAsked) {
  TestHttpServer server(Script{}, {201});
  auto blob = containerOn(server.endpoint())->blockBlobReferenceFromName("b");
  auto options = std::make_shared<AZSBlobRequestOptions>();
  options->useTransactionalMD5.set(true);
  run([&](auto h) { blob->uploadBlockFromData({}, "QQ==", std::nullopt, nullptr, options, nullptr, h); });
  run([&](auto h) {
    blob->uploadBlockListFromArray({AZSBlockListItem::initWithBlockID("QQ==", 0, 0)}, nullptr, options, nullptr, h);
  });
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].headers["content-md5"], "1B2M2Y8AsgTpgAmY7PhCfg==");
  const std::string& xml = requests[1].body;
  EXPECT_EQ(requests[1].headers["content-md5"],
            qvr::azs::base64Encode(qvr::azs::md5(reinterpret_cast<const uint8_t*>(xml.data()), xml.size())));
}

TEST(Logging, SecretsNeverReachALog) {
  TestHttpServer server(Script{{404}, {201}});
  LogCapture logs;
  AZSOperationContext::setGlobalLogLevel(5);
  auto ctx = std::make_shared<AZSOperationContext>();
  ctx->logLevel = 5;
  ctx->logFunction = [](int64_t, const std::string& m) { qvr::log("%s", m.c_str()); };
  Completion<ErrorBoolResult> done;
  containerOn(server.endpoint())->createContainerIfNotExistsWithAccessType(0, nullptr, ctx, pairHandler(done));
  ASSERT_TRUE(done.wait());
  AZSOperationContext::setGlobalLogLevel(0);

  std::string signature = server.requests().at(1).headers["authorization"];
  ASSERT_FALSE(signature.empty());
  signature = signature.substr(signature.find(':') + 1);
  bool sawAuthorizationLine = false, sawStringToSign = false, sawFinishing = false;
  for (const auto& line : logs.lines()) {
    EXPECT_EQ(line.find(signature), std::string::npos) << line;
    EXPECT_EQ(line.find(kDevKey), std::string::npos) << line;
    EXPECT_EQ(line.find("Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IF"), std::string::npos) << line;
    sawAuthorizationLine |= line.rfind("Sending header name = Authorization;", 0) == 0;
    sawStringToSign |= line.rfind("String to sign = ", 0) == 0;
    sawFinishing |= line == "Finishing session.";
  }
  EXPECT_TRUE(sawAuthorizationLine && sawStringToSign && sawFinishing);
}

TEST(StreamUpload, SmallTextIsOneBlockThenTheList) {
  TestHttpServer server(Script{}, {201});
  Completion<ErrorResult> done;
  auto caller = std::this_thread::get_id();
  containerOn(server.endpoint())
      ->blockBlobReferenceFromName("email.txt")
      ->uploadFromText("user@example.com", done.handler());
  auto r = done.wait();
  ASSERT_TRUE(r);
  EXPECT_FALSE(*r);
  EXPECT_NE(done.thread(), caller);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, "user@example.com");
  std::string target = requests[0].target;
  std::string blockID = qvr::azs::percentDecode(target.substr(target.find("blockid=") + 8));
  ASSERT_EQ(blockID.size(), 52u);
  auto decoded = qvr::azs::base64Decode(blockID);
  ASSERT_TRUE(decoded);
  std::string plain(decoded->begin(), decoded->end());
  EXPECT_EQ(plain.substr(0, 7), "blockid");
  EXPECT_EQ(plain.find_first_not_of("0123456789abcdef", 7), std::string::npos);
  EXPECT_NE(requests[1].body.find("<Latest>" + blockID + "</Latest>"), std::string::npos);
  EXPECT_NE(AZSBlobUploadHelper::newBlockID(), AZSBlobUploadHelper::newBlockID());
}

TEST(StreamUpload, EmptyTextCommitsAnEmptyList) {
  TestHttpServer server(Script{}, {201});
  EXPECT_FALSE(
      run([&](auto h) { containerOn(server.endpoint())->blockBlobReferenceFromName("e")->uploadFromText("", h); }));
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].target.find("comp=blocklist"), std::string::npos);
  EXPECT_NE(requests[0].body.find("<BlockList/>"), std::string::npos);
}

TEST(StreamUpload, FailedBlockEndsTheUploadWithItsError) {
  // Blocks of a 13 MiB stream: the first answer refuses, the rest would succeed.
  TestHttpServer server(Script{{500, "<Error><Code>InternalError</Code><Message>m</Message></Error>"}}, {201});
  auto blob = containerOn(server.endpoint())->blockBlobReferenceFromName("big");
  auto stream = std::make_shared<qvr::azs::MemoryInputStream>(std::vector<uint8_t>(13 << 20, 7));
  Completion<ErrorResult> done;
  blob->uploadFromStream(stream, nullptr, nullptr, nullptr, done.handler());
  auto r = done.wait(60);
  ASSERT_TRUE(r && *r);
  EXPECT_EQ((*r)->code, AZSEServerError);
  EXPECT_EQ((*r)->stringFor("Code"), "InternalError");
  auto requests = server.requests();
  EXPECT_EQ(countWithQuery(requests, "comp=blocklist"), 0u);
  EXPECT_LE(countWithQuery(requests, "comp=block&"), 3u);  // at most the blocks already in flight
  EXPECT_EQ(done.calls(), 1);
}

TEST(StreamUpload, StreamErrorIsReportedAndNothingCommitted) {
  TestHttpServer server(Script{}, {201});
  auto blob = containerOn(server.endpoint())->blockBlobReferenceFromName("broken");
  auto ctx = std::make_shared<AZSOperationContext>();
  std::vector<std::string> logged;
  std::mutex m;
  ctx->logLevel = 2;
  ctx->logFunction = [&](int64_t, const std::string& line) {
    std::lock_guard lock(m);
    logged.push_back(line);
  };
  auto r = run([&](auto h) { blob->uploadFromStream(std::make_shared<BrokenStream>(5000), nullptr, nullptr, ctx, h); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->domain, "test.stream");
  EXPECT_EQ(r->code, 42);
  EXPECT_TRUE(server.requests().empty());
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].rfind("Error in stream callback.  Error code = 42, error domain = test.stream", 0), 0u);
}

TEST(StreamUpload, LargeStreamIsCutIntoFourMebibyteBlocks) {
  TestHttpServer server(Script{}, {201});
  auto blob = containerOn(server.endpoint())->blockBlobReferenceFromName("big");
  auto options = std::make_shared<AZSBlobRequestOptions>();
  options->storeBlobContentMD5.set(true);
  std::vector<uint8_t> data((9 << 20) + 5);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
  ASSERT_FALSE(run([&](auto h) {
    blob->uploadFromStream(std::make_shared<qvr::azs::MemoryInputStream>(data), nullptr, options, nullptr, h);
  }));
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  std::multiset<size_t> sizes;
  for (size_t i = 0; i < 3; ++i) sizes.insert(requests[i].body.size());
  EXPECT_EQ(sizes, std::multiset<size_t>({4194304, 4194304, (1 << 20) + 5}));
  EXPECT_NE(requests[3].target.find("comp=blocklist"), std::string::npos);
  EXPECT_EQ(requests[3].headers["x-ms-blob-content-md5"],
            qvr::azs::base64Encode(qvr::azs::md5(data.data(), data.size())));
}
