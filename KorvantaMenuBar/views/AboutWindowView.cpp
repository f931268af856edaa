#include "views/AboutWindowView.h"

#include "views/AppIconView.h"
#include "views/Palette.h"
#include "views/ViewKit.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>
#include <cmath>

namespace kmb {

QString aboutVersionText(const QString& shortVersion, const QString& buildNumber)
{
    const QString version = shortVersion.isEmpty() ? QStringLiteral("1.0.0") : shortVersion;
    const QString build = buildNumber.isEmpty() ? QStringLiteral("dev") : buildNumber;
    return QCoreApplication::translate("kmb::AboutWindowView", "版本 %1 (%2)").arg(version, build);
}

LineSpacedLabel::LineSpacedLabel(const QString& text, qreal extraLineSpacing, QWidget* parent)
    : QLabel(text, parent), m_extra(extraLineSpacing)
{
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
}

QSize LineSpacedLabel::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const QStringList lines = text().split(QLatin1Char('\n'));
    qreal width = 0;
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    const qreal height = lines.size() * metrics.height() + (lines.size() - 1) * m_extra;
    return {int(std::ceil(width)), int(std::ceil(height))};
}

QSize LineSpacedLabel::minimumSizeHint() const
{
    return sizeHint();
}

void LineSpacedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetricsF metrics(font());
    const QStringList lines = text().split(QLatin1Char('\n'));
    const qreal total = lines.size() * metrics.height() + (lines.size() - 1) * m_extra;
    qreal y = (height() - total) / 2.0;
    for (const QString& line : lines) {
        painter.drawText(QRectF(0, y, width(), metrics.height()), Qt::AlignCenter, line);
        y += metrics.height() + m_extra;
    }
}

AboutWindowView::AboutWindowView(const QString& versionText, const QString& iconResource,
                                 QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("AboutWindowView"));
    setFixedSize(viewWidth, viewHeight);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 6, 24, 0);
    column->setSpacing(0);
    column->addSpacerItem(new QSpacerItem(0, 18, QSizePolicy::Minimum, QSizePolicy::Expanding));
    if (appIconAvailable(iconResource)) {
        auto* icon = new AppIconView(iconResource, 58, 14, this);
        icon->setObjectName(QStringLiteral("aboutIcon"));
        column->addWidget(icon, 0, Qt::AlignHCenter);
    }
    // Fixed gaps between the icon and the texts; the first stays when the icon is missing.
    const auto gap = [column](int height) {
        column->addSpacerItem(new QSpacerItem(0, height, QSizePolicy::Minimum, QSizePolicy::Fixed));
    };
    gap(18);

    const QPalette system = palette();
    auto* name = viewkit::makeLabel(tr("Korvanta 菜单"), viewkit::uiFont(16, QFont::Bold),
                                    palette::primaryLabel(system), this);
    name->setObjectName(QStringLiteral("aboutName"));
    column->addWidget(name, 0, Qt::AlignHCenter);
    gap(8);

    const QFont small = viewkit::uiFont(11, QFont::Medium);
    auto* version = viewkit::makeLabel(versionText, small, palette::secondaryLabel(system), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    column->addWidget(version, 0, Qt::AlignHCenter);
    gap(8);

    auto* notice = new LineSpacedLabel(tr("© 2026 Korvanta\n保留所有权利。"), 1.5, this);
    notice->setObjectName(QStringLiteral("aboutCopyright"));
    notice->setFont(small);
    notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    viewkit::setTextColor(notice, palette::secondaryLabel(system));
    column->addWidget(notice, 0, Qt::AlignHCenter);
    column->addSpacerItem(new QSpacerItem(0, 26, QSizePolicy::Minimum, QSizePolicy::Expanding));
}

void AboutWindowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette::windowBackground(palette()));
}

void AboutWindowView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    // Let the window manager move the window where it can; otherwise follow the mouse.
    if (QWindow* handle = window()->windowHandle(); handle && handle->startSystemMove()) {
        m_dragging = false;
    } else {
        m_dragging = true;
        m_grabOffset = event->globalPosition().toPoint() - window()->pos();
    }
    event->accept();
}

void AboutWindowView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    window()->move(event->globalPosition().toPoint() - m_grabOffset);
    event->accept();
}

void AboutWindowView::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

} // namespace kmb
