#include "views/LowDiskSpacePromptView.h"

#include "views/ElidingLabel.h"
#include "views/Glyphs.h"
#include "views/LowDiskSpacePrompt.h"
#include "views/Palette.h"
#include "views/PlainButton.h"
#include "views/ViewKit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

namespace kmb {

namespace {

constexpr int sidePadding = 20;
constexpr int buttonBarHeight = 55;
constexpr QSize driveIconSize(33, 39);

// The little drive drawn beside the volume name: a grey body with a soft shadow, an
// embossed mark and a slot line near the bottom.
void paintDriveIcon(QPainter& painter, const QRectF& frame)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath body = viewkit::continuousRoundedRect(frame, 3);

    // Shadow: a blur of radius 1, half a point down, approximated by two offset fills.
    QColor shadow = palette::driveShadow();
    painter.fillPath(body.translated(0, 0.5), shadow);
    shadow.setAlphaF(shadow.alphaF() / 2);
    painter.fillPath(viewkit::continuousRoundedRect(frame.adjusted(-0.5, 0, 0.5, 1.5), 3.5),
                     shadow);

    QLinearGradient metal(frame.topLeft(), frame.bottomLeft());
    metal.setColorAt(0, palette::driveTop());
    metal.setColorAt(1, palette::driveBottom());
    painter.fillPath(body, metal);

    constexpr qreal markSide = 15;
    glyphs::paint(
        painter, QStringLiteral("drive.mark"),
        QRectF(frame.center() - QPointF(markSide / 2, markSide / 2), QSizeF(markSide, markSide)),
        palette::driveMark());

    const QRectF slot(frame.left(), frame.center().y() + 18 - 2, frame.width(), 4);
    painter.fillPath(viewkit::continuousRoundedRect(slot, 2), palette::driveSlot());
    painter.restore();
}

} // namespace

UsageBar::UsageBar(double fraction, QWidget* parent) : QWidget(parent), m_fraction(fraction)
{
    setFixedHeight(6);
    setMinimumWidth(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

double UsageBar::fillWidth() const
{
    return promptFillWidth(width(), m_fraction);
}

void UsageBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(rect());
    painter.fillPath(viewkit::capsule(track), palette::usageTrack());
    const QRectF fill(0, 0, fillWidth(), height());
    QLinearGradient gradient(fill.topLeft(), fill.topRight());
    gradient.setColorAt(0, palette::usageFillStart());
    gradient.setColorAt(1, palette::usageFillEnd());
    painter.fillPath(viewkit::capsule(fill), gradient);
}

LowDiskSpacePromptView::LowDiskSpacePromptView(QString diskName, std::int64_t availableBytes,
                                               std::int64_t totalBytes,
                                               std::function<void()> dismiss,
                                               std::function<void()> openApp, QWidget* parent)
    : QWidget(parent), m_dismiss(std::move(dismiss)), m_openApp(std::move(openApp))
{
    setObjectName(QStringLiteral("LowDiskSpacePromptView"));
    setFixedSize(promptWidth, promptHeight);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildMessageArea(diskName, availableBytes, totalBytes), 1);
    m_separator = new QWidget(this);
    m_separator->setObjectName(QStringLiteral("promptSeparator"));
    m_separator->setFixedHeight(1);
    root->addWidget(m_separator);
    root->addWidget(buildButtonBar());
}

QWidget* LowDiskSpacePromptView::buildMessageArea(const QString& diskName,
                                                  std::int64_t availableBytes,
                                                  std::int64_t totalBytes)
{
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("promptMessageArea"));
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(sidePadding, 21, sidePadding, 0);
    column->setSpacing(13);

    auto* headline = new QVBoxLayout;
    headline->setSpacing(9);
    auto* title = viewkit::makeLabel(lowDiskPromptHeadline(), viewkit::uiFont(15, QFont::ExtraBold),
                                     palette::white(), area);
    title->setObjectName(QStringLiteral("promptHeadline"));
    auto* hint = viewkit::makeLabel(lowDiskPromptHint(), viewkit::uiFont(12, QFont::Bold),
                                    palette::promptHint(), area);
    hint->setObjectName(QStringLiteral("promptHint"));
    headline->addWidget(title);
    headline->addWidget(hint);
    column->addLayout(headline);

    auto* diskRow = new QHBoxLayout;
    diskRow->setContentsMargins(3, 0, 0, 0);
    diskRow->setSpacing(15);
    // Painted by the prompt itself so its shadow may spill past the frame.
    m_driveIcon = new QWidget(area);
    m_driveIcon->setObjectName(QStringLiteral("promptDriveIcon"));
    m_driveIcon->setFixedSize(driveIconSize);
    diskRow->addWidget(m_driveIcon, 0, Qt::AlignVCenter);

    auto* usage = new QVBoxLayout;
    usage->setSpacing(7);
    auto* labels = new QHBoxLayout;
    const QFont figureFont = viewkit::uiFont(14, QFont::ExtraBold);
    auto* name = new ElidingLabel(area);
    viewkit::styleLabel(name, figureFont, palette::white());
    name->setFullText(diskName);
    name->setObjectName(QStringLiteral("promptDiskName"));
    auto* available =
        viewkit::makeLabel(promptAvailableText(availableBytes), figureFont, palette::white(), area);
    available->setObjectName(QStringLiteral("promptAvailable"));
    available->setMinimumWidth(available->sizeHint().width()); // a long name must not hide it
    labels->addWidget(name, 0, Qt::AlignBaseline);
    labels->addStretch(1);
    labels->addWidget(available, 0, Qt::AlignBaseline);
    usage->addLayout(labels);
    auto* bar = new UsageBar(promptUsageFraction(availableBytes, totalBytes), area);
    bar->setObjectName(QStringLiteral("promptUsageBar"));
    usage->addWidget(bar);
    diskRow->addLayout(usage, 1);
    column->addLayout(diskRow);
    column->addStretch(1);
    return area;
}

QWidget* LowDiskSpacePromptView::buildButtonBar()
{
    m_buttonBar = new QWidget(this);
    m_buttonBar->setObjectName(QStringLiteral("promptButtonBar"));
    m_buttonBar->setFixedHeight(buttonBarHeight);
    auto* row = new QHBoxLayout(m_buttonBar);
    row->setContentsMargins(sidePadding, 0, sidePadding, 0);
    const QFont font = viewkit::uiFont(14, QFont::ExtraBold);

    auto* ignore = new PlainTextButton(tr("忽略"), m_buttonBar);
    ignore->setObjectName(QStringLiteral("ignoreButton"));
    ignore->setFont(font);
    ignore->setFixedSize(68, 20);
    viewkit::setTextColor(ignore, palette::ignoreButtonText());
    ignore->setBackground([](const QRectF&) { return QBrush(palette::ignoreButtonFill()); }, 5);
    connect(ignore, &QAbstractButton::clicked, this, [this] {
        if (m_dismiss)
            m_dismiss();
    });

    auto* open = new PlainTextButton(lowDiskPromptOpenLabel(), m_buttonBar);
    open->setObjectName(QStringLiteral("openButton"));
    open->setFont(font);
    open->setFixedSize(128, 20);
    viewkit::setTextColor(open, palette::white());
    open->setBackground(
        [](const QRectF& rect) {
            QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
            gradient.setColorAt(0, palette::openButtonStart());
            gradient.setColorAt(1, palette::openButtonEnd());
            return QBrush(gradient);
        },
        5);
    connect(open, &QAbstractButton::clicked, this, [this] {
        if (m_openApp)
            m_openApp();
    });

    row->addWidget(ignore);
    row->addStretch(1);
    row->addWidget(open);
    return m_buttonBar;
}

void LowDiskSpacePromptView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(QPointF(0, 0), QPointF(width(), height()));
    background.setColorAt(0, palette::promptGradientStart());
    background.setColorAt(0.5, palette::promptGradientMiddle());
    background.setColorAt(1, palette::promptGradientEnd());
    painter.fillRect(rect(), background);

    const QRect separator = m_separator->geometry();
    painter.fillRect(separator, palette::dividerLine());
    painter.fillRect(separator, palette::dividerVeil());
    painter.fillRect(m_buttonBar->geometry(), palette::promptButtonBar());

    const QRect icon(m_driveIcon->mapTo(this, QPoint(0, 0)), m_driveIcon->size());
    paintDriveIcon(painter, QRectF(icon));
}

} // namespace kmb
