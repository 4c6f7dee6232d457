// vorp: the desktop dialog of the benchmark.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "vorp_app.h"

CVorp_App theApp;

namespace {
// --help and --version print and end the program before any window, or a
// display, is needed; every other argument is left to Qt.
bool PrintedInformation(int argc, char** argv) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorp"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORP_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The desktop dialog of Vorp, a benchmark of dense double-precision matrix\n"
                       "multiplication C = A*B: choose n, the cache block size, the threads and a\n"
                       "method, press Start, and read the time, the operation count and Mflops.\n"
                       "vorp-cli runs the same benchmark from the command line."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());  // Qt's own options are not known here
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return true;
    }
    if (parser.isSet(version)) {
        std::printf("vorp %s\n", VORP_VERSION);
        return true;
    }
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    if (PrintedInformation(argc, argv)) return 0;
    return AfxWinMain(argc, argv);
}
