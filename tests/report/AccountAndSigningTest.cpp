#include <gtest/gtest.h>

#include "report/AZSBlobRequestXML.h"
#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudBlobContainer.h"
#include "report/AZSCloudBlockBlob.h"
#include "report/AZSCloudStorageAccount.h"
#include "report/AZSErrors.h"
#include "report/AZSOperationContext.h"
#include "report/AZSRequestFactory.h"
#include "report/AZSSharedKeyBlobAuthenticationHandler.h"
#include "report/ReportTestSupport.h"
#include "report/azs/Crypto.h"
#include "support/TestSupport.h"

using qvr::azs::HttpRequest;
using qvr::azs::UrlComponents;

namespace {

const char* kKey = "c2VjcmV0LWtleS1ieXRlcw==";  // "secret-key-bytes"

std::string primary(const AZSStorageUri& uri) { return uri.primaryUri ? uri.primaryUri->string() : "<none>"; }

UrlComponents url(const std::string& text) { return *UrlComponents::parse(text); }

}  // namespace

TEST(ConnectionString, BlobAddressesFollowProtocolNameSuffixOrExplicitEndpoint) {
  const std::string key = std::string(";AccountKey=") + kKey;
  const std::string cloud = "https://acct.blob.core.windows.net",
                    cloud2 = "https://acct-secondary.blob.core.windows.net";
  struct Case {
    std::string text, primary, secondary;  // "<none>": no secondary address, or no account at all
  };
  const std::vector<Case> cases = {
      {"DefaultEndpointsProtocol=http;AccountName=acct" + key + ";EndpointSuffix=example.test",
       "http://acct.blob.example.test", "http://acct-secondary.blob.example.test"},
      // Anything but exactly "http" means https; no suffix means the public cloud's.
      {"DefaultEndpointsProtocol=HTTP;AccountName=acct" + key, cloud, cloud2},
      {"DefaultEndpointsProtocol=https;AccountName=acct" + key, cloud, cloud2},
      {"DefaultEndpointsProtocol=ftp;AccountName=acct" + key, cloud, cloud2},
      {"AccountName=acct" + key + ";BlobEndpoint=http://127.0.0.1:10000/devstoreaccount1",
       "http://127.0.0.1:10000/devstoreaccount1", "<none>"},
      // Pieces without "=" are skipped and later pieces win.
      {";;garbage;AccountName=first;AccountName=acct" + key + ";novalue;;", cloud, cloud2},
      // No blob address can be formed; keys are case-sensitive.
      {"", "<none>", "<none>"},
      {key.substr(1), "<none>", "<none>"},
      {"accountname=x" + key, "<none>", "<none>"},
      {"BlobEndpoint=ftp://h.example/x", "<none>", "<none>"},
      {"BlobEndpoint=http://h.example/a b", "<none>", "<none>"},
      {"AccountName=a/b" + key, "<none>", "<none>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto account = AZSCloudStorageAccount::accountFromConnectionString(c.text);
    ASSERT_EQ(account != nullptr, c.primary != "<none>");
    if (!account) continue;
    EXPECT_EQ(primary(account->blob_endpoint), c.primary);
    auto secondary = account->blob_endpoint.secondaryUri;
    EXPECT_EQ(secondary ? secondary->string() : "<none>", c.secondary);
    EXPECT_EQ(account->useHttps, c.text.find("DefaultEndpointsProtocol=http;") == std::string::npos);
    EXPECT_EQ(account->explicitEndpoints, c.text.find("BlobEndpoint=") != std::string::npos);
    EXPECT_EQ(account->connectionString, c.text);
    ASSERT_TRUE(account->storageCredentials->isSharedKey());
    EXPECT_EQ(account->storageCredentials->accountName, "acct");
    std::string keyText(account->storageCredentials->accountKey.begin(), account->storageCredentials->accountKey.end());
    EXPECT_EQ(keyText, "secret-key-bytes");  // the "==" after the first "=" belongs to the value
  }
  EXPECT_EQ(AZSCloudStorageAccount::accountFromConnectionString(cases[0].text)->endpointSuffix, "example.test");
}

TEST(ConnectionString, CredentialsDecideTheSigner) {
  auto shared = AZSCloudStorageAccount::accountFromConnectionString("AccountName=a;AccountKey=" + std::string(kKey));
  auto sas = AZSCloudStorageAccount::accountFromConnectionString(
      "AccountName=a;SharedAccessSignature=sv=1&sig=abc;BlobEndpoint=https://h.example/");
  auto none = AZSCloudStorageAccount::accountFromConnectionString("BlobEndpoint=https://h.example/a");
  auto badKey = AZSCloudStorageAccount::accountFromConnectionString("AccountName=a;AccountKey=not*base64");
  ASSERT_TRUE(shared && sas && none && badKey);
  EXPECT_TRUE(
      dynamic_cast<AZSSharedKeyBlobAuthenticationHandler*>(shared->getBlobClient()->authenticationHandler.get()));
  EXPECT_TRUE(sas->storageCredentials->isSAS());
  EXPECT_TRUE(dynamic_cast<AZSNoOpAuthenticationHandler*>(sas->getBlobClient()->authenticationHandler.get()));
  EXPECT_TRUE(dynamic_cast<AZSNoOpAuthenticationHandler*>(none->getBlobClient()->authenticationHandler.get()));
  EXPECT_TRUE(badKey->storageCredentials->isSharedKey());
  EXPECT_TRUE(badKey->storageCredentials->accountKey.empty());
  // A signature's token travels in the query of every address.
  auto transformed = sas->storageCredentials->transformWithStorageUri(sas->blob_endpoint);
  EXPECT_EQ(primary(transformed), "https://h.example/?sv=1&sig=abc");
}

TEST(Addressing, ContainerAndBlobAddressesExtendThePath) {
  auto account =
      AZSCloudStorageAccount::accountFromConnectionString("AccountName=acct;AccountKey=" + std::string(kKey));
  auto container = account->getBlobClient()->containerReferenceFromName("reports");
  auto blob = container->blockBlobReferenceFromName("email.txt");
  EXPECT_EQ(primary(container->storageUri), "https://acct.blob.core.windows.net/reports");
  EXPECT_EQ(container->storageUri.secondaryUri->string(), "https://acct-secondary.blob.core.windows.net/reports");
  EXPECT_EQ(primary(blob->storageUri), "https://acct.blob.core.windows.net/reports/email.txt");
  EXPECT_EQ(blob->properties.blobType, AZSBlobTypeBlockBlob);
  // A file name can hold characters that would end a path or start a query.
  auto odd = container->blockBlobReferenceFromName("my clip #2?.mov");
  EXPECT_EQ(primary(odd->storageUri), "https://acct.blob.core.windows.net/reports/my%20clip%20%232%3F.mov");
  // The references keep what they stand on alive.
  std::weak_ptr<AZSCloudBlobClient> client = container->client;
  container.reset();
  account.reset();
  EXPECT_FALSE(client.expired());
  EXPECT_EQ(blob->blobContainer->name, "reports");
}

TEST(RequestBuilders, EachOperationHasItsMethodQueryAndHeaders) {
  AZSOperationContext ctx;
  auto base = url("https://acct.blob.core.windows.net/c?existing=1");

  HttpRequest head = AZSBlobRequestFactory::fetchContainerAttributesWithAccessCondition(nullptr, base, 60, ctx);
  EXPECT_EQ(head.url.string(), "https://acct.blob.core.windows.net/c?existing=1&restype=container");
  EXPECT_EQ(head.timeoutInterval, 60);
  EXPECT_EQ(head.valueForHeader("x-ms-version"), "2015-02-21");
  EXPECT_EQ(head.valueForHeader("User-Agent"), "iOS-v0.1.1");
  EXPECT_FALSE(head.valueForHeader("If-Match"));
  EXPECT_FALSE(head.valueForHeader("x-ms-lease-id"));

  auto plain = url("https://acct.blob.core.windows.net/c");
  EXPECT_EQ(AZSBlobRequestFactory::createContainerWithAccessType(0, {}, plain, 60, ctx).headers.size(), 2u);
  HttpRequest create = AZSBlobRequestFactory::createContainerWithAccessType(1, {{"owner", "qa"}}, plain, 5, ctx);
  EXPECT_EQ(create.method, "PUT");
  EXPECT_EQ(create.url.string(), "https://acct.blob.core.windows.net/c?restype=container");
  EXPECT_EQ(create.valueForHeader("x-ms-blob-public-access"), "container");
  EXPECT_EQ(create.valueForHeader("x-ms-meta-owner"), "qa");
  EXPECT_EQ(AZSBlobRequestFactory::createContainerWithAccessType(2, {}, plain, 5, ctx)
                .valueForHeader("x-ms-blob-public-access"),
            "blob");

  AZSAccessCondition lease;
  lease.leaseId = "lease-1";
  auto blobUrl = url("https://acct.blob.core.windows.net/c/b");
  HttpRequest block =
      AZSBlobRequestFactory::putBlockWithLength(0, "YmxvY2s=", std::string("bWQ1"), &lease, blobUrl, 5, ctx);
  EXPECT_EQ(block.url.string(), "https://acct.blob.core.windows.net/c/b?comp=block&blockid=YmxvY2s%3D");
  EXPECT_EQ(block.valueForHeader("Content-Length"), "0");
  EXPECT_EQ(block.valueForHeader("Content-MD5"), "bWQ1");
  EXPECT_EQ(block.valueForHeader("x-ms-lease-id"), "lease-1");

  AZSBlobProperties props;
  props.contentType = "text/plain";
  props.contentMD5 = "abc=";
  HttpRequest list =
      AZSBlobRequestFactory::putBlockListWithLength(42, props, std::nullopt, {}, nullptr, blobUrl, 5, ctx);
  EXPECT_EQ(list.valueForHeader("Content-Length"), "42");
  EXPECT_EQ(list.valueForHeader("x-ms-blob-content-type"), "text/plain");
  EXPECT_EQ(list.valueForHeader("x-ms-blob-content-md5"), "abc=");
  EXPECT_FALSE(list.valueForHeader("x-ms-blob-cache-control"));
  EXPECT_FALSE(list.valueForHeader("Content-MD5"));
}

TEST(RequestBuilders, AccessConditionsAndHeaderValuesAreSafe) {
  AZSAccessCondition condition;
  condition.ifMatchETag = "\"0x1\"";
  condition.ifModifiedSinceDate = 0;
  HttpRequest r = AZSRequestFactory::getRequestWithUrlComponents(url("http://h/c"), 5);
  AZSRequestFactory::addAccessConditionToRequest(r, &condition);
  EXPECT_EQ(r.valueForHeader("If-Match"), "\"0x1\"");
  EXPECT_EQ(r.valueForHeader("If-Modified-Since"), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_FALSE(r.valueForHeader("If-None-Match"));
  // A caller's text cannot smuggle a header of its own into the request.
  AZSRequestFactory::addMetadataToRequest(r, {{"note", "a\r\nAuthorization: x"}});
  EXPECT_EQ(r.valueForHeader("x-ms-meta-note"), "a  Authorization: x");
  EXPECT_FALSE(r.valueForHeader("Authorization"));
}

TEST(SharedKeySigning, StringToSignFollowsTheCanonicalForm) {
  auto creds = std::make_shared<AZSStorageCredentials>(AZSStorageCredentials::initWithAccountName("acct", {1, 2, 3}));
  AZSSharedKeyBlobAuthenticationHandler handler(creds);
  HttpRequest r = AZSRequestFactory::putRequestWithUrlComponents(
      url("https://acct.blob.core.windows.net/c/b?comp=block&blockid=QUJD%3D&Restype=x"), 60);
  r.setValue("Content-Length", "0");
  r.setValue("Content-Type", "text/plain");
  r.setValue("x-ms-version", "2015-02-21");
  r.setValue("x-ms-date", "Sun, 06 Dec 2026 17:00:00 GMT");
  r.setValue("x-ms-meta-Note", "two\twords");
  r.setValue("X-MS-IGNORED", "not canonical: the prefix test is case-sensitive");
  r.setValue("If-Match", "etag");
  std::string expected =
      "PUT\n"
      "\n"
      "\n"
      "\n"  // Content-Length 0 gives an empty line
      "\n"
      "text/plain\n"
      "\n"
      "\n"
      "etag\n"
      "\n"
      "\n"
      "\n"
      "x-ms-date:Sun, 06 Dec 2026 17:00:00 GMT\n"
      "x-ms-meta-note:two words\n"
      "x-ms-version:2015-02-21\n"
      "/acct/c/b\n"
      "blockid:QUJD=\n"
      "comp:block\n"
      "restype:x";
  EXPECT_EQ(handler.stringToSign(r), expected);

  HttpRequest root = AZSRequestFactory::getRequestWithUrlComponents(url("https://acct.blob.core.windows.net"), 60);
  root.setValue("Content-Length", "12");
  std::string rootText = handler.stringToSign(root);
  EXPECT_EQ(rootText.substr(0, 8), "GET\n\n\n12");
  EXPECT_EQ(rootText.substr(rootText.size() - 7), "\n/acct/");
}

TEST(SharedKeySigning, AuthorizationIsTheHmacOfTheStringToSign) {
  std::string keyHex = "00112233445566778899aabbccddeeff";
  std::vector<uint8_t> key;
  for (size_t i = 0; i < keyHex.size(); i += 2)
    key.push_back(static_cast<uint8_t>(std::stoi(keyHex.substr(i, 2), nullptr, 16)));
  auto creds = std::make_shared<AZSStorageCredentials>(AZSStorageCredentials::initWithAccountName("acct", key));
  AZSSharedKeyBlobAuthenticationHandler handler(creds);
  handler.clock = [] { return std::time_t(1700000000); };
  HttpRequest r = AZSRequestFactory::headRequestWithUrlComponents(
      url("https://acct.blob.core.windows.net/c?restype=container"), 60);
  AZSOperationContext ctx;
  std::vector<std::string> logged;
  ctx.logLevel = 4;
  ctx.logFunction = [&](int64_t, const std::string& m) { logged.push_back(m); };
  ASSERT_FALSE(handler.signRequest(r, ctx));
  EXPECT_EQ(r.valueForHeader("x-ms-date"), "Tue, 14 Nov 2023 22:13:20 GMT");
  std::string text = handler.stringToSign(r);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "String to sign = " + text);

  // An independent HMAC-SHA256 to compare with.
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("msg"), std::vector<uint8_t>(text.begin(), text.end()));
  auto out = testsupport::runCommand("openssl dgst -sha256 -mac HMAC -macopt hexkey:" + keyHex + " -binary " +
                                     testsupport::shellQuote(dir.file("msg")) + " | openssl base64 -A");
  ASSERT_EQ(out.exitCode, 0) << out.output;
  EXPECT_EQ(r.valueForHeader("Authorization"), "SharedKey acct:" + out.output);
}

TEST(SharedKeySigning, UnformattableDateIsAnErrorNotAnException) {
  auto creds = std::make_shared<AZSStorageCredentials>(AZSStorageCredentials::initWithAccountName("acct", {1}));
  AZSSharedKeyBlobAuthenticationHandler handler(creds);
  // A five-digit year does not fit the date's 30 bytes.
  handler.clock = [] { return std::time_t(253402300800); };
  HttpRequest r = AZSRequestFactory::headRequestWithUrlComponents(url("https://h/c"), 60);
  AZSOperationContext ctx;
  auto error = handler.signRequest(r, ctx);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, AZSErrorDomain);
  EXPECT_EQ(error->code, AZSERequestSigningError);
  EXPECT_EQ(error->stringFor("ExceptionName"), "Error in date/time format");
  EXPECT_FALSE(r.valueForHeader("Authorization"));
}

TEST(Encoding, Base64AndMd5) {
  using namespace qvr::azs;
  EXPECT_EQ(base64Encode(md5(nullptr, 0)), "1B2M2Y8AsgTpgAmY7PhCfg==");
  EXPECT_EQ(base64Encode(std::string("blockid")), "YmxvY2tpZA==");
  EXPECT_EQ(base64Decode("YmxvY2tpZA=="), std::vector<uint8_t>({'b', 'l', 'o', 'c', 'k', 'i', 'd'}));
  EXPECT_EQ(base64Decode(""), std::vector<uint8_t>());
  for (const char* bad : {"YmxvY2tpZA=", "Ym=vY2tp", "YmxvY2tpZA=A", "Ym*v", "A==="})
    EXPECT_FALSE(base64Decode(bad)) << bad;
  std::string uuid = uuidString();
  ASSERT_EQ(uuid.size(), 36u);
  EXPECT_EQ(uuid[14], '4');
  EXPECT_NE(uuid, uuidString());
}
