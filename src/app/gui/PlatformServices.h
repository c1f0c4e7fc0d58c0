#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr {

// What an open panel offers: the allowed extensions (without dots) and where it starts.
struct OpenPanelOptions {
  std::vector<std::string> allowedFileTypes;
  std::string startingFolder;  // empty: the panel's own choice
  std::string title;
};

enum class AlertStyle { Informational, Warning, Critical };

struct AlertRequest {
  std::string title;
  std::string message;
  std::vector<std::string> buttons;  // the first is the default
  AlertStyle style = AlertStyle::Informational;
};

// Everything the application asks of the desktop it runs on. The application uses the Qt
// implementation; tests and the screenshot tour script the answers.
class PlatformServices {
 public:
  virtual ~PlatformServices() = default;

  // A modal file chooser; the chosen path, or none when cancelled.
  virtual std::optional<std::string> runOpenPanel(const OpenPanelOptions& options) = 0;
  // A modal alert; the index of the button pressed.
  virtual int runAlert(const AlertRequest& alert) = 0;
  // How many copies of the application with this identifier run, the caller included.
  virtual int runningInstanceCount(const std::string& bundleIdentifier) = 0;
  // The folder holding the temporary repaired file.
  virtual std::string workingFolder() = 0;
  virtual std::string loginName() = 0;
  virtual std::string homeFolder() = 0;
  // Where the named application is installed, or none.
  virtual std::optional<std::string> fullPathForApplication(const std::string& name) = 0;
  virtual bool openURL(const std::string& address) = 0;
  virtual bool isConnectedToInternet() = 0;
  // Ends the application once control returns to the event loop.
  virtual void terminate() = 0;
  // A window showing a text to read (the manual); false when this platform has none.
  virtual bool showDocument(const std::string& title, const std::string& text) {
    (void)title;
    (void)text;
    return false;
  }
};

}  // namespace qvr
