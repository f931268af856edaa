#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Widget tests never need a display (test discovery runs this too).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KorvantaMenuBar"));
    QApplication::setOrganizationName(QStringLiteral("Korvanta"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
