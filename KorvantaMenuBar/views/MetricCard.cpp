#include "views/MetricCard.h"

#include "views/ElidingLabel.h"
#include "views/Glyphs.h"
#include "views/Palette.h"
#include "views/PlainButton.h"
#include "views/ViewKit.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace kmb {

namespace {
constexpr int padding = 14;
constexpr int cornerRadius = 12;
constexpr int rowSpacing = 8; // between the symbol, the texts and the detail
constexpr int bottomRowHeight = 18;

// A screen reader announces a tile as a group named by its title, its figures following.
QAccessibleInterface* accessibleCard(const QString& className, QObject* object)
{
    if (className == QLatin1String(MetricCard::staticMetaObject.className()) &&
        object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
    return nullptr;
}
} // namespace

MetricCard::MetricCard(MetricCardContent content, QWidget* parent) : QWidget(parent)
{
    static const bool accessibleCardsInstalled = [] {
        QAccessible::installFactory(accessibleCard);
        return true;
    }();
    (void)accessibleCardsInstalled;
    setFixedSize(cardWidth, cardHeight);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(padding, padding, padding, padding);
    root->setSpacing(0);

    auto* top = new QHBoxLayout;
    top->setSpacing(rowSpacing);
    m_icon = new GlyphView(QString(), QSize(22, 17), QSizeF(20, 15), palette::cardSymbol(), this);
    m_icon->setObjectName(QStringLiteral("cardIcon"));
    top->addWidget(m_icon, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_title = new ElidingLabel(this);
    viewkit::styleLabel(m_title, viewkit::uiFont(13, QFont::Bold), palette::white());
    m_title->setObjectName(QStringLiteral("cardTitle"));
    m_value =
        viewkit::makeLabel(QString(), viewkit::uiFont(12, QFont::DemiBold), palette::white(), this);
    m_value->setObjectName(QStringLiteral("cardValue"));
    texts->addWidget(m_title);
    texts->addWidget(m_value);
    top->addLayout(texts);
    top->addSpacerItem(new QSpacerItem(8, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));

    m_detail =
        viewkit::makeLabel(QString(), viewkit::uiFont(13, QFont::Bold), palette::white(), this);
    m_detail->setObjectName(QStringLiteral("cardDetail"));
    m_detail->setMinimumWidth(0);
    top->addWidget(m_detail, 0, Qt::AlignTop);
    top->setAlignment(texts, Qt::AlignTop);

    root->addLayout(top);
    root->addSpacerItem(new QSpacerItem(0, 8, QSizePolicy::Minimum, QSizePolicy::Expanding));

    auto* bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("cardBottomRow"));
    bottom->setFixedHeight(bottomRowHeight);
    auto* bottomRow = new QHBoxLayout(bottom);
    bottomRow->setContentsMargins(0, 0, 0, 0);
    bottomRow->addStretch(1);
    m_button = new PlainTextButton(QString(), bottom);
    m_button->setObjectName(QStringLiteral("cardButton"));
    m_button->setFont(viewkit::uiFont(14, QFont::Bold));
    m_button->setTopPadding(2);
    viewkit::setTextColor(m_button, palette::white());
    bottomRow->addWidget(m_button);
    root->addWidget(bottom);

    // Connected once: each press calls the current action exactly once.
    connect(m_button, &QAbstractButton::clicked, this, [this] {
        if (hasActionButton(m_content))
            m_content.action();
    });

    setContent(std::move(content));
}

void MetricCard::setContent(MetricCardContent content)
{
    m_content = std::move(content);
    m_icon->setGlyph(m_content.icon);
    m_title->setFullText(m_content.title);
    m_value->setText(m_content.value);
    viewkit::setTextColor(m_value, m_content.accent);
    m_detail->setText(m_content.detail.value_or(QString()));
    viewkit::setTextColor(m_detail, m_content.accent);
    m_detail->setVisible(hasDetail(m_content));
    const QString actionTitle = m_content.actionTitle.value_or(QString());
    m_button->setText(actionTitle);
    m_button->setAccessibleName(actionTitle);
    // Two tiles carry the same button: the description tells them apart.
    m_button->setAccessibleDescription(m_content.title);
    m_button->setVisible(hasActionButton(m_content));

    setAccessibleName(m_content.title);
    QStringList description{m_content.value};
    if (m_content.detail)
        description << *m_content.detail;
    setAccessibleDescription(description.join(QLatin1Char(' ')));
}

void MetricCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    painter.fillPath(viewkit::continuousRoundedRect(bounds, cornerRadius), palette::cardFill());
    // A 1 px outline kept inside the tile so none of it is cut off at the edge.
    painter.setPen(QPen(palette::cardStroke(), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(
        viewkit::continuousRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5));
}

} // namespace kmb
