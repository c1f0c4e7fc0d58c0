#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The texts, checks and identifiers of the error report.
namespace qvr::report {

inline constexpr const char* kEnterEmail = "Please enter email address.";
inline constexpr const char* kDescribeIssue = "Please provide more information about the issue.";
inline constexpr const char* kInvalidEmail = "Enter a valid Email Address.";
inline constexpr const char* kAddFiles = "Please add files to upload.";
inline constexpr const char* kSelectFile = "Select a file to upload.";
inline constexpr const char* kDriveLinkMissing = "Please provide the file link of Google drive.";
inline constexpr const char* kCheckInternet = "Please check your internet connection and try again.";
inline constexpr const char* kAlreadyInList = "Slected file is already in list.";
inline constexpr const char* kClickToRemove = "Click on the file to remove.";
inline constexpr const char* kAbortQuestion = "Do you really want to abort the process?";
inline constexpr const char* kAborting = "Aborting please wait...";
inline constexpr const char* kMailRefused =
    "The support service did not accept the report. Please try again later or contact support directly.";
inline constexpr const char* kSendingReport = "Sending the report...";
inline constexpr const char* kNotConfigured =
    "The error report service is not configured on this computer. Please contact support directly.";

inline constexpr const char* kMailImage = "Mail";
inline constexpr const char* kInformationImage = "information-icon";

inline constexpr const char* kEmailBlobName = "email.txt";
inline constexpr const char* kErrorLogName = "errorlog.txt";
inline constexpr uint64_t kBlockSize = 1048576;

}  // namespace qvr::report

namespace qvr {

// At most one "@", then something, "@", dot-separated labels of letters, digits and "-", the last of
// at least two letters. Checked by hand: linear in the length, whatever was pasted into the field.
bool validateEmailWithString(const std::string& email);

// `length` characters drawn uniformly from letters and digits; empty for a length below 1.
std::string randomStringWithLength(int32_t length);

// A new random UUID in lower case without "-" (32 characters): report ids and container names.
std::string newReportIdentifier();

// "Hollin Video Repair Tool Mac - Error Report x" and ten random characters.
std::string reportMailSubject();

// The description, each of `lines` (links or the Drive link), the system and the report id, each
// after an empty line.
std::string reportMailBody(const std::string& description, const std::vector<std::string>& lines,
                           const std::string& operatingSystem, const std::string& reportId);

}  // namespace qvr
