#pragma once

#include <QWidget>

// Laid over the main window while one of its dialogs is up: it draws nothing and swallows every
// pointer event, so the covered window cannot be clicked.
class ViewTransparent : public QWidget {
  Q_OBJECT

 public:
  explicit ViewTransparent(QWidget* parent = nullptr);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
};
