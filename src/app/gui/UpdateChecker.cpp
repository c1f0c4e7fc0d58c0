#include "app/gui/UpdateChecker.h"

#include <QMetaObject>

#include "foundation/FileSystem.h"
#include "foundation/Log.h"
#include "foundation/PropertyList.h"
#include "foundation/UrlLoader.h"

namespace qvr {

std::string escapeSpaces(const std::string& address) {
  std::string out;
  for (char c : address) {
    if (c == ' ') {
      out += "%20";
    } else {
      out += c;
    }
  }
  return out;
}

bool checkForUpdate(const std::string& cloudPlistUrl, const std::string& localVersion, std::chrono::seconds timeout) {
  if (cloudPlistUrl.empty() || localVersion.empty()) return false;
  HttpRequest request;
  request.url = escapeSpaces(cloudPlistUrl);
  request.timeout = timeout;
  const HttpResponse response = performHttpRequest(request);
  if (!response.ok()) {
    log("Update check: no version list from %s (%ld %s)", request.url.c_str(), response.status, response.error.c_str());
    return false;
  }
  const std::optional<PropertyDictionary> published = parsePropertyList(response.body);
  if (!published) return false;
  const auto version = published->find("CFBundleShortVersionString");
  if (version == published->end()) return false;
  return version->second != localVersion;
}

std::string updaterProgram(const std::string& workingFolder) {
  const std::string bundle = workingFolder + "/.refresher";
  if (fs::isDirectory(bundle)) return bundle + "/refresher";
  return bundle;
}

std::string updaterAgent(const std::string& workingFolder) { return workingFolder + "/.refresher/Refresher Agent"; }

AlertRequest updateAlert() {
  return {"A newer version of Hollin Video Repair Tool is available",
          "Do you want to update",
          {"YES", "NO"},
          AlertStyle::Informational};
}

UpdateChecker::UpdateChecker(PlatformServices& platform, DesktopServices& desktop, std::string cloudPlistUrl,
                             std::string localVersion)
    : platform_(platform),
      desktop_(desktop),
      cloudPlistUrl_(std::move(cloudPlistUrl)),
      localVersion_(std::move(localVersion)) {}

UpdateChecker::~UpdateChecker() {
  if (worker_.joinable()) worker_.join();
}

void UpdateChecker::checkForUpdateClicked(bool userAsked) {
  if (running_) return;
  if (worker_.joinable()) worker_.join();
  // The connectivity test belongs to the GUI thread; only the download goes to the worker.
  if (!platform_.isConnectedToInternet()) {
    answerOnGui(false, userAsked);
    return;
  }
  running_ = true;
  worker_ = std::thread([this, userAsked, url = cloudPlistUrl_, version = localVersion_, limit = timeout] {
    const bool available = checkForUpdate(url, version, limit);
    QMetaObject::invokeMethod(
        this,
        [this, available, userAsked] {
          running_ = false;
          answerOnGui(available, userAsked);
        },
        Qt::QueuedConnection);
  });
}

void UpdateChecker::answerOnGui(bool available, bool userAsked) {
  const std::string working = platform_.workingFolder();
  if (available) {
    if (platform_.runAlert(updateAlert()) != 1) {
      if (!desktop_.startDetached(updaterProgram(working), {})) log("Could not start the updater");
    }
  } else if (userAsked) {
    if (!desktop_.startDetached(updaterAgent(working), {})) log("Could not start the updater's agent");
  }
  if (finished) finished(available);
}

}  // namespace qvr
