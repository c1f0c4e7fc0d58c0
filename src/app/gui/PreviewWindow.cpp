#include "app/gui/PreviewWindow.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>
#include <QStackedLayout>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include "app/gui/Formatting.h"
#include "foundation/FileSystem.h"

namespace qvr {

namespace {
QString clock(qint64 ms) { return QString::fromStdString(timeFormStringForInterval(static_cast<double>(ms) / 1000.0)); }
}  // namespace

PreviewWindow::PreviewWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  // The FFmpeg backend decodes H.264, H.265 and AAC by itself, where the GStreamer one depends
  // on which plugins the system happens to have; a choice made by the user stands.
  if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "ffmpeg");
  setObjectName("previewWindow");
  setWindowTitle("Preview");
  resize(720, 480);

  player_ = new QMediaPlayer(this);
  // Sound only where there is a device to play it: the FFmpeg backend's audio thread crashes
  // when it is handed an output without one.
  if (!QMediaDevices::audioOutputs().isEmpty()) {
    audio_ = new QAudioOutput(this);
    player_->setAudioOutput(audio_);
  }

  auto* stage = new QWidget(this);
  stage->setObjectName("previewStage");
  stage->setAutoFillBackground(true);
  QPalette dark = stage->palette();
  dark.setColor(QPalette::Window, Qt::black);
  stage->setPalette(dark);
  auto* stack = new QStackedLayout(stage);
  stack->setStackingMode(QStackedLayout::StackAll);
  video_ = new QVideoWidget(stage);
  video_->setObjectName("previewVideo");
  player_->setVideoOutput(video_);
  message_ = new QLabel(stage);
  message_->setObjectName("previewMessage");
  message_->setAlignment(Qt::AlignCenter);
  message_->setWordWrap(true);
  message_->setStyleSheet("color: white; background: #1b1f27; font-size: 15px; padding: 24px;");
  message_->hide();
  stack->addWidget(message_);
  stack->addWidget(video_);

  playPause_ = new QPushButton("Pause", this);
  playPause_->setObjectName("previewPlayPause");
  position_ = new QSlider(Qt::Horizontal, this);
  position_->setObjectName("previewPosition");
  position_->setRange(0, 0);
  time_ = new QLabel("00:00:00", this);
  time_->setObjectName("previewTime");

  auto* controls = new QHBoxLayout;
  controls->addWidget(playPause_);
  controls->addWidget(position_, 1);
  controls->addWidget(time_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 8);
  layout->addWidget(stage, 1);
  layout->addLayout(controls);

  connect(playPause_, &QPushButton::clicked, this, [this] {
    if (player_->playbackState() == QMediaPlayer::PlayingState) {
      player_->pause();
    } else {
      player_->play();
    }
  });
  connect(player_, &QMediaPlayer::playbackStateChanged, this, [this] { updatePlayButton(); });
  connect(player_, &QMediaPlayer::durationChanged, this,
          [this](qint64 duration) { position_->setRange(0, static_cast<int>(std::min<qint64>(duration, INT_MAX))); });
  connect(player_, &QMediaPlayer::positionChanged, this, [this](qint64 position) {
    if (!position_->isSliderDown()) position_->setValue(static_cast<int>(std::min<qint64>(position, INT_MAX)));
    time_->setText(clock(position));
  });
  connect(position_, &QSlider::sliderMoved, this, [this](int value) { player_->setPosition(value); });
  connect(player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error, const QString& text) {
    if (error == QMediaPlayer::NoError) return;
    showProblem(text.isEmpty() ? QString("This file cannot be played here.") : text);
  });
  connect(player_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
    if (status == QMediaPlayer::InvalidMedia) showProblem("This file cannot be played here.");
  });
}

void PreviewWindow::play(const std::string& path) {
  path_ = path;
  message_->hide();
  message_->clear();
  video_->show();
  setWindowTitle(QString("Preview - %1").arg(QString::fromStdString(fs::fileName(path))));
  if (!player_->isAvailable()) {
    showProblem("Videos cannot be played on this system: no media backend is available.");
    return;
  }
  player_->setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
  player_->play();
}

void PreviewWindow::showProblem(const QString& text) {
  player_->stop();
  message_->setText(QString("The preview cannot show this video.\n%1\nIt may still play in another player.").arg(text));
  message_->show();
  message_->raise();
  video_->hide();
  updatePlayButton();
}

QString PreviewWindow::problem() const {
  return message_->isVisible() || !message_->text().isEmpty() ? message_->text() : QString();
}

bool PreviewWindow::playing() const { return player_->playbackState() == QMediaPlayer::PlayingState; }

void PreviewWindow::updatePlayButton() {
  playPause_->setText(playing() ? "Pause" : "Play");
  playPause_->setEnabled(message_->text().isEmpty());
}

}  // namespace qvr
