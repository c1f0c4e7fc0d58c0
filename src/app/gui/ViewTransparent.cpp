#include "app/gui/ViewTransparent.h"

#include <QMouseEvent>

ViewTransparent::ViewTransparent(QWidget* parent) : QWidget(parent) {
  setObjectName("ViewTransparent");
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_Hover);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setWindowOpacity(0.9);
}

void ViewTransparent::mousePressEvent(QMouseEvent* event) { event->accept(); }
void ViewTransparent::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
void ViewTransparent::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
void ViewTransparent::mouseMoveEvent(QMouseEvent* event) { event->accept(); }
void ViewTransparent::enterEvent(QEnterEvent* event) { event->accept(); }
void ViewTransparent::leaveEvent(QEvent* event) { event->accept(); }
void ViewTransparent::wheelEvent(QWheelEvent* event) { event->accept(); }
