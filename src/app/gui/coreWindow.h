#pragma once

#include <QDialog>
#include <QPointer>

#include "app/gui/ViewTransparent.h"

// The application's dialog window: white, frameless, fixed in place over its parent window,
// closed only through its own buttons. While shown, the parent's content is covered by a
// ViewTransparent so that it cannot be clicked.
class coreWindow : public QDialog {
  Q_OBJECT

 public:
  explicit coreWindow(QWidget* parent = nullptr);

  // The window that showWindow() covers; the controller sets it to its main window.
  static void setApplicationMainWindow(QWidget* window);
  static QWidget* applicationMainWindow();

  void showWindow();
  void showWindowOnWindow(QWidget* parentWindow);
  // Hides the window and takes the overlay away.
  void closeWindow();
  bool isShowing() const { return isVisible(); }
  ViewTransparent* overlay() const { return overlay_; }

  // Closing from outside (window manager, Escape) does nothing.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void fitToContents();

  QPointer<ViewTransparent> overlay_;
  bool closingOnPurpose_ = false;
};
