#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "app/gui/InstanceLock.h"
#include "app/gui/PlatformServices.h"

class coreWindow;

namespace qvr {

// The desktop as Qt and Linux offer it.
class QtPlatformServices : public PlatformServices {
 public:
  QtPlatformServices() = default;

  // Panels and alerts are shown over this window.
  void setDialogParent(QWidget* parent) { dialogParent_ = parent; }

  std::optional<std::string> runOpenPanel(const OpenPanelOptions& options) override;
  int runAlert(const AlertRequest& alert) override;
  int runningInstanceCount(const std::string& bundleIdentifier) override;
  std::string workingFolder() override;
  std::string loginName() override;
  std::string homeFolder() override;
  std::optional<std::string> fullPathForApplication(const std::string& name) override;
  bool openURL(const std::string& address) override;
  bool isConnectedToInternet() override;
  void terminate() override;
  bool showDocument(const std::string& title, const std::string& text) override;

  bool terminateRequested() const { return terminateRequested_; }

  // Called with each alert window once it is on screen (the screenshot tour photographs it and
  // then presses a button through the returned index; -1 leaves it to the user).
  std::function<int(coreWindow& alert)> alertShown;

  // The alert window itself, so that other windows can be built the same way.
  static coreWindow* makeAlertWindow(const AlertRequest& alert, QWidget* parent);

 private:
  QPointer<QWidget> dialogParent_;
  QPointer<QWidget> documentWindow_;
  InstanceLock lock_;
  bool terminateRequested_ = false;
};

}  // namespace qvr
