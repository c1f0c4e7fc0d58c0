#include "app/gui/QtDesktopServices.h"

#include <unistd.h>

#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>
#include <QUrl>

#include "foundation/FileSystem.h"

namespace qvr {

QtDesktopServices::~QtDesktopServices() { delete preview_.data(); }

std::optional<std::string> QtDesktopServices::runSavePanel(const SavePanelOptions& options) {
  QFileDialog dialog(dialogParent_, "Save the repaired video");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(options.prompt));
  // The typed name becomes a new folder, so there is nothing to overwrite.
  QFileDialog::Options flags = QFileDialog::DontConfirmOverwrite;
  if (!options.canCreateDirectories) flags |= QFileDialog::ReadOnly;
  dialog.setOptions(flags);
  dialog.setFilter(options.showsHiddenFiles ? QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot
                                            : QDir::AllEntries | QDir::NoDotAndDotDot);
  if (!options.startingFolder.empty()) dialog.setDirectory(QString::fromStdString(options.startingFolder));
  dialog.selectFile(QString::fromStdString(options.nameFieldValue));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtDesktopServices::runApplicationPanel(const std::string& startingFolder) {
  const QString path =
      QFileDialog::getOpenFileName(dialogParent_, "Choose a player", QString::fromStdString(startingFolder),
                                   "Applications (*.desktop);;Programs (*)");
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

bool QtDesktopServices::isWritableFolder(const std::string& folder) {
  return fs::isDirectory(folder) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::optional<uint64_t> QtDesktopServices::freeSpace(const std::string& path) { return fs::freeSpace(path); }

bool QtDesktopServices::revealFile(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(fs::parentPath(path))));
}

bool QtDesktopServices::startDetached(const std::string& program, const std::vector<std::string>& arguments) {
  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromStdString(argument);
  return QProcess::startDetached(QString::fromStdString(program), list);
}

void QtDesktopServices::showPreview(const std::string& path) {
  if (!preview_) preview_ = new PreviewWindow(nullptr);
  preview_->play(path);
  preview_->show();
  preview_->raise();
  preview_->activateWindow();
}

}  // namespace qvr
