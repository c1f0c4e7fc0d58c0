#pragma once

#include <QWidget>
#include <string>

class QLabel;
class QMediaPlayer;
class QAudioOutput;
class QPushButton;
class QSlider;
class QVideoWidget;

namespace qvr {

// The built-in preview of a repaired movie: the picture, play/pause and a position slider. When
// the media backend cannot play the file the window says so instead of staying black.
class PreviewWindow : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewWindow(QWidget* parent = nullptr);

  // Loads `path` and starts playing.
  void play(const std::string& path);
  const std::string& path() const { return path_; }
  // The text shown in place of the picture; empty while it plays.
  QString problem() const;
  bool playing() const;

  QMediaPlayer* player() const { return player_; }

 private:
  void showProblem(const QString& text);
  void updatePlayButton();

  std::string path_;
  QMediaPlayer* player_ = nullptr;
  QAudioOutput* audio_ = nullptr;
  QVideoWidget* video_ = nullptr;
  QLabel* message_ = nullptr;
  QPushButton* playPause_ = nullptr;
  QSlider* position_ = nullptr;
  QLabel* time_ = nullptr;
};

}  // namespace qvr
