#include "app/gui/ActivityIndicator.h"

#include <QPainter>
#include <QtMath>

#include "app/gui/Theme.h"

ActivityIndicator::ActivityIndicator(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(80);
  connect(&timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % 12;
    update();
  });
}

void ActivityIndicator::startAnimation() { timer_.start(); }

void ActivityIndicator::stopAnimation() {
  timer_.stop();
  update();
}

void ActivityIndicator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal side = std::min(width(), height());
  const QPointF centre(width() / 2.0, height() / 2.0);
  const qreal radius = side * 0.36;
  const qreal dot = side * 0.075;
  for (int i = 0; i < 12; ++i) {
    const int age = (step_ - i + 12) % 12;
    QColor color = qvr::theme::blue();
    color.setAlphaF(isAnimating() ? std::max(0.15, 1.0 - age / 11.0) : 0.35);
    const qreal angle = qDegreesToRadians(i * 30.0 - 90.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QPointF(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle)), dot,
                        dot);
  }
}
