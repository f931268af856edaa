#pragma once

#include "status/FallbackStatusSampler.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>
#include <gtest/gtest.h>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace kmb::test {

// A sampler whose readings the test chooses.
class ChosenSampler : public FallbackStatusSampler {
public:
    std::optional<std::uint64_t> memory;
    std::optional<VolumeReading> volume;
    std::int64_t cleaned = 0;
    BatteryTexts battery{QStringLiteral("\u2014"), QStringLiteral("不可用")};
    std::optional<QString> cpuLoad;
    QString cpuTemperature = QStringLiteral("--°C");

    std::optional<std::uint64_t> readAvailableMemory() override { return memory; }
    std::optional<VolumeReading> readHomeVolume() override { return volume; }
    std::int64_t readTotalCleanedBytes() override { return cleaned; }
    BatteryTexts readBatteryTexts() override { return battery; }
    std::optional<QString> readCpuLoadText() override { return cpuLoad; }
    QString readCpuTemperatureText() override { return cpuTemperature; }
};

// A press and release of the left button at a point of `root`, delivered to whatever widget
// a real click there would reach (children that ignore the mouse are skipped).
inline void clickAt(QWidget* root, QPoint point)
{
    QWidget* target = root->childAt(point);
    if (!target)
        target = root;
    const QPointF local = target->mapFrom(root, point);
    const QPointF global = root->mapToGlobal(QPointF(point));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

inline void clickCentre(QWidget* root, QWidget* child)
{
    clickAt(root, child->mapTo(root, child->rect().center()));
}

template <typename T = QWidget> T* findNamed(const QObject* root, const char* name)
{
    T* found = root->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << "no child named " << name;
    return found;
}

// Where a named descendant sits, in root's coordinates.
inline QRect geometryIn(QWidget* root, const char* name)
{
    const QWidget* widget = findNamed(root, name);
    return widget ? QRect(widget->mapTo(root, QPoint(0, 0)), widget->size()) : QRect();
}

inline QString labelText(const QObject* root, const char* name)
{
    const QLabel* label = findNamed<QLabel>(root, name);
    return label ? label->text() : QString();
}

// Saves a rendering for people to look at; the directory lives in the build tree.
inline void saveGrab(const QPixmap& pixmap, const QString& fileName)
{
    const QString dir = QStringLiteral(KMB_GRAB_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_TRUE(pixmap.save(dir + QLatin1Char('/') + fileName)) << fileName.toStdString();
}

// Renders a widget at twice the pixel density, as on a HiDPI screen.
inline QPixmap renderAt2x(QWidget* widget)
{
    QPixmap pixmap(widget->size() * 2);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    widget->render(&pixmap);
    return pixmap;
}

} // namespace kmb::test
