#pragma once

#include <QColor>
#include <QString>
#include <functional>
#include <optional>

namespace kmb {

// What one dashboard tile shows. Texts are shown as given, never translated.
struct MetricCardContent {
    QString title;
    QString value;                      // in the accent colour
    std::optional<QString> detail;      // top-right, in the accent colour
    std::optional<QString> actionTitle; // the button needs both this and action
    QString icon;                       // glyph name
    QColor accent;
    std::function<void()> action;
};

inline bool hasDetail(const MetricCardContent& content)
{
    return content.detail.has_value();
}
inline bool hasActionButton(const MetricCardContent& content)
{
    return content.actionTitle.has_value() && bool(content.action);
}

} // namespace kmb
