// The floor of a Qt 6 Widgets process on this desktop: one label in a small window whose text
// is renewed by a 2-second timer, nothing else. The process benchmark measures it beside the
// utility, so that what the utility costs above what any Qt Widgets program costs is visible.
// With --hidden the label is never shown: the timer and the text change without painting, as
// the utility works while its dashboard is closed.
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label;
    label.setWindowTitle(QStringLiteral("qt-floor"));
    label.setText(QDateTime::currentDateTime().toString(Qt::ISODate));
    if (!app.arguments().contains(QStringLiteral("--hidden")))
        label.show();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &label, [&label] {
        label.setText(QDateTime::currentDateTime().toString(Qt::ISODate));
    });
    timer.start(2000);
    return QApplication::exec();
}
