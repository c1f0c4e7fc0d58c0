#include "report/SupportMail.h"

#include <nlohmann/json.hpp>

#include "foundation/Log.h"
#include "foundation/UrlLoader.h"

namespace qvr {

namespace {
constexpr const char* kSendPath = "/v3/mail/send";
}

MailSettings MailSettings::fromConfiguration(const Configuration& config) {
  MailSettings s;
  s.endpoint = config.valueOr(Configuration::kMailEndpoint, "");
  s.apiKey = config.valueOr(Configuration::kMailApiKey, "");
  s.supportMailbox = config.valueOr(Configuration::kSupportMailbox, "");
  return s;
}

std::string MailSettings::sendUrl() const {
  std::string base = endpoint;
  while (!base.empty() && base.back() == '/') base.pop_back();
  const std::string path = kSendPath;
  if (base.size() >= path.size() && base.compare(base.size() - path.size(), path.size(), path) == 0) return base;
  return base + path;
}

std::string composeMailDocument(const std::string& supportMailbox, const std::string& subject,
                                const std::string& sender, const std::string& body) {
  nlohmann::json doc = {
      {"personalizations",
       nlohmann::json::array({{{"to", nlohmann::json::array({{{"email", supportMailbox}}})}, {"subject", subject}}})},
      {"from", {{"email", sender}}},
      {"subject", subject},
      {"content", nlohmann::json::array({{{"type", "text/plain"}, {"value", body}}})},
  };
  // Text the user typed may hold invalid UTF-8; it is replaced rather than refused.
  return doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

SupportMailer::~SupportMailer() { waitUntilIdle(); }

void SupportMailer::sendMailWithSubject(const std::string& subject, const std::string& sender,
                                        const std::string& message, std::function<void(MailOutcome)> done) {
  HttpRequest request;
  request.method = "POST";
  request.url = settings_.sendUrl();
  request.headers["Authorization"] = "Bearer " + settings_.apiKey;
  request.headers["Content-Type"] = "application/json";
  std::string doc = composeMailDocument(settings_.supportMailbox, subject, sender, message);
  request.body.assign(doc.begin(), doc.end());
  request.timeout = std::chrono::seconds(60);

  std::lock_guard lock(mutex_);
  sending_.emplace_back([request = std::move(request), done = std::move(done)] {
    HttpResponse response = performHttpRequest(request);
    MailOutcome outcome = MailOutcome::Accepted;
    if (!response.error.empty()) {
      log("Error sending email: %s", response.error.c_str());
      outcome = MailOutcome::Unreachable;
    } else if (!response.ok()) {
      log("Error sending email: the mail service refused it with HTTP status %ld", response.status);
      outcome = MailOutcome::Refused;
    } else {
      log("Email sent successfully!");
    }
    if (done) done(outcome);
  });
}

void SupportMailer::waitUntilIdle() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(sending_);
  }
  for (auto& t : threads) {
    if (t.joinable()) t.join();
  }
}

}  // namespace qvr
