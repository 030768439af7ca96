#include "devicelisting.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "NettlebeamAPI.h"
#include "devicecombobox.h"
#include "mainwindow.h"
#include "nettlebeamdevice.h"

namespace {

// The devices of the library's list: those of one enumeration join it together.
int libraryDeviceCount() {
    NettlebeamApiDevicesList* list = NettlebeamAPIGetDevicesList();
    const int count = list != nullptr ? list->count : 0;
    NettlebeamApiDeviceListFree(list);
    return count;
}

// The items standing for devices (not the "No device connected" placeholder).
QStringList shownDevices(const DeviceComboBox& selector) {
    QStringList shown;
    for (int i = 0; i < selector.count(); ++i) {
        if (selector.itemData(i, Qt::UserRole).value<NettlebeamDevice*>() != nullptr)
            shown << selector.itemText(i);
    }
    return shown;
}

}  // namespace

void listDevicesAndQuit(const MainWindow& window, int timeoutMs) {
    auto* poll = new QTimer(QCoreApplication::instance());
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(poll, &QTimer::timeout, poll, [&window, poll, clock, timeoutMs] {
        const QStringList shown = shownDevices(*window.deviceSelector());
        const int listed = libraryDeviceCount();
        const bool complete = listed > 0 && shown.size() == listed;
        if (!complete && clock->elapsed() < timeoutMs) return;
        poll->stop();
        for (const QString& line : shown) std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
        if (!complete) {
            std::fprintf(stderr,
                         "nettlebeam-manager: after %d s the window lists %lld of the %d devices "
                         "the library lists\n",
                         timeoutMs / 1000, static_cast<long long>(shown.size()), listed);
        }
        QCoreApplication::exit(complete ? 0 : 1);
    });
    poll->start(100);
}
