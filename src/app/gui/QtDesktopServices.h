#pragma once

#include <QPointer>
#include <QWidget>

#include "app/gui/DesktopServices.h"
#include "app/gui/PreviewWindow.h"

namespace qvr {

// Saving, previewing and starting programs as Qt and Linux offer them.
class QtDesktopServices : public DesktopServices {
 public:
  QtDesktopServices() = default;
  ~QtDesktopServices() override;

  // Panels are shown over this window.
  void setDialogParent(QWidget* parent) { dialogParent_ = parent; }

  std::optional<std::string> runSavePanel(const SavePanelOptions& options) override;
  std::optional<std::string> runApplicationPanel(const std::string& startingFolder) override;
  bool isWritableFolder(const std::string& folder) override;
  std::optional<uint64_t> freeSpace(const std::string& path) override;
  bool revealFile(const std::string& path) override;
  bool startDetached(const std::string& program, const std::vector<std::string>& arguments) override;
  void showPreview(const std::string& path) override;

  PreviewWindow* previewWindow() const { return preview_; }

 private:
  QPointer<QWidget> dialogParent_;
  QPointer<PreviewWindow> preview_;
};

}  // namespace qvr
