// The programmable counters: the snapshot arithmetic and the texts of a
// definition directly, a row with crafted snapshots and its editor, and the
// counters page against a private nettlebeamd: an accepted edit reaches the
// device and the settings file, replayed UDP frames are counted exactly, and
// "Reset" counts from zero.
#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>

#include "countersnapshot.h"
#include "countertext.h"
#include "counterv2control.h"
#include "counterv2editor.h"
#include "devicecombobox.h"
#include "mainwindow.h"
#include "managermetatypes.h"
#include "managersettings.h"
#include "window_fixture.h"

namespace {

NettlebeamApiCounterV2 dontCare(int index) {
    NettlebeamApiCounterV2 counter{};
    counter.index = index;
    for (int32_t* state : {&counter.isIPv4, &counter.isIPv6, &counter.isbcast, &counter.ismcast,
                           &counter.isucast, &counter.isicmp, &counter.isudp, &counter.istcp,
                           &counter.iscrcValid, &counter.isDropped}) {
        *state = -1;
    }
    counter.sizeMode = -1;
    return counter;
}

CounterSnapshot snapshot(uint64_t milliseconds, int n, uint64_t value) {
    CounterSnapshot s;
    s.timestamp = milliseconds;
    s.counters[n] = value;
    return s;
}

template <typename T>
T* child(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

QString labelText(QWidget* parent, const char* name) {
    auto* label = child<QLabel>(parent, name);
    return label ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

// Clicks the row's "Edit", lets `fill` set the modal editor's widgets and
// presses OK (or Cancel).
void edit(CounterV2Control* row, const std::function<void(CounterV2Editor*)>& fill,
          bool accept = true) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* editor = qobject_cast<CounterV2Editor*>(QApplication::activeModalWidget());
        if (editor == nullptr || !editor->isVisible()) return;
        poll.stop();
        fill(editor);
        auto* buttons = child<QDialogButtonBox>(editor, "buttonBox");
        buttons->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    poll.start(20);
    child<QPushButton>(row, "editBtn")->click();
}

void setCheck(CounterV2Editor* editor, const char* name, Qt::CheckState state) {
    child<QCheckBox>(editor, name)->setCheckState(state);
}

}  // namespace

TEST(CounterLogic, SaturatingDifferencesAndTheTextsOfADefinition) {
    CounterSnapshot older = snapshot(1000, 3, 500);
    older.swDropped = 9;
    older.trailer[1] = 4;
    CounterSnapshot newer = snapshot(3000, 3, 700);
    newer.counters[4] = 1;
    const CounterSnapshot moved = CounterSnapshot::difference(newer, older);
    EXPECT_EQ(moved.timestamp, 2000u);
    EXPECT_EQ(moved.counter(3), 200u);
    EXPECT_EQ(moved.counter(4), 1u);
    EXPECT_EQ(moved.swDropped, 0u);   // went down: no progress
    EXPECT_EQ(moved.trailer[1], 0u);  // likewise
    EXPECT_EQ(moved.ratePerSecond(3), 100.0);
    EXPECT_EQ(moved.counter(16), 0u);
    EXPECT_FALSE(moved.ratePerSecond(16));
    EXPECT_FALSE(CounterSnapshot::difference(older, newer).ratePerSecond(3));  // no time passed
    EXPECT_EQ(CounterSnapshot::difference(older, newer).counter(3), 0u);

    NettlebeamApiStatistics statistics{};
    statistics.timestamp = 77;
    statistics.data.v2.counters[15] = 0xFFFFFFFFFFFFFFFFull;
    EXPECT_EQ(CounterSnapshot::of(statistics).counter(15), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(CounterSnapshot::of(statistics).timestamp, 77u);

    using namespace CounterText;
    EXPECT_EQ(tagStyle(-1), QStringLiteral("QLabel { color: silver }"));
    EXPECT_EQ(tagStyle(0), QStringLiteral("QLabel { color: red }"));
    EXPECT_EQ(tagStyle(1), QStringLiteral("QLabel { color: lime }"));
    EXPECT_EQ(sizeText(-1, 64), QStringLiteral("Any size"));
    EXPECT_EQ(sizeText(0, 64), QStringLiteral("> 64"));
    EXPECT_EQ(sizeText(1, 64), QStringLiteral("< 64"));
    EXPECT_EQ(sizeText(2, 1518), QStringLiteral("= 1518"));
    EXPECT_EQ(sizeIndexOf(-1), 0);
    EXPECT_EQ(sizeIndexOf(7), 0);
    EXPECT_EQ(sizeIndexOf(2), 3);
    EXPECT_EQ(sizeModeOf(1), 0);
    EXPECT_EQ(sizeModeOf(0), -1);
    EXPECT_EQ(checkStateOf(-1), Qt::PartiallyChecked);
    EXPECT_EQ(checkStateOf(5), Qt::PartiallyChecked);
    EXPECT_EQ(triStateOf(Qt::Unchecked), 0);
    EXPECT_EQ(triStateOf(Qt::PartiallyChecked), -1);

    // Addresses are kept last byte first.
    NettlebeamApiCounterV2 counter = dontCare(0);
    counter.isIPv4 = 1;
    const uint8_t ipv4[4] = {1, 0, 168, 192};
    const uint8_t ipv4Mask[4] = {0xFF, 0, 0xFF, 0xFF};
    std::memcpy(counter.ip, ipv4, 4);
    std::memcpy(counter.ipMask, ipv4Mask, 4);
    EXPECT_EQ(addressText(counter), QStringLiteral("192.168.*.1"));
    counter.isIPv6 = 1;  // both required: nothing to show
    EXPECT_EQ(addressText(counter), QString());
    counter.isIPv4 = 0;
    std::memset(counter.ip, 0, 16);
    std::memset(counter.ipMask, 0xFF, 16);
    counter.ipMask[0] = 0;
    counter.ip[15] = 0xfe;
    counter.ip[14] = 0x80;
    EXPECT_EQ(addressText(counter), QStringLiteral("fe80:0000:0000:0000:0000:0000:0000:00**"));

    NettlebeamApiCounterV2 stored = dontCare(0);
    storeAddress(stored, *parseIpv4Wildcards(QStringLiteral("10.*.3.4")));
    EXPECT_EQ(stored.ip[3], 10);
    EXPECT_EQ(stored.ip[0], 4);
    EXPECT_EQ(stored.ipMask[2], 0);
    EXPECT_EQ(stored.ipMask[3], 0xFF);
    EXPECT_EQ(stored.ipMask[4], 0);
    storeAddress(stored, *parseIpv6Wildcards(QStringLiteral("2001:db8::1")));
    EXPECT_EQ(stored.ip[15], 0x20);
    EXPECT_EQ(stored.ip[0], 0x01);
    EXPECT_EQ(stored.ipMask[15], 0xFF);
}

TEST(CounterRow, TotalsRatesResetsAndACounterThatDrops) {
    CounterV2Control row;
    row.setNumber(2);
    auto* graph = child<QCustomPlot>(&row, "chart")->graph(0);
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1700000000);
    auto update = [&](uint64_t ms, uint64_t value) {
        row.updateCounters(snapshot(ms, 2, value), start.addMSecs(static_cast<qint64>(ms)));
    };
    row.restart();
    update(1000, 100);  // the starting point only
    EXPECT_EQ(labelText(&row, "totalLabel"), QStringLiteral("-"));
    EXPECT_EQ(labelText(&row, "rateLabel"), QStringLiteral("-"));
    update(2000, 150);
    EXPECT_EQ(labelText(&row, "totalLabel"), QStringLiteral("150"));  // from the device's zero
    EXPECT_EQ(labelText(&row, "rateLabel"), QStringLiteral("50"));
    row.reset();
    update(3000, 170);
    EXPECT_EQ(labelText(&row, "totalLabel"), QStringLiteral("0"));
    EXPECT_EQ(labelText(&row, "rateLabel"), QStringLiteral("20"));
    update(4000, 200);
    EXPECT_EQ(labelText(&row, "totalLabel"), QStringLiteral("30"));
    // The device's counter restarted: no progress, not a wrapped number.
    update(5000, 5);
    EXPECT_EQ(labelText(&row, "totalLabel"), QStringLiteral("0"));
    EXPECT_EQ(labelText(&row, "rateLabel"), QStringLiteral("0"));
    update(5000, 9);  // no time passed
    EXPECT_EQ(labelText(&row, "rateLabel"), QStringLiteral("-"));
    EXPECT_EQ(graph->dataCount(), 4);
    update(40000, 9);  // the plot keeps the last 30 seconds
    EXPECT_EQ(graph->dataCount(), 1);
    row.restart();
    update(41000, 9);
    EXPECT_EQ(graph->dataCount(), 0);
}

TEST(CounterRow, ItsPlotIsDrawnOnlyWhileItCanBeSeen) {
    CounterV2Control row;
    row.setNumber(1);
    auto* chart = child<QCustomPlot>(&row, "chart");
    QCoreApplication::processEvents();  // what the plot queued when it was built
    QSignalSpy drawn(chart, &QCustomPlot::afterReplot);
    int ms = 0;
    auto update = [&] {
        ms += 1000;
        row.updateCounters(snapshot(static_cast<uint64_t>(ms), 1, static_cast<uint64_t>(ms)),
                           QDateTime::currentDateTime());
        QCoreApplication::processEvents();
    };
    update();
    update();
    update();
    EXPECT_EQ(drawn.size(), 0);  // never shown
    EXPECT_EQ(chart->graph(0)->dataCount(), 3);

    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));
    ASSERT_TRUE(waitFor([&] { return !drawn.isEmpty(); }));
    const int shown = drawn.size();
    update();
    ASSERT_TRUE(waitFor([&] { return drawn.size() > shown; }));

    row.hide();
    QCoreApplication::processEvents();
    const int hidden = drawn.size();
    update();
    update();
    EXPECT_EQ(drawn.size(), hidden);
    EXPECT_EQ(chart->graph(0)->dataCount(), 6);
}

TEST(CounterRow, AnAcceptedEditChangesTheRowOnceARejectedOneNothing) {
    CounterV2Control row;
    row.setNumber(5);
    NettlebeamApiCounterV2 definition = dontCare(5);
    definition.isDropped = 0;  // carried through the editor
    definition.isIPv4 = 1;
    definition.isIPv6 = 1;
    row.setDefinition(definition);
    QSignalSpy changed(&row, &CounterV2Control::CounterConfigChanged);

    QString title;
    bool ipv4Enabled = true, ipv6Enabled = true;
    edit(&row, [&](CounterV2Editor* editor) {
        title = editor->windowTitle();
        // Both versions required: neither address can be edited.
        ipv4Enabled = child<QLineEdit>(editor, "ipv4TB")->isEnabled();
        ipv6Enabled = child<QLineEdit>(editor, "ipv6TB")->isEnabled();
        setCheck(editor, "ipv6CB", Qt::PartiallyChecked);
        child<QLineEdit>(editor, "ipv4TB")->setText(QStringLiteral("192.168.*.1"));
        setCheck(editor, "udpCB", Qt::Checked);
        setCheck(editor, "tcpCB", Qt::Unchecked);
        child<QComboBox>(editor, "sizeCBox")->setCurrentIndex(3);
        child<QLineEdit>(editor, "sizeTB")->setText(QStringLiteral("abc"));
        child<QCheckBox>(editor, "port1CB")->setChecked(true);
        child<QComboBox>(editor, "modeCBox")->setCurrentIndex(1);
    });
    EXPECT_EQ(title, QStringLiteral("Edit Counter 5"));
    EXPECT_FALSE(ipv4Enabled);
    EXPECT_FALSE(ipv6Enabled);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toInt(), 5);
    const NettlebeamApiCounterV2 edited = row.definition();
    EXPECT_EQ(edited.index, 5);
    EXPECT_EQ(edited.isIPv4, 1);
    EXPECT_EQ(edited.isIPv6, -1);
    EXPECT_EQ(edited.isudp, 1);
    EXPECT_EQ(edited.istcp, 0);
    EXPECT_EQ(edited.isbcast, -1);
    EXPECT_EQ(edited.isDropped, 0);
    EXPECT_EQ(edited.sizeMode, 2);
    EXPECT_EQ(edited.size, 0);  // not a number
    EXPECT_EQ(edited.port1, 1);
    EXPECT_EQ(edited.port2, 0);
    EXPECT_EQ(edited.mode, 1);
    EXPECT_EQ(edited.ip[3], 192);
    EXPECT_EQ(edited.ipMask[1], 0);
    EXPECT_EQ(labelText(&row, "ipaddrLabel"), QStringLiteral("192.168.*.1"));
    EXPECT_EQ(labelText(&row, "sizeLabel"), QStringLiteral("= 0"));
    EXPECT_EQ(child<QLabel>(&row, "udpLabel")->styleSheet(),
              QStringLiteral("QLabel { color: lime }"));
    EXPECT_EQ(child<QLabel>(&row, "tcpLabel")->styleSheet(),
              QStringLiteral("QLabel { color: red }"));
    EXPECT_EQ(child<QLabel>(&row, "port2Label")->styleSheet(),
              QStringLiteral("QLabel { color: red }"));

    // The editor shows the record; a rejected edit leaves everything.
    QString shownAddress, shownSize;
    bool sizeEnabled = false;
    edit(
        &row,
        [&](CounterV2Editor* editor) {
            shownAddress = child<QLineEdit>(editor, "ipv4TB")->text();
            shownSize = child<QLineEdit>(editor, "sizeTB")->text();
            sizeEnabled = child<QLineEdit>(editor, "sizeTB")->isEnabled();
            setCheck(editor, "udpCB", Qt::Unchecked);
            child<QComboBox>(editor, "sizeCBox")->setCurrentIndex(0);
            EXPECT_FALSE(child<QLineEdit>(editor, "sizeTB")->isEnabled());
            setCheck(editor, "ipv4CB", Qt::PartiallyChecked);
            EXPECT_FALSE(child<QLineEdit>(editor, "ipv4TB")->isEnabled());
            setCheck(editor, "ipv6CB", Qt::Checked);
            EXPECT_TRUE(child<QLineEdit>(editor, "ipv6TB")->isEnabled());
        },
        false);
    EXPECT_EQ(shownAddress, QStringLiteral("192.168.*.1"));
    EXPECT_EQ(shownSize, QStringLiteral("0"));
    EXPECT_TRUE(sizeEnabled);
    EXPECT_EQ(changed.size(), 1);
    const NettlebeamApiCounterV2 afterReject = row.definition();
    EXPECT_EQ(std::memcmp(&edited, &afterReject, sizeof edited), 0);
    EXPECT_TRUE(row.findChildren<CounterV2Editor*>().isEmpty());  // deleted after use
}

class CountersPageTest : public WindowTest {
  protected:
    // A window with an empty firmware folder, so that no update is offered,
    // once it has selected its first device.
    void openWindow() {
        window_ = std::make_unique<MainWindow>(nullptr, firmware_.path());
        window_->show();
        ASSERT_TRUE(waitFor([&] { return window_->deviceSelector()->isEnabled(); }, 20000));
        auto* tabs = window_->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
        tabs->setCurrentWidget(window_->findChild<QWidget*>(QStringLiteral("tab")));
    }
    CounterV2Control* row(int n) {
        return window_->findChild<CounterV2Control*>(QStringLiteral("widget_%1").arg(n + 3));
    }
    uint64_t total(int n) { return labelText(row(n), "totalLabel").toULongLong(); }
    QString settingsValue(const QString& mac, int n, const char* key) {
        QSettings onDisk(config_.path() + QStringLiteral("/Hollyfen/NettlebeamManager.conf"),
                         QSettings::IniFormat);
        return onDisk
            .value(QStringLiteral("DeviceConfig/%1/StatsV2/counter%2/%3")
                       .arg(mac)
                       .arg(n)
                       .arg(QLatin1String(key)))
            .toString();
    }

    QTemporaryDir firmware_;
};

TEST_F(CountersPageTest, AnEditReachesTheDeviceAndTheSettingsAndResetCountsFromZero) {
    const int handle = daemon_->attach({"--type", "11", "--mac", "02:00:00:00:00:21"});
    openWindow();
    QSignalSpy changed(row(2), &CounterV2Control::CounterConfigChanged);
    edit(row(2), [](CounterV2Editor* editor) {
        child<QCheckBox>(editor, "port1CB")->setChecked(true);
        setCheck(editor, "crcCB", Qt::Checked);
        setCheck(editor, "icmpCB", Qt::Unchecked);
        child<QComboBox>(editor, "modeCBox")->setCurrentIndex(1);
    });
    EXPECT_EQ(changed.size(), 1);

    // The device holds the definition, as the library reads it back.
    NettlebeamApiCounterV2 onDevice{};
    ASSERT_TRUE(waitFor([&] {
        return NettlebeamAPIGetCounterV2(handle, 2, &onDevice) == 0 && onDevice.port1 == 1;
    }));
    EXPECT_EQ(onDevice.iscrcValid, 1);
    EXPECT_EQ(onDevice.isicmp, 0);
    EXPECT_EQ(onDevice.isudp, -1);
    EXPECT_EQ(onDevice.port2, 0);
    EXPECT_EQ(onDevice.mode, 1);
    // So does the settings file, with the other fifteen.
    const QString key = QStringLiteral("020000000021");
    EXPECT_EQ(settingsValue(key, 2, "port1"), QStringLiteral("1"));
    EXPECT_EQ(settingsValue(key, 2, "iscrcValid"), QStringLiteral("1"));
    EXPECT_EQ(settingsValue(key, 2, "isicmp"), QStringLiteral("0"));
    EXPECT_EQ(settingsValue(key, 2, "mode"), QStringLiteral("1"));
    EXPECT_EQ(settingsValue(key, 2, "hidden"), QStringLiteral("0"));
    EXPECT_EQ(settingsValue(key, 15, "isudp"), QStringLiteral("-1"));

    // The generator's traffic is counted; "Reset" starts the total again.
    ASSERT_TRUE(waitFor([&] { return total(2) > 0; }, 20000));
    child<QPushButton>(row(2), "resetBtn")->click();
    ASSERT_TRUE(waitFor([&] { return labelText(row(2), "totalLabel") == QStringLiteral("0"); }));
    ASSERT_TRUE(waitFor([&] { return total(2) > 0; }, 20000));
}

TEST_F(CountersPageTest, ReplayedUdpFramesOnPortAAreCountedExactly) {
    // The replay starts once the stored definitions are on the device: ten
    // TCP frames, then 25 UDP frames.
    constexpr int kTcpFrames = 10;
    constexpr int kUdpFrames = 25;
    const QString capture = QString::fromStdString(daemon_->folder()) + QStringLiteral("/udp.pcap");
    {
        QFile file(capture);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        auto put32 = [&](uint32_t v) { file.write(reinterpret_cast<const char*>(&v), 4); };
        auto put16 = [&](uint16_t v) { file.write(reinterpret_cast<const char*>(&v), 2); };
        put32(0xa1b2c3d4);
        put16(2);
        put16(4);
        put32(0);
        put32(0);
        put32(65535);
        put32(1);  // Ethernet
        auto frame = [&](uint8_t protocol, uint32_t atMs) {
            QByteArray bytes(64, '\0');
            const char header[] = {
                0x02, 0,    0,    0, 0, 0x02, 0x02, 0, 0, 0, 0,  0x01,
                0x08, 0x00, 0x45, 0, 0, 50,   0,    0, 0, 0, 64, static_cast<char>(protocol),
                0,    0,    10,   0, 0, 1,    10,   0, 0, 2};
            bytes.replace(0, sizeof header, QByteArray(header, sizeof header));
            put32(atMs / 1000);
            put32((atMs % 1000) * 1000);
            put32(static_cast<uint32_t>(bytes.size()));
            put32(static_cast<uint32_t>(bytes.size()));
            file.write(bytes);
        };
        for (int i = 0; i < kTcpFrames; ++i) frame(6, 100u * i);
        for (int i = 0; i < kUdpFrames; ++i) frame(17, 100u * kTcpFrames + 20u * i);
    }
    {
        ManagerSettings settings;
        QList<StoredCounter> counters;
        for (int n = 0; n < kProgrammableCounters; ++n) counters.append({dontCare(n), false});
        counters[0].config.isudp = 1;
        counters[0].config.port1 = 1;
        counters[1].config.isudp = 1;
        counters[1].config.port2 = 1;
        settings.storeCounters(QStringLiteral("02:00:00:00:00:22"), counters);
    }
    const int handle = attachWithPortsDisabled(
        {"--type", "11", "--mac", "02:00:00:00:00:22", "--replay", capture.toStdString()});
    openWindow();
    EXPECT_EQ(child<QLabel>(row(0), "udpLabel")->styleSheet(),
              QStringLiteral("QLabel { color: lime }"));
    ASSERT_TRUE(waitFor([&] {
        NettlebeamApiCounterV2 first{}, second{};
        return NettlebeamAPIGetCounterV2(handle, 0, &first) == 0 && first.isudp == 1 &&
               first.port1 == 1 && NettlebeamAPIGetCounterV2(handle, 1, &second) == 0 &&
               second.isudp == 1 && second.port2 == 1;
    }));
    enablePorts(handle);
    ASSERT_TRUE(waitFor([&] { return total(0) == kUdpFrames; }, 30000)) << total(0);
    EXPECT_EQ(labelText(row(1), "totalLabel"), QStringLiteral("0"));  // port B saw nothing
}

TEST_F(CountersPageTest, ADeviceNeverSeenHereKeepsItsCountersAndTheSettingsLearnThem) {
    daemon_->attach({"--type", "13"});
    openWindow();
    // Programmed by another host before this manager first looked at it.
    const int handle = daemon_->attach({"--type", "11", "--mac", "02:00:00:00:00:23"});
    DeviceComboBox* selector = window_->deviceSelector();
    ASSERT_TRUE(waitFor([&] { return selector->count() == 2; }));
    NettlebeamApiCounterV2 programmed = dontCare(3);
    programmed.isudp = 1;
    programmed.port2 = 1;
    programmed.mode = 1;
    ASSERT_EQ(NettlebeamAPISetCounterV2(handle, programmed), 0);

    selector->setCurrentIndex(1);
    ASSERT_EQ(window_->currentHandle(), handle);
    ASSERT_TRUE(waitFor([&] { return settingsValue("020000000023", 15, "isudp") == "-1"; }));
    const NettlebeamApiCounterV2 shown = row(3)->definition();
    EXPECT_EQ(std::memcmp(&shown, &programmed, sizeof shown), 0);
    EXPECT_EQ(settingsValue("020000000023", 3, "isudp"), QStringLiteral("1"));
    EXPECT_EQ(settingsValue("020000000023", 3, "port2"), QStringLiteral("1"));
    // Nothing was sent over it: the device still counts what it was given.
    NettlebeamApiCounterV2 onDevice{};
    ASSERT_EQ(NettlebeamAPIGetCounterV2(handle, 3, &onDevice), 0);
    onDevice.index = 3;  // the record read back does not carry it
    EXPECT_EQ(std::memcmp(&onDevice, &programmed, sizeof onDevice), 0);
}
