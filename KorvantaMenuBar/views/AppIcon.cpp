#include "views/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace kmb {

QIcon appIcon()
{
    QSvgRenderer renderer(QStringLiteral(":/icons/AppIcon.svg"));
    if (!renderer.isValid())
        return {};
    QIcon icon;
    for (int side : {16, 18, 22, 24, 32, 36, 44, 48, 64, 128}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace kmb
