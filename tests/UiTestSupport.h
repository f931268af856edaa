#pragma once

#include "TestSupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QProcess>
#include <QWidget>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace kmb::test {

// A left press and release at a global position, sent to `target` (as Qt sends them to a popup).
inline void pressAt(QWidget* target, QPoint global)
{
    const QPointF local = target->mapFromGlobal(QPointF(global));
    for (const auto& [type, buttons] : {std::pair{QEvent::MouseButtonPress, Qt::LeftButton},
                                        std::pair{QEvent::MouseButtonRelease, Qt::NoButton}}) {
        QMouseEvent event(type, local, QPointF(global), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
}

// A click on the centre of `child`, delivered to whatever a real click there would reach.
inline void clickCentre(QWidget* root, QWidget* child)
{
    const QPoint point = child->mapTo(root, child->rect().center());
    QWidget* target = root->childAt(point);
    pressAt(target ? target : root, root->mapToGlobal(point));
}

template <typename T = QWidget> T* findNamed(const QObject* root, const char* name)
{
    T* found = root->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << "no child named " << name;
    return found;
}

inline QWidget* topLevelNamed(const char* name)
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String(name))
            return widget;
    return nullptr;
}

inline QString labelText(const QObject* root, const char* name)
{
    const QLabel* label = findNamed<QLabel>(root, name);
    return label ? label->text() : QString();
}

// Renders at 1x and 2x into the build tree, for people to look at (not a check).
inline void saveGrabs(QWidget* widget, const QString& stem)
{
    QCoreApplication::processEvents(); // pending layout requests, as before a real paint
    QDir().mkpath(QStringLiteral(KMB_GRAB_DIR));
    for (const int ratio : {1, 2}) {
        QPixmap pixmap(widget->size() * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        widget->render(&pixmap);
        pixmap.save(QStringLiteral(KMB_GRAB_DIR "/%1%2.png").arg(stem, ratio > 1 ? "@2x" : ""));
    }
}

// A bus daemon of the test's own, gone with the test together with its connections.
class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        m_daemon.waitForReadyRead(10'000);
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : m_names)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
    QDBusConnection connect()
    {
        static int count = 0;
        m_names << QStringLiteral("private-bus-%1").arg(++count);
        return QDBusConnection::connectToBus(m_address, m_names.last());
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

} // namespace kmb::test
