// Writes a picture of every visible page of the manager for every attached
// device, and of the message boxes the window opens, so the pages can be
// looked at without a display. The daemon to show is the one
// NETTLEBEAM_CONTROL names (scripts/screenshots.sh starts one with the demo
// fleet); the user's own settings are left alone.
//
//   nettlebeam-screenshots OUTPUT_FOLDER [DEVICES [SECONDS [WIDTHxHEIGHT]]]
//
// SECONDS (default 2.5) is how long each device's pages fill before they are
// pictured; a minute shows the charts with lines and the averages settled.
// WIDTHxHEIGHT (default 1126x712, the design size) is the window's size: the
// offscreen screen is smaller than the design, so the window is pictured at
// the size a screen would give it (1024x768 less a panel, say). QT_FONT_DPI
// sets the resolution the fonts are drawn for (96, 120).
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "countertext.h"
#include "counterv2control.h"
#include "devicecombobox.h"
#include "filtercontrol.h"
#include "mainwindow.h"
#include "managermetatypes.h"
#include "sfpdisplay.h"
#include "sfpoptions.h"
#include "sfptransceiver.h"

namespace {

void pause(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QString fileStem(QString text) {
    return text.toLower().replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")),
                                  QStringLiteral("-"));
}

bool save(QWidget* widget, const QDir& folder, const QString& stem) {
    const QString path = folder.filePath(fileStem(stem) + QStringLiteral(".png"));
    const bool saved = widget->grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// Pictures each message box once, then answers it with its "No" (or only) button.
void watchBoxes(const QDir& folder) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [folder] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        save(box, folder, QStringLiteral("box-") + box->windowTitle());
        QAbstractButton* answer = box->button(QMessageBox::No);
        (answer ? answer : box->buttons().value(0))->click();
    });
    poll->start(200);
}

// The Filters page as a user fills it in before pressing Set; nothing is
// sent to the device.
void fillFilters(QWidget& window) {
    auto find = [&window](const char* name) {
        return window.findChild<QWidget*>(QString::fromLatin1(name));
    };
    for (const char* name : {"enableSimpleFiltersCB", "enableFiltersCheckBox"}) {
        auto* box = qobject_cast<QCheckBox*>(find(name));
        const QSignalBlocker blocker(box);
        box->setChecked(true);
    }
    for (const char* name :
         {"simpleFilterCtrl", "filterCtrl", "setSimpleFiltersBT", "setFiltersButton"})
        find(name)->setEnabled(true);
    for (const char* name : {"srcMacCB", "srcIpCB", "dstPortCB", "isDNS", "isL2Other"})
        qobject_cast<QCheckBox*>(find(name))->click();
    qobject_cast<QComboBox*>(find("ipModeCB"))->setCurrentIndex(1);
    qobject_cast<QLineEdit*>(find("srcMacTB"))->setText(QStringLiteral("02:00:00:01:**:**"));
    qobject_cast<QLineEdit*>(find("srcIpTB"))->setText(QStringLiteral("10.1.*.*"));
    qobject_cast<QLineEdit*>(find("dstPortTB"))->setText(QStringLiteral("80"));
    NettlebeamApiDpiFilter pattern{};
    std::memcpy(pattern.pattern, "GET /\r\n", 7);
    pattern.mask = 0x7F;
    qobject_cast<FilterControl*>(find("filterCtrl"))
        ->setPattern(pattern, FilterControl::kPatternLength);
}

// A few programmable counters as a user would define them in the editor:
// they are sent to the device and kept in the tool's own settings.
void defineCounters(QWidget& window) {
    struct Definition {
        int32_t ipv4, udp, tcp, sizeMode, size, port1, port2, mode;
        const char* address;
    };
    const Definition definitions[] = {
        {-1, -1, -1, -1, 0, 1, 0, 0, nullptr},    // every frame on port A
        {-1, -1, -1, -1, 0, 0, 1, 0, nullptr},    // every frame on port B
        {-1, 1, -1, -1, 0, 1, 1, 0, nullptr},     // UDP on both ports
        {1, -1, 1, -1, 0, 1, 1, 1, nullptr},      // IPv4 TCP bytes
        {1, -1, -1, -1, 0, 1, 1, 0, "10.*.*.*"},  // one address range
        {-1, -1, 0, 0, 1000, 1, 0, 0, nullptr},   // large frames but TCP on port A
    };
    int n = 0;
    for (const Definition& d : definitions) {
        auto* row = window.findChild<CounterV2Control*>(QStringLiteral("widget_%1").arg(n + 3));
        NettlebeamApiCounterV2 counter = row->definition();
        counter.isIPv4 = d.ipv4;
        counter.isudp = d.udp;
        counter.istcp = d.tcp;
        counter.sizeMode = d.sizeMode;
        counter.size = d.size;
        counter.port1 = d.port1;
        counter.port2 = d.port2;
        counter.mode = d.mode;
        if (d.address != nullptr)
            CounterText::storeAddress(counter, *parseIpv4Wildcards(QString::fromLatin1(d.address)));
        row->setDefinition(counter);
        emit row->CounterConfigChanged(n++);
    }
}

// The whole SFP display (the page scrolls) and port A's two detail dialogs.
bool pictureSfpDetails(QWidget& window, const QDir& folder, const QString& deviceName) {
    auto* display = window.findChild<SFPDisplay*>(QStringLiteral("sfpDisp"));
    bool ok = save(display, folder, deviceName + QStringLiteral("-sfp-whole"));
    display->slot_ShowTransceiverA();
    display->slot_ShowOptionsA();
    pause(300);
    for (QDialog* dialog : display->findChildren<QDialog*>()) {
        ok &= save(dialog, folder, deviceName + QStringLiteral("-sfp-") + dialog->windowTitle());
        dialog->close();
    }
    return ok;
}

// The add-on page is never shown in the window: it is pictured in the tab
// widget for a moment, as it would look there, and taken out again.
bool pictureAddonPage(QWidget& window, QTabWidget* tabs, const QDir& folder) {
    auto* page = window.findChild<QWidget*>(QStringLiteral("glintfield_tab"));
    if (page == nullptr) return false;
    const int current = tabs->currentIndex();
    tabs->setCurrentIndex(tabs->addTab(page, QStringLiteral("Glintfield")));
    pause(300);
    bool ok = save(&window, folder, QStringLiteral("addon-glintfield"));
    // The remote mode leaves the HTTP server out: its bullet turns grey.
    auto* remote = window.findChild<QAbstractButton*>(QStringLiteral("GlintfieldModeRemote"));
    remote->click();
    pause(100);
    ok &= save(&window, folder, QStringLiteral("addon-glintfield-remote"));
    window.findChild<QAbstractButton*>(QStringLiteral("GlintfieldModeLocal"))->click();
    tabs->removeTab(tabs->indexOf(page));
    tabs->setCurrentIndex(current);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    registerManagerMetaTypes();
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [DEVICES [SECONDS [WIDTHxHEIGHT]]]\n",
                     argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const int expected = argc > 2 ? std::atoi(argv[2]) : 1;
    const double fillSeconds = argc > 3 ? std::clamp(std::atof(argv[3]), 0.0, 3600.0) : 2.5;
    QTemporaryDir settingsFolder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    watchBoxes(folder);

    QSize size(1126, 712);
    if (argc > 4) {
        const QStringList parts = QString::fromLocal8Bit(argv[4]).split(QLatin1Char('x'));
        if (parts.size() == 2) size = QSize(parts[0].toInt(), parts[1].toInt());
        if (size.width() < 200 || size.height() < 200) {
            std::fprintf(stderr, "bad window size %s\n", argv[4]);
            return 2;
        }
    }

    MainWindow window;
    window.setWindowState(Qt::WindowNoState);
    window.resize(size);
    window.show();
    QComboBox* selector = window.deviceSelector();
    QElapsedTimer clock;
    clock.start();
    while (!(selector->isEnabled() && selector->count() >= expected) && clock.elapsed() < 15000)
        pause(100);
    if (!selector->isEnabled()) {
        std::fprintf(stderr, "no device appeared\n");
        return 1;
    }
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    bool ok = true;
    for (int device = 0; device < selector->count(); ++device) {
        selector->setCurrentIndex(device);
        pause(300);
        if (tabs->indexOf(window.findChild<QWidget*>(QStringLiteral("tab"))) >= 0)
            defineCounters(window);
        pause(static_cast<int>(fillSeconds * 1000));  // status answers fill the pages
        const QString deviceName = selector->itemText(device).section(QStringLiteral(" - "), 0, 0);
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            pause(300);
            ok &=
                save(&window, folder, QStringLiteral("%1-%2").arg(deviceName, tabs->tabText(page)));
            if (tabs->tabText(page) == QStringLiteral("Filters")) {
                fillFilters(window);
                ok &= save(&window, folder, deviceName + QStringLiteral("-filters-filled"));
            }
            if (tabs->tabText(page) == QStringLiteral("SFP"))
                ok &= pictureSfpDetails(window, folder, deviceName);
        }
    }
    ok &= pictureAddonPage(window, tabs, folder);
    return ok ? 0 : 1;
}
