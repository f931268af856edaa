#include "app/CommandLine.h"

#include "BuildInfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

namespace kmb {

void describeCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Tray dashboard for Korvanta: free disk space, memory, battery and CPU."));
    // "-platformtheme" must stay one unknown word, not the letters -p -l ... -h -e ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
}

void handleCommandLine(int argc, char* argv[])
{
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    // --version prints "<application name> <application version>".
    if (QCoreApplication::applicationName().isEmpty())
        QCoreApplication::setApplicationName(QStringLiteral("KorvantaMenuBar"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(build::shortVersion));

    QCommandLineParser parser;
    describeCommandLine(parser);
    // A failed parse only means arguments the parser does not know; see the header.
    (void)parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        // The usage line names the program from the application's arguments; a core
        // application needs no display.
        QCoreApplication application(argc, argv);
        parser.showHelp(0); // does not return
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion(); // does not return
}

} // namespace kmb
