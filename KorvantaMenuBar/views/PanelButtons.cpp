#include "views/PanelButtons.h"

#include "views/AppIconView.h"
#include "views/Glyphs.h"
#include "views/Palette.h"
#include "views/ViewKit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace kmb {

namespace {
constexpr int headerPadding = 14;
constexpr qreal headerRadius = 14;
} // namespace

PanelHeaderButton::PanelHeaderButton(const QString& iconResource, QWidget* parent)
    : PlainButton(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(headerPadding, headerPadding, headerPadding, headerPadding);
    row->setSpacing(12);
    // Without the picture the slot takes no space at all.
    if (appIconAvailable(iconResource)) {
        auto* icon = new AppIconView(iconResource, 42, 10, this);
        icon->setObjectName(QStringLiteral("headerIcon"));
        row->addWidget(icon);
    }

    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    const QString name = QStringLiteral("Korvanta");
    auto* title =
        viewkit::makeLabel(name, viewkit::uiFont(16, QFont::Bold), palette::white(), this);
    title->setObjectName(QStringLiteral("headerTitle"));
    const QString hint = tr("点击打开 Korvanta");
    auto* subtitle =
        viewkit::makeLabel(hint, viewkit::uiFont(12, QFont::Medium), palette::dimmedText(), this);
    subtitle->setObjectName(QStringLiteral("headerSubtitle"));
    titles->addWidget(title);
    titles->addWidget(subtitle);
    row->addLayout(titles);
    row->addStretch(1);

    auto* open = new GlyphView(QStringLiteral("arrow.up.forward.app"), QSize(16, 16),
                               QSizeF(15, 15), palette::dimmedText(), this);
    open->setObjectName(QStringLiteral("headerOpenSymbol"));
    row->addWidget(open);

    setAccessibleName(name);
    setAccessibleDescription(hint);
    setFocusRingRadius(headerRadius);
}

void PanelHeaderButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    painter.fillPath(viewkit::continuousRoundedRect(bounds, headerRadius), palette::cardFill());
    painter.setPen(QPen(palette::cardStroke(), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(
        viewkit::continuousRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), headerRadius - 0.5));
}

CleanedTotalButton::CleanedTotalButton(QWidget* parent) : PlainButton(parent)
{
    setFixedHeight(42);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(10);
    auto* symbol = new GlyphView(QStringLiteral("display"), QSize(22, 22), QSizeF(14, 13),
                                 palette::cleanedSymbol(), this);
    symbol->setDisc(palette::symbolDisc());
    symbol->setObjectName(QStringLiteral("cleanedTotalSymbol"));
    row->addWidget(symbol);
    m_text =
        viewkit::makeLabel(QString(), viewkit::uiFont(15, QFont::Bold), palette::white(), this);
    m_text->setObjectName(QStringLiteral("cleanedTotalText"));
    row->addWidget(m_text);
    row->addStretch(1);
    setFocusRingRadius(10);
}

void CleanedTotalButton::setTotalText(const QString& text)
{
    m_text->setText(text);
    setAccessibleName(text);
}

QString CleanedTotalButton::totalText() const
{
    return m_text->text();
}

} // namespace kmb
