#pragma once

#include <QString>
#include <QWidget>

namespace kmb {

// Where the application's own "AppIcon" picture lives.
inline QString appIconResource()
{
    return QStringLiteral(":/icons/AppIcon.svg");
}
bool appIconAvailable(const QString& resource = appIconResource());

// The application icon in a fixed square, cut to a rounded square.
class AppIconView : public QWidget {
public:
    AppIconView(QString resource, int side, qreal cornerRadius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_resource;
    qreal m_cornerRadius;
};

} // namespace kmb
