#include "views/AppIconView.h"

#include "views/Glyphs.h"
#include "views/ViewKit.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace kmb {

bool appIconAvailable(const QString& resource)
{
    glyphs::registerResources();
    return QFile::exists(resource) && QSvgRenderer(resource).isValid();
}

AppIconView::AppIconView(QString resource, int side, qreal cornerRadius, QWidget* parent)
    : QWidget(parent), m_resource(std::move(resource)), m_cornerRadius(cornerRadius)
{
    setFixedSize(side, side);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void AppIconView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    glyphs::paintSvgInShape(painter, m_resource, bounds,
                            viewkit::continuousRoundedRect(bounds, m_cornerRadius));
}

} // namespace kmb
