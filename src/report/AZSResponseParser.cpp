#include "report/AZSResponseParser.h"

#include <libxml/parser.h>

#include <cstring>
#include <string>

#include "foundation/PropertyList.h"
#include "report/AZSErrors.h"
#include "report/AZSOperationContext.h"
#include "report/AZSRequestResult.h"

namespace {

struct ErrorBodyParse {
  AZSOperationContext* context = nullptr;
  xmlParserCtxtPtr parser = nullptr;
  std::vector<std::string> stack;
  std::string text;
  bool mismatch = false;
  qvr::UserInfo entries;
  qvr::UserInfo additional;
};

void onStartElement(void* user, const xmlChar* name, const xmlChar**) {
  auto* p = static_cast<ErrorBodyParse*>(user);
  std::string n = reinterpret_cast<const char*>(name);
  p->context->logAtLevel(5, "Beginning to parse element with name = %s", n.c_str());
  p->stack.push_back(n);
  if (!p->text.empty()) p->text.clear();
}

void onEndElement(void* user, const xmlChar* name) {
  auto* p = static_cast<ErrorBodyParse*>(user);
  std::string n = reinterpret_cast<const char*>(name);
  p->context->logAtLevel(5, "Ending to parse element with name = %s", n.c_str());
  if (p->stack.empty() || p->stack.back() != n) {
    p->mismatch = true;
    xmlStopParser(p->parser);
    return;
  }
  p->stack.pop_back();
  if (!p->stack.empty() && p->stack.back() == "Error") {
    if (n == AZSErrorCodeKey || n == AZSErrorMessageKey) {
      p->entries[n] = p->text;
    } else {
      p->additional[n] = p->text;
    }
  }
}

void onCharacters(void* user, const xmlChar* chars, int len) {
  auto* p = static_cast<ErrorBodyParse*>(user);
  std::string piece(reinterpret_cast<const char*>(chars), static_cast<size_t>(len));
  p->context->logAtLevel(5, "Found characters = %s", piece.c_str());
  p->text += piece;
}

void quietly(void*, const char*, ...) {}

}  // namespace

std::optional<qvr::Error> AZSResponseParser::preprocessResponseWithResponse(const qvr::azs::HttpResponse& response,
                                                                            const AZSRequestResult& requestResult,
                                                                            AZSOperationContext& operationContext) {
  switch (response.statusCode) {
    case 200:
    case 201:
    case 202:
    case 204:
    case 206:
      return std::nullopt;
    default:
      break;
  }
  qvr::UserInfo info;
  info[AZSHttpStatusCodeKey] = static_cast<int64_t>(response.statusCode);
  info[AZSURLResponseKey] = responseUserInfo(response);
  info[AZSRequestResultKey] = requestResult.userInfo();
  info[AZSOperationContextKey] = qvr::UserInfo{{"clientRequestId", operationContext.clientRequestId}};
  return qvr::Error(AZSErrorDomain, AZSEServerError, std::move(info));
}

qvr::Error AZSResponseParser::processErrorResponseWithData(const std::vector<uint8_t>& body, qvr::Error error,
                                                           AZSOperationContext& operationContext) {
  if (body.empty()) return error;
  std::string raw(body.begin(), body.end());
  error.userInfo[AZSRawErrorDataKey] = raw;

  ErrorBodyParse parse;
  parse.context = &operationContext;
  // The service's error bodies never carry a document type; one that does is not trusted with entities.
  bool ok = raw.size() < (1u << 30) && raw.find("<!DOCTYPE") == std::string::npos &&
            raw.find("<!ENTITY") == std::string::npos;
  if (ok) {
    xmlSAXHandler handler;
    std::memset(&handler, 0, sizeof handler);
    handler.startElement = onStartElement;
    handler.endElement = onEndElement;
    handler.characters = onCharacters;
    handler.cdataBlock = onCharacters;
    handler.warning = quietly;
    handler.error = quietly;
    handler.fatalError = quietly;
    qvr::prepareXmlParser();
    parse.parser = xmlCreatePushParserCtxt(&handler, &parse, nullptr, 0, nullptr);
    if (!parse.parser) {
      ok = false;
    } else {
      xmlCtxtUseOptions(parse.parser, XML_PARSE_NONET);
      int rc = xmlParseChunk(parse.parser, raw.data(), static_cast<int>(raw.size()), 1);
      ok = rc == 0 && parse.parser->wellFormed && !parse.mismatch;
      xmlFreeParserCtxt(parse.parser);
    }
  }
  if (!ok) {
    operationContext.logAtLevel(5, "Parse unsuccessful.");
    return qvr::Error(AZSErrorDomain, AZSEXMLParseError,
                      {{AZSInnerErrorKey, AZSResponseParser::userInfoForInnerError(error)}});
  }
  for (auto& [key, value] : parse.entries) error.userInfo[key] = value;
  if (!parse.additional.empty()) error.userInfo[AZSAdditionalErrorDetailsKey] = parse.additional;
  return error;
}

qvr::UserInfo AZSResponseParser::userInfoForInnerError(const qvr::Error& error) {
  return qvr::UserInfo{{"domain", error.domain}, {"code", error.code}, {"userInfo", error.userInfo}};
}
