#include "app/gui/Images.h"

#include <QFile>
#include <QHash>
#include <QPixmap>
#include <QSvgRenderer>
#include <memory>

// The resources live in this static library; nothing would otherwise pull them into the program.
static void initialiseImageResources() { Q_INIT_RESOURCE(resources); }

namespace qvr {
namespace {

QString resourcePath(const QString& name) { return QStringLiteral(":/images/") + name + QStringLiteral(".svg"); }

// Renderers parse their file once; screens repaint often (hover, animation).
QSvgRenderer* rendererFor(const QString& name) {
  static const bool initialised = (initialiseImageResources(), true);
  (void)initialised;
  static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
  auto it = cache.find(name);
  if (it == cache.end()) {
    std::shared_ptr<QSvgRenderer> renderer;
    if (QFile::exists(resourcePath(name))) renderer = std::make_shared<QSvgRenderer>(resourcePath(name));
    it = cache.insert(name, renderer);
  }
  return it->get();
}

}  // namespace

bool hasImage(const QString& name) {
  QSvgRenderer* renderer = rendererFor(name);
  return renderer && renderer->isValid();
}

void drawImage(QPainter& painter, const QString& name, const QRectF& target) {
  QSvgRenderer* renderer = rendererFor(name);
  if (renderer && renderer->isValid()) renderer->render(&painter, target);
}

QPixmap imagePixmap(const QString& name, const QSize& size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  drawImage(painter, name, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

}  // namespace qvr
