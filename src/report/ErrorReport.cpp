#include "report/ErrorReport.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <optional>
#include <set>

#include "foundation/FileHandle.h"
#include "foundation/FileSystem.h"
#include "foundation/Log.h"
#include "report/AZSBlockListItem.h"
#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudBlobContainer.h"
#include "report/AZSCloudBlockBlob.h"
#include "report/AZSCloudStorageAccount.h"
#include "report/AZSErrors.h"
#include "report/ErrorReportText.h"
#include "report/azs/Crypto.h"

namespace qvr {

namespace {

// An error as the log may show it: never the service's message, which can quote the request's signature.
std::string describe(const Error& error) {
  std::string text = error.domain + " " + std::to_string(error.code);
  if (auto it = error.userInfo.find(AZSHttpStatusCodeKey); it != error.userInfo.end()) {
    text += ", HTTP status " + std::to_string(it->second.integer().value_or(0));
  }
  if (std::string code = error.stringFor(AZSErrorCodeKey); !code.empty()) text += ", " + code;
  return text;
}

std::string blockIdentifier() { return azs::base64Encode(newReportIdentifier()); }

// Two selected files of the same name would otherwise overwrite each other's blob; "email.txt" is taken.
std::string uniqueBlobName(const std::string& fileName, std::set<std::string>& used) {
  std::string name = fileName;
  if (used.count(name)) {
    auto dot = fileName.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
    std::string ext = dot == std::string::npos || dot == 0 ? "" : fileName.substr(dot);
    for (int n = 2; used.count(name); ++n) name = stem + " (" + std::to_string(n) + ")" + ext;
  }
  used.insert(name);
  return name;
}

}  // namespace

ReportServices ReportServices::fromConfiguration(const Configuration& config) {
  ReportServices s;
  s.storageConnectionString = config.valueOr(Configuration::kStorageConnectionString, "");
  s.mail = MailSettings::fromConfiguration(config);
  return s;
}

// The state of one upload, shared between its loop and the storage client's completion handlers.
struct ErrorReport::Upload {
  std::string email;
  std::string description;
  std::string containerName;
  int32_t fileCount = 0;
  std::vector<ReportFile> files;
  std::shared_ptr<AZSCloudBlobContainer> container;

  std::atomic<bool> failed{false};          // some selected file did not arrive
  std::atomic<bool> fileFailed{false};      // the current file did not arrive
  std::atomic<bool> connectionLost{false};  // the upload as a whole cannot go on
  std::atomic<int32_t> started{0};
  std::set<std::string> usedNames{report::kEmailBlobName};

  std::mutex mutex;
  std::condition_variable changed;
  bool ready = true;  // no block or commit in flight
  bool emailPending = false;
  std::vector<std::string> links;

  void setReady() {
    std::lock_guard lock(mutex);
    ready = true;
    changed.notify_all();
  }
  // Waits for the request in flight; the client answers every request exactly once.
  void waitReady() {
    std::unique_lock lock(mutex);
    while (!ready) changed.wait_for(lock, std::chrono::seconds(1));
  }
  void takeReady() {
    std::lock_guard lock(mutex);
    ready = false;
  }
  void emailFinished() {
    std::lock_guard lock(mutex);
    emailPending = false;
    changed.notify_all();
  }
  void waitEmail() {
    std::unique_lock lock(mutex);
    while (emailPending) changed.wait_for(lock, std::chrono::seconds(1));
  }
  std::vector<std::string> uploadedLinks() {
    std::lock_guard lock(mutex);
    return links;
  }
};

ErrorReport::ErrorReport(ReportServices services, ReportPlatform& platform, ErrorReportDelegate& errordelegate,
                         ErrorReportWindowHost& windows)
    : services_(std::move(services)),
      platform_(platform),
      errordelegate_(errordelegate),
      windows_(windows),
      mailer_(services_.mail) {}

ErrorReport::~ErrorReport() {
  if (uploading()) AbortError_ = true;
  waitUntilIdle();
}

void ErrorReport::workStarted() {
  std::lock_guard lock(workMutex_);
  ++work_;
}

void ErrorReport::workEnded() {
  std::lock_guard lock(workMutex_);
  --work_;
  workDone_.notify_all();
}

bool ErrorReport::uploading() const {
  std::lock_guard lock(workMutex_);
  return work_ > 0;
}

std::string ErrorReport::containerName() const {
  std::lock_guard lock(workMutex_);
  return containerName_;
}

void ErrorReport::waitUntilIdle() {
  {
    std::unique_lock lock(workMutex_);
    workDone_.wait(lock, [this] { return work_ == 0; });
  }
  mailer_.waitUntilIdle();
}

int32_t ErrorReport::getselectFile(const std::vector<ReportFile>& files) {
  int32_t n = 0;
  for (const auto& f : files) n += f.select ? 1 : 0;
  return n;
}

void ErrorReport::runAlertWithMessage(const std::string& message, const std::string& image, bool retryButtonHidden) {
  errordelegate_.changeErrorTabViewWithIdentifier("5", "OK", retryButtonHidden);
  windows_.showMessage(message, image);
  windows_.runUploadWindow();
}

void ErrorReport::internetMessage() { runAlertWithMessage(report::kCheckInternet, report::kInformationImage, false); }

bool ErrorReport::servicesConfigured(bool forUpload) {
  bool ok = services_.mail.configured() && (!forUpload || !services_.storageConnectionString.empty());
  if (!ok) {
    log("The error report service is not configured (storage connection string, mail endpoint, key, mailbox)");
    runAlertWithMessage(report::kNotConfigured, report::kInformationImage, true);
  }
  return ok;
}

void ErrorReport::submitErrorReport(const ReportForm& form, const std::vector<ReportFile>& files) {
  using namespace report;
  if (form.email.empty()) return runAlertWithMessage(kEnterEmail, kMailImage, true);
  if (form.description.empty()) return runAlertWithMessage(kDescribeIssue, kInformationImage, true);
  if (!validateEmailWithString(form.email)) return runAlertWithMessage(kInvalidEmail, kMailImage, true);
  form_ = form;
  files_ = files;
  // A new submit is a new report; a mail left from an earlier one is not sent for it.
  setPendingMail(std::nullopt);
  if (form.uploadFiles) {
    if (files.empty()) return runAlertWithMessage(kAddFiles, kInformationImage, true);
    int32_t selected = getselectFile(files);
    if (selected == 0) return runAlertWithMessage(kSelectFile, kInformationImage, true);
    uploadFileWithSelectedCount(selected);
  } else {
    if (form.driveLink.empty()) return runAlertWithMessage(kDriveLinkMissing, kInformationImage, true);
    driveLinkReport();
  }
}

void ErrorReport::retryClicked(const std::vector<ReportFile>& files) {
  // The files of a report whose mail did not go out are stored already: only the mail is sent.
  if (mailPending()) return resendPendingMail();
  files_ = files;
  uploadFileWithSelectedCount(getselectFile(files_));
}

void ErrorReport::setPendingMail(std::optional<ReportMail> mail) {
  std::lock_guard lock(mailMutex_);
  pendingMail_ = std::move(mail);
}

bool ErrorReport::mailPending() const {
  std::lock_guard lock(mailMutex_);
  return pendingMail_.has_value();
}

void ErrorReport::resendPendingMail() {
  std::optional<ReportMail> mail;
  {
    std::lock_guard lock(mailMutex_);
    mail = pendingMail_;
  }
  if (!mail) return;
  if (!platform_.isConnectedToInternet()) return internetMessage();
  errordelegate_.changeErrorTabViewWithIdentifier("2", "Cancel", true);
  errordelegate_.changeUploadFileName(report::kSendingReport);
  windows_.runUploadWindow();
  sendReportMail(*mail, true);
}

void ErrorReport::sendReportMail(ReportMail mail, bool showOutcome) {
  if (showOutcome) setPendingMail(mail);
  workStarted();
  mailer_.sendMailWithSubject(mail.subject, mail.sender, mail.body, [this, showOutcome](MailOutcome outcome) {
    if (showOutcome) {
      if (outcome == MailOutcome::Accepted) {
        setPendingMail(std::nullopt);
        uploadCompleted_ = true;
        errordelegate_.changeErrorTabViewWithIdentifier("4", "Close", true);
      } else {
        uploadCompleted_ = false;
        if (outcome == MailOutcome::Refused) {
          runAlertWithMessage(report::kMailRefused, report::kInformationImage, false);
        } else {
          internetMessage();
        }
      }
    }
    workEnded();
  });
}

void ErrorReport::abortUpload() {
  AbortError_ = true;
  errordelegate_.changeUploadFileName(report::kAborting);
}

void ErrorReport::driveLinkReport() {
  if (!servicesConfigured(false)) return;
  std::string reportId = newReportIdentifier();
  std::string body = reportMailBody(form_.description, {form_.driveLink}, platform_.operatingSystemVersion(), reportId);
  // Here the mail is the whole report: it is sent once the mail service has taken it.
  uploadCompleted_ = false;
  errordelegate_.changeErrorTabViewWithIdentifier("2", "Cancel", true);
  errordelegate_.changeUploadFileName(report::kSendingReport);
  windows_.runUploadWindow();
  sendReportMail({reportMailSubject(), form_.email, body}, true);
}

void ErrorReport::sendMailWithSubject(const std::string& subject, const std::string& sender,
                                      const std::string& message) {
  mailer_.sendMailWithSubject(subject, sender, message);
}

void ErrorReport::uploadFileWithSelectedCount(int32_t count) {
  // A second click before the upload window is up must not start a second upload beside the first.
  if (uploadRunning_) {
    log("An upload is already running");
    return;
  }
  AbortError_ = false;
  uploadCompleted_ = false;
  // A retry with nothing selected would otherwise send a report without any file.
  if (count < 1) return runAlertWithMessage(report::kSelectFile, report::kInformationImage, true);
  if (!servicesConfigured(true)) return;
  if (!platform_.isConnectedToInternet()) return internetMessage();
  // The uploading page goes up before the work starts, so that a failure page the work shows
  // at once is not covered by it.
  errordelegate_.changeErrorTabViewWithIdentifier("2", "Cancel", true);
  errordelegate_.updatePercentageForErrorUpload(0);
  windows_.runUploadWindow();
  startUploadingFileWithWmailID(form_.email, count, form_.description);
}

void ErrorReport::startUploadingFileWithWmailID(const std::string& email, int32_t fileCount,
                                                const std::string& message) {
  auto account = AZSCloudStorageAccount::accountFromConnectionString(services_.storageConnectionString);
  auto client = account ? account->getBlobClient() : nullptr;
  if (!client) {
    log("The storage connection string gives no usable account");
    uploadCompleted_ = false;
    return internetMessage();
  }
  uploadRunning_ = true;
  auto upload = std::make_shared<Upload>();
  upload->email = email;
  upload->description = message;
  upload->fileCount = fileCount;
  upload->files = files_;
  upload->containerName = newReportIdentifier();
  upload->container = client->containerReferenceFromName(upload->containerName);

  {
    std::lock_guard lock(workMutex_);
    containerName_ = upload->containerName;
  }
  workStarted();
  upload->container->createContainerIfNotExistsWithCompletionHandler([this, upload](std::optional<Error> error, bool) {
    if (error && !AbortError_) {
      log("Failed container : %s", describe(*error).c_str());
      uploadCompleted_ = false;
      internetMessage();
      deleteContainer(upload->container, false);
    } else {
      uploadLoop(upload);
    }
    uploadRunning_ = false;
    workEnded();
  });
}

void ErrorReport::uploadLoop(const std::shared_ptr<Upload>& upload) {
  if (!AbortError_) {
    auto emailBlob = upload->container->blockBlobReferenceFromName(report::kEmailBlobName);
    {
      std::lock_guard lock(upload->mutex);
      upload->emailPending = true;
    }
    emailBlob->uploadFromText(upload->email, [this, upload](std::optional<Error> error) {
      if (error && !AbortError_) {
        log("Failed email : %s", describe(*error).c_str());
        upload->connectionLost = true;
      }
      upload->emailFinished();
    });
  }

  for (const ReportFile& file : upload->files) {
    if (AbortError_ || upload->connectionLost) break;
    errordelegate_.updatePercentageForErrorUpload(0);
    if (!file.select) continue;
    if (!fs::isReadableFile(file.filePath)) {
      log("%s does not exist or cannot be read", file.filePath.c_str());
      markFileFailed(*upload, file.filePath, false);
      continue;
    }
    uploadOneFile(upload, file);
  }
  // The address blob may still be on its way; the outcome depends on it too.
  upload->waitEmail();
  finishUpload(*upload);
}

void ErrorReport::markFileFailed(Upload& upload, const std::string& path, bool counted) {
  upload.failed = true;
  upload.fileFailed = true;
  if (counted) --upload.started;
  appendErrorLog(path);
}

void ErrorReport::uploadOneFile(const std::shared_ptr<Upload>& upload, const ReportFile& file) {
  const std::string fileName = fs::fileName(file.filePath);
  const std::string path = file.filePath;
  const int32_t number = ++upload->started;
  auto blob = upload->container->blockBlobReferenceFromName(uniqueBlobName(fileName, upload->usedNames));
  errordelegate_.changeUploadFileName("Uploading (" + std::to_string(number) + "/" + std::to_string(upload->fileCount) +
                                      "): " + fileName);
  upload->fileFailed = false;

  auto handle = ReadHandle::open(path);
  if (!handle) {
    log("%s could not be opened", path.c_str());
    return markFileFailed(*upload, path, true);
  }
  const uint64_t size = handle->size();
  const uint64_t blocks = size < report::kBlockSize ? 1 : (size + report::kBlockSize - 1) / report::kBlockSize;
  const uint64_t blockLength = size < report::kBlockSize ? size : report::kBlockSize;
  std::vector<AZSBlockListItem> blockList;
  upload->setReady();

  for (uint64_t k = 0; k < blocks; ++k) {
    // The answer for the block before may have ended this file or the whole upload.
    upload->waitReady();
    if (AbortError_ || upload->fileFailed || upload->connectionLost) break;
    const uint64_t offset = k * blockLength;
    const uint64_t length = k == blocks - 1 ? size - offset : blockLength;
    std::vector<uint8_t> data(length);
    size_t got = length ? handle->readAt(offset, data.data(), length) : 0;
    if (got != length) {
      // A short block would store a damaged copy that the mail then offers as the user's file.
      log("Failed : %s could not be read at %" PRIu64 " (%zu of %" PRIu64 " bytes)", path.c_str(), offset, got, length);
      markFileFailed(*upload, path, true);
      break;
    }
    std::string id = blockIdentifier();
    blockList.push_back(AZSBlockListItem::initWithBlockID(id, AZSBlockListModeLatest, static_cast<int64_t>(id.size())));

    upload->takeReady();
    errordelegate_.updatePercentageForErrorUpload(100.0 / static_cast<double>(blocks) * static_cast<double>(k));
    log("%" PRIu64 " IN", k);
    blob->uploadBlockFromData(std::move(data), id, [this, upload, path, k](std::optional<Error> error) {
      if (error && !AbortError_) {
        log("Failed : %s", describe(*error).c_str());
        if (platform_.isConnectedToInternet()) {
          markFileFailed(*upload, path, true);
        } else {
          upload->connectionLost = true;
        }
      }
      log("%" PRIu64 " OUT", k);
      upload->setReady();
    });
  }
  upload->waitReady();

  // A file whose block failed is not committed: its blob would hold a part of it.
  if (AbortError_ || upload->fileFailed || upload->connectionLost) return;
  upload->takeReady();
  blob->uploadBlockListFromArray(blockList, [this, upload, blob, path](std::optional<Error> error) {
    log("Committing Block");
    if (error && !AbortError_) {
      if (!platform_.isConnectedToInternet()) {
        log("Failed blockList : %s", describe(*error).c_str());
        upload->connectionLost = true;
      } else {
        log("Failed : %s", describe(*error).c_str());
        markFileFailed(*upload, path, true);
      }
    } else if (!error && blob->storageUri.primaryUri) {
      std::string link = blob->storageUri.primaryUri->string();
      log("%s", link.c_str());
      std::lock_guard lock(upload->mutex);
      upload->links.push_back(link);
    }
    upload->setReady();
  });
  upload->waitReady();
}

void ErrorReport::finishUpload(Upload& upload) {
  if (AbortError_) {
    deleteContainer(upload.container, true);
    return;
  }
  if (upload.connectionLost) {
    uploadCompleted_ = false;
    internetMessage();
    deleteContainer(upload.container, false);
    return;
  }
  const ReportMail mail{reportMailSubject(), upload.email,
                        reportMailBody(upload.description, upload.uploadedLinks(), platform_.operatingSystemVersion(),
                                       upload.containerName)};
  if (upload.failed) {
    if (upload.started == 0) {
      errordelegate_.failedUploadWithHeaderState(true);
    } else {
      errordelegate_.failedUploadWithHeader(std::to_string(upload.started.load()) + " File uploaded sucessfully.");
      errordelegate_.failedUploadWithHeaderState(false);
      sendReportMail(mail, false);
    }
    errordelegate_.changeErrorTabViewWithIdentifier("1", "Close", true);
    return;
  }
  if (!platform_.isConnectedToInternet()) {
    // Everything is stored but the mail cannot go out yet: the files stay, and the retry sends
    // the mail that points at them.
    uploadCompleted_ = false;
    setPendingMail(mail);
    internetMessage();
    return;
  }
  errordelegate_.changeUploadFileName(report::kSendingReport);
  sendReportMail(mail, true);
}

void ErrorReport::deleteContainer(const std::shared_ptr<AZSCloudBlobContainer>& container, bool showAborted) {
  workStarted();
  container->deleteContainerWithCompletionHandler([this, showAborted](std::optional<Error> error) {
    if (!error) {
      log("Deleted.");
      if (showAborted) errordelegate_.changeErrorTabViewWithIdentifier("3", "Close", true);
    } else {
      log("Failed to delete the container : %s", describe(*error).c_str());
      if (showAborted) internetMessage();
    }
    workEnded();
  });
}

std::string ErrorReport::errorLogPath() const {
  std::lock_guard lock(logMutex_);
  return ownLogPath_.empty() ? platform_.errorLogPath() : ownLogPath_;
}

void ErrorReport::appendErrorLog(const std::string& path) {
  std::lock_guard lock(logMutex_);
  if (ownLogPath_.empty()) {
    // A log of the user's own under the same name is neither appended to nor deleted later:
    // this report creates a file of its own, exclusively, under the first free name.
    const std::string wanted = platform_.errorLogPath();
    fs::createDirectories(fs::parentPath(wanted));
    const std::string stem =
        wanted.size() > 4 && wanted.ends_with(".txt") ? wanted.substr(0, wanted.size() - 4) : wanted;
    for (int n = 1; n < 1000 && ownLogPath_.empty(); ++n) {
      const std::string candidate = n == 1 ? wanted : stem + "-" + std::to_string(n) + ".txt";
      if (std::FILE* created = std::fopen(candidate.c_str(), "wx")) {
        std::fclose(created);
        ownLogPath_ = candidate;
      } else if (errno != EEXIST) {
        break;
      }
    }
    if (ownLogPath_.empty()) {
      log("No error log could be created beside %s", wanted.c_str());
      return;
    }
  }
  std::ofstream out(ownLogPath_, std::ios::app | std::ios::binary);
  out << path << " Failed to upload.\n";
  if (!out) log("The error log %s could not be written", ownLogPath_.c_str());
}

void ErrorReport::deleteErrorLog() {
  std::lock_guard lock(logMutex_);
  if (ownLogPath_.empty()) return;
  fs::removeFile(ownLogPath_);
  ownLogPath_.clear();
}

}  // namespace qvr
