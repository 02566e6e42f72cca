// Pictures of the windows, drawn from the program's SVG resources at the
// size asked (sharp on any screen scale).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace kiv::gui {

QPixmap SvgPixmap(const QString& resource, QSize size);
QIcon SvgIcon(const QString& resource, QSize size);

}  // namespace kiv::gui
