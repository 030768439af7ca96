// The main window against a private nettlebeamd: devices are attached and
// detached through the daemon, the window is looked at by object name as a
// user sees it, and its message boxes are answered from the test.
#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include "versionnumber.h"
#include "window_fixture.h"

using MainWindowTest = WindowTest;

TEST_F(MainWindowTest, StartsWithOnlyTheFeaturesPageAndADisabledSelector) {
    openWindow();
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Nettlebeam Manager - 2.5.34"));
    // The design size does not fit the offscreen screen: the window takes
    // the screen's available area (window_size_test looks closer).
    EXPECT_TRUE(waitFor(
        [&] { return window_->frameGeometry() == window_->screen()->availableGeometry(); }));
    EXPECT_EQ(tabTitles(tabs()), QStringList{QStringLiteral("Features")});
    EXPECT_TRUE(showsNoDevice());
    EXPECT_EQ(window_->currentHandle(), -1);
    EXPECT_FALSE(find<QLabel>("model_logo")->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_FALSE(find<QPushButton>("restart_device_btn")->isEnabled());
}

TEST_F(MainWindowTest, FollowsArrivalsSelectionAndRemovals) {
    openWindow();
    const int gigabit =
        daemon_->attach(withCurrentFirmware({"--type", "9", "--mac", "02:00:00:00:00:09"}));
    ASSERT_TRUE(selectorShows(1));
    DeviceComboBox* selector = window_->deviceSelector();
    EXPECT_EQ(selector->itemText(0), QStringLiteral("02:00:00:00:00:09 - Nettlebeam"));
    EXPECT_EQ(window_->currentHandle(), gigabit);
    EXPECT_EQ(tabs()->tabText(tabs()->currentIndex()), QStringLiteral("Features"));
    EXPECT_EQ(tabTitles(tabs()), (QStringList{"Counters", "Charts", "Log", "Network Ports",
                                              "Timing", "Features", "Capture"}));
    // The first status answer describes the device.
    ASSERT_TRUE(waitFor([&] {
        return statusText().startsWith(QStringLiteral("Nettlebeam Gigabit TAP Gen 2 GPS Device"));
    })) << statusText().toStdString();
    EXPECT_TRUE(statusText().contains(
        QStringLiteral("MAC Address : 02:00:00:00:00:09\nUsb : Super Speed\n")));
    EXPECT_FALSE(find<QLabel>("features_link_speed_label")->text().isEmpty());
    EXPECT_TRUE(find<QPushButton>("restart_device_btn")->isEnabled());

    const int fast = daemon_->attach(withCurrentFirmware({"--type", "13"}));
    ASSERT_TRUE(selectorShows(2));
    EXPECT_EQ(window_->currentHandle(), gigabit);  // a second arrival does not take the selection

    daemon_->detach(gigabit);
    ASSERT_TRUE(
        waitFor([&] { return window_->currentHandle() == fast && selector->count() == 1; }));
    EXPECT_FALSE(window_->hasDevice(gigabit));
    EXPECT_FALSE(tabTitles(tabs()).contains(QStringLiteral("Timing")));

    daemon_->detach(fast);
    ASSERT_TRUE(showsNoDevice());
    EXPECT_EQ(window_->currentHandle(), -1);
    EXPECT_EQ(statusText(), QStringLiteral("No Device Connected"));
    EXPECT_TRUE(find<QLabel>("features_link_speed_label")->text().isEmpty());
    EXPECT_EQ(tabTitles(tabs()), QStringList{QStringLiteral("Features")});
}

TEST_F(MainWindowTest, TheFeaturesFiguresAreTheSelectedDevicesOnly) {
    openWindow();
    auto* linkUp = find<QLabel>("features_link_up_label");
    auto* linkDown = find<QLabel>("features_link_down_label");
    auto* drops = find<QLabel>("features_drop_label");
    auto* link = find<QLabel>("features_link_speed_label");
    auto select = [&](int handle) {
        DeviceComboBox* selector = window_->deviceSelector();
        for (int i = 0; i < selector->count(); ++i) {
            auto* listed = selector->itemData(i, Qt::UserRole).value<NettlebeamDevice*>();
            if (listed != nullptr && listed->handle == handle) selector->setCurrentIndex(i);
        }
        return window_->currentHandle() == handle;
    };
    auto noFigures = [&] {
        return linkUp->text().isEmpty() && linkDown->text().isEmpty() && drops->text().isEmpty();
    };
    EXPECT_TRUE(noFigures());

    const int gigabit = daemon_->attach(withCurrentFirmware({"--type", "9"}));
    ASSERT_TRUE(selectorShows(1));
    ASSERT_TRUE(waitFor([&] { return !linkUp->text().isEmpty() && !drops->text().isEmpty(); }));

    // A device with bad firmware answers neither statistics nor a link state.
    const int bad = daemon_->attach({"--type", "1"});
    ASSERT_TRUE(selectorShows(2));
    ASSERT_TRUE(select(bad));
    ASSERT_TRUE(waitFor([&] { return statusText().startsWith(QStringLiteral("Bad firmware")); }))
        << statusText().toStdString();
    EXPECT_EQ(link->text(), QStringLiteral("Link State Unknown"));
    EXPECT_TRUE(noFigures()) << linkUp->text().toStdString();

    // The ten-gigabit statistics count drops but keep no link times.
    const int tenGigabit = daemon_->attach(withCurrentFirmware({"--type", "11"}));
    ASSERT_TRUE(selectorShows(3));
    ASSERT_TRUE(select(tenGigabit));
    ASSERT_TRUE(waitFor([&] { return !drops->text().isEmpty(); }));
    EXPECT_TRUE(linkUp->text().isEmpty() && linkDown->text().isEmpty());

    for (int handle : {gigabit, bad, tenGigabit}) daemon_->detach(handle);
    ASSERT_TRUE(showsNoDevice());
    EXPECT_TRUE(noFigures()) << drops->text().toStdString();
}

TEST_F(MainWindowTest, ATransceiverDeviceShowsTheSfpPageAndItsModules) {
    openWindow();
    daemon_->attach(withCurrentFirmware({"--type", "11", "--cage-b", "empty"}));
    ASSERT_TRUE(selectorShows(1));
    const QStringList titles = tabTitles(tabs());
    EXPECT_TRUE(titles.contains(QStringLiteral("SFP")));
    EXPECT_FALSE(titles.contains(QStringLiteral("Network Ports")));
    EXPECT_TRUE(waitFor([&] {
        return find<QLabel>("features_link_speed_label")->text() ==
               QStringLiteral("Module Present / Module Absent");
    }));
}

TEST_F(MainWindowTest, ADeviceOnTheWrongDriverIsRefusedAndItsRemovalIgnored) {
    BoxAnswerer answerer(QMessageBox::Ok);
    openWindow();
    const int refused = daemon_->attach({"--type", "5", "--driver-version", "0.1.3.61"});
    ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }));
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Wrong driver version"));
    EXPECT_TRUE(answerer.seen[0].text.endsWith(
        QStringLiteral("Current version : 0.1.3.61\nRequired version : 0.1.3.62")));
    EXPECT_FALSE(window_->hasDevice(refused));

    // Its removal reaches the window too; nothing was listed, nothing changes.
    // Removals and arrivals reach the window in the order the daemon posted
    // them, so once the next device is shown the removal has been handled.
    daemon_->detach(refused);
    const int accepted = daemon_->attach(withCurrentFirmware({"--type", "13"}));
    ASSERT_TRUE(selectorShows(1));
    EXPECT_EQ(window_->currentHandle(), accepted);
    EXPECT_EQ(answerer.seen.size(), 1);
}

TEST_F(MainWindowTest, TheFirmwareOfferAnsweredNoLeavesTheDeviceAsItWas) {
    BoxAnswerer answerer(QMessageBox::No);
    openWindow();
    const int old = daemon_->attach(
        {"--type", "13", "--mac", "02:00:00:00:00:0e", "--sw-fw", "1.0.0.0", "--hw-fw", "300"});
    ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }));
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Firmware Update"));
    // Which device, and what would change.
    EXPECT_EQ(answerer.seen[0].text,
              QStringLiteral("There is a new firmware available for your Nettlebeam.\n"
                             "Nettlebeam Fast Ethernet TAP 02:00:00:00:00:0e (Nettlebeam)\n"
                             "SW Firmware Version : 1.0.0.0 to 1.1.0.0\n"
                             "HW Firmware Version : 0300 to 0310\n"
                             "Do you want to update it now?"));
    ASSERT_TRUE(selectorShows(1));
    EXPECT_EQ(window_->currentHandle(), old);
    EXPECT_TRUE(find<QLineEdit>("features_firmware_file")->text().isEmpty());
    // Status keeps being polled: no update is running.
    ASSERT_TRUE(waitFor(
        [&] { return statusText().contains(QStringLiteral("SW Firmware Version : 1.0.0.0")); }));
}

TEST_F(MainWindowTest, TheDemoFleetIsOfferedOneUpgrade) {
    daemon_ = std::make_unique<nettlebeam::testsupport::Daemon>(
        std::vector<std::string>{"--fleet", "demo"});
    daemon_->exportControlPath();
    BoxAnswerer answerer(QMessageBox::No);
    openWindow();
    // Every arrival was handled, and every question it asked answered.
    ASSERT_TRUE(waitFor([&] {
        return window_->deviceSelector()->count() == 3 && !answerer.seen.isEmpty() &&
               QApplication::activeModalWidget() == nullptr;
    }));
    ASSERT_EQ(answerer.seen.size(), 1);
    const QString offer = answerer.seen[0].text;
    EXPECT_TRUE(offer.contains(
        QStringLiteral("\nNettlebeam Fast Ethernet TAP 00:1b:c5:0a:00:03 (Nettlebeam)\n")))
        << offer.toStdString();
    // Newer in both parts: nothing the device runs is taken back.
    const QRegularExpression versions(
        QStringLiteral("SW Firmware Version : ([0-9.]+) to ([0-9.]+)\n"
                       "HW Firmware Version : ([0-9]+) to ([0-9]+)"));
    const QRegularExpressionMatch match = versions.match(offer);
    ASSERT_TRUE(match.hasMatch()) << offer.toStdString();
    EXPECT_EQ(VersionNumber::compare(VersionNumber::parse(match.captured(2)),
                                     VersionNumber::parse(match.captured(1))),
              1)
        << offer.toStdString();
    EXPECT_GT(match.captured(4).toUInt(), match.captured(3).toUInt());
}

TEST_F(MainWindowTest, ADeviceLeavingWhileItsOfferIsOpenLeavesNothingBehind) {
    BoxAnswerer answerer(QMessageBox::Yes);
    openWindow();
    const int leaving = daemon_->attach({"--type", "13", "--sw-fw", "1.0.0.0"});
    answerer.whileOpen = [&] {
        daemon_->detach(leaving);
        waitFor([&] { return !window_->hasDevice(leaving); });
    };
    ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }));
    ASSERT_TRUE(showsNoDevice());
    EXPECT_TRUE(
        find<QLineEdit>("features_firmware_file")->text().isEmpty());  // no update was started
}

TEST_F(MainWindowTest, ARenameInTheSelectorIsStoredUnderTheDevicesMac) {
    openWindow();
    daemon_->attach(withCurrentFirmware({"--type", "13", "--mac", "02:00:00:00:00:0d"}));
    ASSERT_TRUE(selectorShows(1));
    DeviceComboBox* selector = window_->deviceSelector();
    QTest::mouseClick(selector, Qt::RightButton);
    ASSERT_TRUE(selector->isEditable());
    selector->lineEdit()->selectAll();
    QTest::keyClicks(selector->lineEdit(), QStringLiteral("Lab tap"));
    QTest::keyClick(selector->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(selector->itemText(0), QStringLiteral("02:00:00:00:00:0d - Lab tap"));

    QSettings onDisk(config_.path() + QStringLiteral("/Hollyfen/NettlebeamManager.conf"),
                     QSettings::IniFormat);
    EXPECT_EQ(onDisk.value(QStringLiteral("DeviceConfig/02000000000d/FriendlyName")).toString(),
              QStringLiteral("Lab tap"));

    // The next session names the device from the store.
    window_.reset();
    openWindow();
    ASSERT_TRUE(selectorShows(1));
    EXPECT_EQ(window_->deviceSelector()->itemText(0),
              QStringLiteral("02:00:00:00:00:0d - Lab tap"));
}

TEST_F(MainWindowTest, TheFirmwareOfferAnsweredYesFlashesTheCataloguedImage) {
    BoxAnswerer answerer(QMessageBox::Yes);
    openWindow();
    const std::vector<std::string> device = {"--type",  "13",      "--mac",   "00:1b:c5:0a:0d:01",
                                             "--sw-fw", "1.0.0.0", "--hw-fw", "300"};
    const int handle = daemon_->attach(device);
    ASSERT_TRUE(waitFor([&] { return answerer.seen.size() >= 2; }, 60000));
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Firmware Update"));
    EXPECT_TRUE(find<QLineEdit>("features_firmware_file")
                    ->text()
                    .endsWith(QStringLiteral("fast-ethernet-1.1.0.0.img")));
    EXPECT_EQ(answerer.seen[1].title, QStringLiteral("Firmware Update"));
    EXPECT_EQ(answerer.seen[1].text,
              QStringLiteral("Firmware successfully updated.\nPlease disconnect and reconnect "
                             "your Nettlebeam device."));
    EXPECT_EQ(find<QProgressBar>("progressBar")->value(), 100);

    // Reconnected as the box asks, the device runs what was flashed and is
    // offered nothing more.
    daemon_->detach(handle);
    ASSERT_TRUE(showsNoDevice());
    daemon_->attach(device);
    ASSERT_TRUE(waitFor([&] {
        return statusText().contains(QStringLiteral("SW Firmware Version : 1.1.0.0\n")) &&
               statusText().contains(QStringLiteral("HW Firmware Version : 0310\n"));
    })) << statusText().toStdString();
    EXPECT_EQ(answerer.seen.size(), 2);
}

TEST_F(MainWindowTest, AnUnknownDeviceTypeIsListedWithTheWarningImage) {
    openWindow();
    daemon_->attach({"--type", "2"});
    ASSERT_TRUE(selectorShows(1));
    ASSERT_TRUE(waitFor([&] {
        return statusText().startsWith(QStringLiteral("Unknown Nettlebeam\n"));
    })) << statusText().toStdString();
    const QImage shown = find<QLabel>("model_logo")->pixmap(Qt::ReturnByValue).toImage();
    const QImage warning = QPixmap(QStringLiteral(":/images/warning.png"))
                               .scaled(128, 128, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                               .toImage();
    EXPECT_EQ(shown, warning);
    EXPECT_EQ(tabTitles(tabs()), QStringList{QStringLiteral("Features")});
}
