#include "app/gui/svg_picture.h"

#include <QPainter>
#include <QSvgRenderer>

// The pictures are compiled into the static window library, whose
// resource registration the linker would otherwise drop.
static void RegisterPictures() { Q_INIT_RESOURCE(ondalo); }

namespace kiv::gui {

QPixmap SvgPixmap(const QString& resource, QSize size) {
    static const bool registered = (RegisterPictures(), true);
    (void)registered;
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QIcon SvgIcon(const QString& resource, QSize size) { return QIcon(SvgPixmap(resource, size)); }

}  // namespace kiv::gui
