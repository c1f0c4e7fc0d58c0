#pragma once

#include <cstdint>

// Error domain, codes and userInfo keys of the blob storage client.
inline constexpr const char* AZSErrorDomain = "com.Microsoft.AzureStorage.ErrorDomain";

enum AZSErrorCode : int64_t {
  AZSEContentMD5Missing = 1,    // put block list asked to store a content MD5 that is not set
  AZSEURLSessionError = 2,      // the HTTP exchange failed without an answer
  AZSEServerError = 3,          // the answer's status is not accepted, or there was no answer at all
  AZSEOperationExpired = 5,     // the operation's expiry time passed before the request was sent
  AZSEXMLParseError = 6,        // an error answer's body could not be parsed
  AZSEXMLCreationError = 7,     // the block list body could not be written
  AZSERequestSigningError = 8,  // the request could not be signed (its date could not be formatted)
};

inline constexpr const char* AZSInnerErrorKey = "InnerError";
inline constexpr const char* AZSHttpStatusCodeKey = "HTTP Status Code";
inline constexpr const char* AZSURLResponseKey = "URLResponse";
inline constexpr const char* AZSRequestResultKey = "RequestResult";
inline constexpr const char* AZSOperationContextKey = "OperationContext";
inline constexpr const char* AZSRawErrorDataKey = "rawErrorData";
inline constexpr const char* AZSErrorCodeKey = "Code";
inline constexpr const char* AZSErrorMessageKey = "Message";
inline constexpr const char* AZSAdditionalErrorDetailsKey = "AdditionalErrorDetails";
inline constexpr const char* AZSXmlReturnCodeKey = "xmlReturnCode";
inline constexpr const char* AZSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* AZSExceptionNameKey = "ExceptionName";
inline constexpr const char* AZSExceptionReasonKey = "ExceptionReason";
