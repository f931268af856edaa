#pragma once

class QCommandLineParser;

namespace kmb {

// Describes the utility's command line: a one-line description, --help and --version.
// The utility has no options of its own.
void describeCommandLine(QCommandLineParser& parser);

// Answers --help and --version and exits the process; returns for any other command line.
// Runs before the QApplication exists, so both answers work without a display (over ssh,
// in a package check). Arguments it does not know are left alone: they may be the
// toolkit's own (-platform, -display, -style, ...), which QApplication consumes later.
void handleCommandLine(int argc, char* argv[]);

} // namespace kmb
