#pragma once

#include <QTimer>
#include <QWidget>

// The turning ring shown while a job runs; it stands still while paused.
class ActivityIndicator : public QWidget {
  Q_OBJECT

 public:
  explicit ActivityIndicator(QWidget* parent = nullptr);
  void startAnimation();
  void stopAnimation();
  bool isAnimating() const { return timer_.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  QSize sizeHint() const override { return QSize(72, 72); }

 private:
  QTimer timer_;
  int step_ = 0;
};
