#include "app/gui/coreWindow.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QPainter>
#include <QScreen>

#include "app/gui/Theme.h"
#include "app/gui/ViewTransparent.h"

namespace {
QPointer<QWidget>& mainWindowSlot() {
  static QPointer<QWidget> window;
  return window;
}
}  // namespace

coreWindow::coreWindow(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setModal(false);
  setWindowModality(Qt::WindowModal);
  setAttribute(Qt::WA_StyledBackground);
  setAutoFillBackground(false);
}

void coreWindow::setApplicationMainWindow(QWidget* window) { mainWindowSlot() = window; }

QWidget* coreWindow::applicationMainWindow() { return mainWindowSlot(); }

void coreWindow::showWindow() { showWindowOnWindow(applicationMainWindow()); }

void coreWindow::showWindowOnWindow(QWidget* parentWindow) {
  // Over a window not on screen (an alert before start-up ends) the dialog stands alone.
  if (parentWindow && !parentWindow->isVisible()) {
    fitToContents();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    parentWindow = nullptr;
  }
  if (parentWindow) {
    if (!overlay_) {
      overlay_ = new ViewTransparent(parentWindow);
    }
    overlay_->setGeometry(0, 0, parentWindow->width(), parentWindow->height());
    overlay_->raise();
    overlay_->show();
    fitToContents();
    const QPoint centre = parentWindow->mapToGlobal(parentWindow->rect().center());
    move(centre - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
  // The first button takes the keyboard, as the first standard button would.
  const auto buttons = findChildren<QAbstractButton*>();
  for (QAbstractButton* button : buttons) {
    if (button->isVisible() && button->isEnabled()) {
      button->setFocus(Qt::OtherFocusReason);
      break;
    }
  }
}

void coreWindow::fitToContents() {
  adjustSize();
  // adjustSize wraps the texts at the size hint's width; a window of fixed width needs the
  // height they take at its own, else long texts are cut or short ones float in space.
  if (minimumWidth() == maximumWidth() && layout() && layout()->hasHeightForWidth()) {
    resize(width(), layout()->totalHeightForWidth(width()));
  }
}

void coreWindow::closeWindow() {
  closingOnPurpose_ = true;
  hide();
  closingOnPurpose_ = false;
  if (overlay_) {
    overlay_->hide();
    overlay_->deleteLater();
    overlay_ = nullptr;
  }
}

void coreWindow::reject() {}

void coreWindow::closeEvent(QCloseEvent* event) {
  if (closingOnPurpose_) {
    event->accept();
  } else {
    event->ignore();
  }
}

void coreWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), Qt::white);
  painter.setPen(QPen(qvr::theme::border(), 1.0));
  painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
  QRectF band(0, 0, width(), 4);
  painter.fillRect(band, qvr::theme::blue());
}
