// NettlebeamManager: registers the types that travel through queued signals,
// then runs the main window (see devicelisting.h for --list-devices).
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <memory>

#include "devicelisting.h"
#include "mainwindow.h"
#include "managermetatypes.h"

namespace {

// How long --list-devices waits for the window to list every device.
constexpr int kListDevicesTimeoutMs = 30000;

}  // namespace

int main(int argc, char** argv) {
    registerManagerMetaTypes();
    QApplication application(argc, argv);
    // Qt's own options (-platform, say) are taken out of the arguments already.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Graphical manager for Nettlebeam capture devices."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print the options and quit."));
    parser.addOption(help);
    const QCommandLineOption listDevices(
        QStringLiteral("list-devices"),
        QStringLiteral("Start, print the devices the window lists once it lists every attached "
                       "device, and quit (status 1 when that takes over 30 s)."));
    parser.addOption(listDevices);
    // Errors are returned from here, not exit()ed inside the parser, so that
    // the application object is destroyed as usual.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "nettlebeam-manager: %s See --help.\n",
                     qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "nettlebeam-manager: unexpected argument %s. See --help.\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    int status = 0;
    {
        // The window goes before the application object.
        auto window = std::make_unique<MainWindow>();
        window->show();
        if (parser.isSet(listDevices)) listDevicesAndQuit(*window, kListDevicesTimeoutMs);
        status = application.exec();
    }
    return status;
}
