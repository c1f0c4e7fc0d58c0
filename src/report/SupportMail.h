#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Configuration.h"

namespace qvr {

// Where report mails go and with what key. The key is a secret: it only ever travels in the
// request's Authorization header.
struct MailSettings {
  std::string endpoint;  // scheme and host (and port) of the mail web API
  std::string apiKey;
  std::string supportMailbox;

  static MailSettings fromConfiguration(const Configuration& config);
  bool configured() const { return !endpoint.empty() && !apiKey.empty() && !supportMailbox.empty(); }
  // The endpoint with the mail-send path, unless it already ends in it.
  std::string sendUrl() const;
};

// The mail-send document: one personalization to the support mailbox, the sender, the subject
// and a plain-text body.
std::string composeMailDocument(const std::string& supportMailbox, const std::string& subject,
                                const std::string& sender, const std::string& body);

// How the mail service answered a mail.
enum class MailOutcome { Accepted, Refused, Unreachable };

// Sends report mails, each on a thread of its own; the answer is logged and handed to `done`
// (on the mail's thread) when one is given.
class SupportMailer {
 public:
  explicit SupportMailer(MailSettings settings) : settings_(std::move(settings)) {}
  ~SupportMailer();
  SupportMailer(const SupportMailer&) = delete;
  SupportMailer& operator=(const SupportMailer&) = delete;

  void sendMailWithSubject(const std::string& subject, const std::string& sender, const std::string& message,
                           std::function<void(MailOutcome)> done = nullptr);
  // Returns once every mail sent so far has its answer (or has failed).
  void waitUntilIdle();
  const MailSettings& settings() const { return settings_; }

 private:
  MailSettings settings_;
  std::mutex mutex_;
  std::vector<std::thread> sending_;
};

}  // namespace qvr
