// The editing panels: the rules on their own, then the Features, Timing and
// Capture pages driven through the window against a private nettlebeamd, down
// to what the device holds and the files on disk.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <algorithm>

#include "capturepage.h"
#include "featuresform.h"
#include "log_capture.h"
#include "portinterlock.h"
#include "window_fixture.h"

namespace {

struct Port {
    QCheckBox an, f1000, f100, h100, f10, h10, asymmetric, symmetric, master, forceMs;
    PortBoxes boxes() {
        return {&an, &f1000, &f100, &h100, &f10, &h10, &asymmetric, &symmetric, &master, &forceMs};
    }
    QList<QCheckBox*> forcedSpeeds() { return {&f100, &h100, &f10, &h10}; }
    // Checks the given boxes and unchecks the others, as a user left them.
    void leave(std::initializer_list<QCheckBox*> checked) {
        for (QCheckBox* box :
             {&an, &f1000, &f100, &h100, &f10, &h10, &asymmetric, &symmetric, &master, &forceMs}) {
            box->setChecked(std::find(checked.begin(), checked.end(), box) != checked.end());
        }
    }
    void turnOffNegotiation() {
        an.setChecked(false);
        PortInterlock::apply(boxes(), &an);
    }
};

// The status answers the window has handled, counted from its debug line.
class StatusAnswerCount {
  public:
    StatusAnswerCount() {
        QLoggingCategory::setFilterRules(QStringLiteral("nettlebeam.manager.status.debug=true"));
    }
    ~StatusAnswerCount() { QLoggingCategory::setFilterRules(QString()); }
    int count() const {
        const QStringList lines = log_.lines();
        return static_cast<int>(std::count_if(
            lines.cbegin(), lines.cend(),
            [](const QString& line) { return line.startsWith(QLatin1String("status answer")); }));
    }

  private:
    LogCapture log_;
};

NettlebeamApiDeviceFeatures deviceFeatures(int handle) {
    NettlebeamApiDeviceFeatures features{};
    EXPECT_EQ(NettlebeamAPIGetDeviceFeatures(handle, &features), 0);
    return features;
}

}  // namespace

TEST(CaptureTexts, ExtensionsBufferSizesAndTheDefaultBuffer) {
    EXPECT_EQ(CapturePage::withExtension(QStringLiteral("/d/run.pcapng"), 2),
              QStringLiteral("/d/run.erf"));
    EXPECT_EQ(CapturePage::withExtension(QStringLiteral("/d/run.x.pcap"), 0),
              QStringLiteral("/d/run.x.pcapng"));
    EXPECT_EQ(CapturePage::withExtension(QStringLiteral("run"), 1), QStringLiteral("run.pcap"));
    // Dots in folder names and a hidden file's leading dot are not extensions.
    EXPECT_EQ(CapturePage::withExtension(QStringLiteral("/data/run.d/cap"), 0),
              QStringLiteral("/data/run.d/cap.pcapng"));
    EXPECT_EQ(CapturePage::withExtension(QStringLiteral("/data/run.d/.cap"), 1),
              QStringLiteral("/data/run.d/.cap.pcap"));
    EXPECT_EQ(CapturePage::withExtension(QStringLiteral("/data/run.d/cap.erf"), 0),
              QStringLiteral("/data/run.d/cap.pcapng"));
    EXPECT_EQ(CapturePage::withExtension(QStringLiteral("run.pcap"), -1),
              QStringLiteral("run.pcap"));
    EXPECT_EQ(CapturePage::bufferSizeText(1023), QStringLiteral("1023 MBytes"));
    EXPECT_EQ(CapturePage::bufferSizeText(1536), QStringLiteral("1.50 GBytes"));
    EXPECT_EQ(CapturePage::defaultBufferMegabytes(uint64_t(16) << 30), 3072);  // 3/16 of 16 GiB
    EXPECT_EQ(CapturePage::defaultBufferMegabytes(UINT64_MAX), INT_MAX);
    EXPECT_EQ(FeaturesForm::ppsDelayText(-215), QStringLiteral("-50.06 ns"));
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(FeaturesForm::initSourceIndex(FeaturesForm::initSourceValue(index)), index);
    }
    EXPECT_EQ(FeaturesForm::initSourceValue(0), 3);  // "Do not initialize"
}

TEST(PortInterlockRules, WithoutNegotiationExactlyOneForcedSpeedRemains) {
    Port port;
    port.leave({&port.an, &port.h10, &port.f1000, &port.asymmetric, &port.master});
    port.turnOffNegotiation();
    for (QCheckBox* box : port.forcedSpeeds()) EXPECT_EQ(box->isChecked(), box == &port.h10);
    for (QCheckBox* box :
         {&port.f1000, &port.asymmetric, &port.symmetric, &port.master, &port.forceMs}) {
        EXPECT_FALSE(box->isChecked());
        EXPECT_FALSE(box->isEnabled());
    }

    port.leave({&port.an});
    port.turnOffNegotiation();
    for (QCheckBox* box : port.forcedSpeeds()) EXPECT_EQ(box->isChecked(), box == &port.f100);

    port.leave({&port.an, &port.h100, &port.f10, &port.h10});
    port.turnOffNegotiation();
    for (QCheckBox* box : port.forcedSpeeds()) EXPECT_EQ(box->isChecked(), box == &port.h100);

    // The four speeds act as radio buttons while the port does not negotiate.
    port.f10.setChecked(true);
    PortInterlock::apply(port.boxes(), &port.f10);
    for (QCheckBox* box : port.forcedSpeeds()) EXPECT_EQ(box->isChecked(), box == &port.f10);

    port.an.setChecked(true);
    PortInterlock::apply(port.boxes(), &port.an);
    EXPECT_TRUE(port.f1000.isEnabled());
    port.h10.setChecked(true);
    PortInterlock::apply(port.boxes(), &port.h10);
    EXPECT_TRUE(port.f10.isChecked());  // negotiating: speeds combine freely
}

using EditingPanelsTest = WindowTest;

TEST_F(EditingPanelsTest, AFeatureChangeReachesTheDeviceAndOnlyWhatWasSavedSurvivesARestart) {
    BoxAnswerer answerer(QMessageBox::Ok);
    openWindow();
    const int handle = daemon_->attach(withCurrentFirmware({"--type", "9"}));
    ASSERT_TRUE(selectorShows(1));
    auto* timestamps = find<QCheckBox>("features_timestamps_check");
    auto* keepCrc = find<QCheckBox>("features_keep_crc_check");
    ASSERT_TRUE(waitFor([&] { return timestamps->isEnabled(); }));  // the first status answer
    const NettlebeamApiDeviceFeatures before = deviceFeatures(handle);

    QTest::mouseClick(timestamps, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return deviceFeatures(handle).timestamps == !before.timestamps; }));
    auto* save = find<QPushButton>("features_save_btn");
    EXPECT_TRUE(save->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }));
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Save Configuration"));
    EXPECT_EQ(answerer.seen[0].text,
              QStringLiteral("Configuration has been saved on the Nettlebeam device."));
    EXPECT_FALSE(save->isEnabled());

    // A change that is applied but not saved is gone after a restart.
    QTest::mouseClick(keepCrc, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return deviceFeatures(handle).keepCrc32 == !before.keepCrc32; }));
    QTest::mouseClick(find<QPushButton>("restart_device_btn"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !window_->hasDevice(handle); }, 20000));
    ASSERT_TRUE(waitFor([&] { return window_->currentHandle() == handle; }, 20000));
    const NettlebeamApiDeviceFeatures after = deviceFeatures(handle);
    EXPECT_EQ(after.timestamps, !before.timestamps);
    EXPECT_EQ(after.keepCrc32, before.keepCrc32);
    // The page shows what the device holds again.
    EXPECT_TRUE(waitFor([&] { return timestamps->isChecked() == (after.timestamps == 1); }));
}

TEST_F(EditingPanelsTest, ThePpsDelaySendsOneRequestAfterTheSliderStopped) {
    openWindow();
    const int handle = daemon_->attach(withCurrentFirmware({"--type", "9"}));
    ASSERT_TRUE(selectorShows(1));
    ASSERT_TRUE(openPage(QStringLiteral("Timing")));
    ASSERT_TRUE(waitFor([&] { return deviceFeatures(handle).ppsDelay == 0; }));
    QSignalSpy requests(window_.get(), &MainWindow::signal_set_features);
    QSignalSpy polls(window_.get(), &MainWindow::signal_get_iface_status);
    auto* slider = find<QSlider>("TimingPPSDelay");
    // The steps come closer together than the debounce whatever the machine's
    // load: nothing runs the event loop between them.
    for (int value : {-5, -40, -120, -100}) slider->setValue(value);
    EXPECT_EQ(find<QLabel>("TimingPPSDelayLabel")->text(), QStringLiteral("-23.28 ns"));
    EXPECT_EQ(requests.count(), 0);
    ASSERT_TRUE(waitFor([&] { return requests.count() >= 1; }));
    // Two more status polls, a second apart as the debounce is: a repeating
    // debounce would have sent again by the later one.
    const int pollsAtRequest = polls.count();
    ASSERT_TRUE(waitFor([&] { return polls.count() >= pollsAtRequest + 3; }));
    ASSERT_EQ(requests.count(), 1);
    EXPECT_EQ(requests[0][0].value<StatsThreadInfo>().features.ppsDelay, 100);
    EXPECT_TRUE(waitFor([&] { return deviceFeatures(handle).ppsDelay == 100; }));
}

TEST_F(EditingPanelsTest, FlashingPausesPollingAndABadImageEndsWithTheFailureBox) {
    BoxAnswerer answerer(QMessageBox::Ok);
    openWindow();
    const int handle = daemon_->attach(withCurrentFirmware({"--type", "13"}));
    ASSERT_TRUE(selectorShows(1));
    auto* flash = find<QPushButton>("features_flash_btn");
    ASSERT_TRUE(waitFor([&] { return flash->isEnabled(); }));

    QFile corrupt(config_.filePath(QStringLiteral("corrupt.img")));
    ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
    corrupt.write(QByteArray(70000, '\x5a'));
    corrupt.close();
    for (const QString& path : {corrupt.fileName(), config_.path()}) {
        answerer.seen.clear();
        find<QLineEdit>("features_firmware_file")->setText(path);
        QSignalSpy statusRequests(window_.get(), &MainWindow::signal_get_iface_status);
        // The selector is locked from the click until the window has handled
        // the update's end; polling may resume as soon as it has, before the
        // box is answered, so the requests are counted by when they were made.
        int requestsWhileUpdating = 0;
        const QMetaObject::Connection counting =
            QObject::connect(window_.get(), &MainWindow::signal_get_iface_status, [&] {
                if (!window_->deviceSelector()->isEnabled()) ++requestsWhileUpdating;
            });
        QTest::mouseClick(flash, Qt::LeftButton);
        EXPECT_FALSE(window_->deviceSelector()->isEnabled());
        ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }, 60000)) << path.toStdString();
        QObject::disconnect(counting);
        EXPECT_EQ(requestsWhileUpdating, 0);
        EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Firmware Update"));
        EXPECT_TRUE(answerer.seen[0].text.startsWith(QStringLiteral("Firmware update failed.")));
        EXPECT_TRUE(waitFor([&] { return statusRequests.count() > 0; }));  // polling again
        EXPECT_TRUE(window_->deviceSelector()->isEnabled());
    }
    EXPECT_TRUE(window_->hasDevice(handle));
}

TEST_F(EditingPanelsTest, TheWindowStaysOpenWhileFlashingAndADeviceLeavingEndsTheUpdate) {
    BoxAnswerer answerer(QMessageBox::Ok);
    openWindow();
    const int handle = daemon_->attach(withCurrentFirmware({"--type", "13"}));
    ASSERT_TRUE(selectorShows(1));
    auto* flash = find<QPushButton>("features_flash_btn");
    ASSERT_TRUE(waitFor([&] { return flash->isEnabled(); }));
    find<QLineEdit>("features_firmware_file")
        ->setText(QStringLiteral(SHIPPED_FIRMWARE_DIR "/fast-ethernet-1.1.0.0.img"));
    QTest::mouseClick(flash, Qt::LeftButton);
    ASSERT_FALSE(window_->deviceSelector()->isEnabled());

    EXPECT_FALSE(window_->close());  // refused, with a word why
    ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }));
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Firmware Update"));
    EXPECT_TRUE(answerer.seen[0].text.startsWith(QStringLiteral("A firmware update is running.")));
    EXPECT_TRUE(window_->isVisible());

    daemon_->detach(handle);
    ASSERT_TRUE(waitFor([&] { return answerer.seen.size() >= 2; }, 30000));
    EXPECT_TRUE(answerer.seen[1].text.startsWith(QStringLiteral("Firmware update failed.")));
    ASSERT_TRUE(showsNoDevice());
    // Nothing is left waiting for the gone device: a new one is followed as usual.
    const int next = daemon_->attach(withCurrentFirmware({"--type", "9"}));
    ASSERT_TRUE(selectorShows(1));
    EXPECT_EQ(window_->currentHandle(), next);
    EXPECT_TRUE(waitFor([&] { return find<QPushButton>("restart_device_btn")->isEnabled(); }));
}

TEST_F(EditingPanelsTest, WhileFlashingNoOtherControlOrSlotReachesTheDevice) {
    BoxAnswerer answerer(QMessageBox::Ok);
    openWindow();
    const int handle = daemon_->attach(withCurrentFirmware({"--type", "12"}));
    ASSERT_TRUE(selectorShows(1));
    auto* flash = find<QPushButton>("features_flash_btn");
    auto* firmwareSelection = find<QPushButton>("FirmwareSelectionBT");
    ASSERT_TRUE(waitFor([&] { return flash->isEnabled() && firmwareSelection->isVisible(); }));
    QList<QWidget*> controls = {firmwareSelection};
    for (const char* name :
         {"timestampInitSourceCB", "TimingWaitForSync", "TimingPPSOutput", "forcePPSGenerationCB",
          "TimingPortATStamp", "TimingPortBTStamp", "TimingPPSDelay", "TimingSetGPSTime",
          "TimingSetSNTPTime", "enableSimpleFiltersCB", "setSimpleFiltersBT", "saveSimpleFiltersBT",
          "enableFiltersCheckBox", "setFiltersButton", "saveFiltersButton",
          "setPacketsTypeFilterBT", "savePacketsTypeFilterBT"}) {
        controls << find<QWidget>(name);
    }
    for (QPushButton* edit : find<QWidget>("tab")->findChildren<QPushButton*>("editBtn"))
        controls << edit;
    ASSERT_EQ(controls.size(), 18 + 16);
    // Enabled before, as their pages left them; the rest only after a change.
    for (const char* name : {"FirmwareSelectionBT", "TimingPPSDelay", "TimingSetSNTPTime",
                             "enableSimpleFiltersCB", "setPacketsTypeFilterBT", "editBtn"}) {
        EXPECT_TRUE(window_->findChild<QWidget*>(QString::fromLatin1(name))->isEnabled()) << name;
    }

    find<QLineEdit>("features_firmware_file")
        ->setText(QStringLiteral(SHIPPED_FIRMWARE_DIR "/ten-gigabit-gps-1.1.0.0.img"));
    QSignalSpy restarts(window_.get(), &MainWindow::signal_restart_device);
    QSignalSpy resyncs(window_.get(), &MainWindow::signal_timing_resync);
    QSignalSpy filters(window_.get(), &MainWindow::signal_set_simplefilter);
    QSignalSpy features(window_.get(), &MainWindow::signal_set_features);
    QTest::mouseClick(flash, Qt::LeftButton);
    for (QWidget* control : controls)
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    // A click already on its way when the update started is refused too.
    for (const char* slot :
         {"slot_set_fw", "slot_restart_device", "on_TimingSetGPSTime_clicked",
          "on_setSimpleFiltersBT_clicked", "userChangedFeatures", "userStartUpdate"}) {
        ASSERT_TRUE(QMetaObject::invokeMethod(window_.get(), slot)) << slot;
    }

    ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }, 60000));
    EXPECT_EQ(answerer.seen[0].text,
              QStringLiteral("Firmware successfully updated.\nPlease disconnect and reconnect "
                             "your Nettlebeam device."));
    EXPECT_EQ(restarts.count() + resyncs.count() + filters.count() + features.count(), 0);
    EXPECT_TRUE(window_->hasDevice(handle));  // never restarted
    EXPECT_TRUE(firmwareSelection->isEnabled());
    EXPECT_TRUE(find<QWidget>("TimingSetGPSTime")->isEnabled());
    EXPECT_TRUE(find<QWidget>("enableFiltersCheckBox")->isEnabled());
}

TEST_F(EditingPanelsTest, ACaptureFromTheCapturePageWritesFilesCapinfosReads) {
    BoxAnswerer answerer(QMessageBox::Ok);
    openWindow();
    daemon_->attach(withCurrentFirmware({"--type", "9", "--traffic", "rate=2000"}));
    ASSERT_TRUE(selectorShows(1));
    ASSERT_TRUE(openPage(QStringLiteral("Capture")));
    auto* start = find<QPushButton>("capture_start_btn");
    ASSERT_TRUE(waitFor([&] { return start->isEnabled(); }));
    const QString folder = config_.filePath(QStringLiteral("captures"));
    ASSERT_TRUE(QDir().mkpath(folder));
    find<QLineEdit>("capture_filename")->setText(folder + QStringLiteral("/run.pcapng"));

    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(waitFor(
        [&] { return start->text() == QStringLiteral("Stop Capture") && start->isEnabled(); }));
    EXPECT_FALSE(find<QSpinBox>("capture_count")->isEnabled());
    auto* written = find<QLabel>("capture_written_label");
    ASSERT_TRUE(waitFor([&] {
        return written->text().endsWith(QStringLiteral("KBytes")) ||
               written->text().endsWith(QStringLiteral("MBytes"));
    }));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(waitFor(
        [&] { return start->text() == QStringLiteral("Start Capture") && start->isEnabled(); }));
    EXPECT_TRUE(answerer.seen.isEmpty());

    const QStringList files = QDir(folder).entryList({QStringLiteral("*.pcapng")}, QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& file : files) {
        const auto checked = nettlebeam::testsupport::runProcess(
            {"/usr/bin/capinfos", (folder + "/" + file).toStdString()});
        EXPECT_EQ(checked.exitStatus, 0) << file.toStdString() << checked.err;
    }
}

TEST_F(EditingPanelsTest, ACaptureThatCannotCreateItsFileShowsOneBox) {
    BoxAnswerer answerer(QMessageBox::Ok);
    StatusAnswerCount statusAnswers;
    openWindow();
    daemon_->attach(withCurrentFirmware({"--type", "9"}));
    ASSERT_TRUE(selectorShows(1));
    ASSERT_TRUE(openPage(QStringLiteral("Capture")));
    auto* start = find<QPushButton>("capture_start_btn");
    ASSERT_TRUE(waitFor([&] { return start->isEnabled(); }));
    // A name below a regular file cannot be created, whoever runs the test.
    QFile regular(config_.filePath(QStringLiteral("regular")));
    ASSERT_TRUE(regular.open(QIODevice::WriteOnly));
    regular.close();
    find<QLineEdit>("capture_filename")
        ->setText(regular.fileName() + QStringLiteral("/run.pcapng"));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }));
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Direct Capture"));
    // The capture status of a few more answers, handled as they come, still
    // holds the error: none may open the box again.
    const int answered = statusAnswers.count();
    ASSERT_TRUE(waitFor([&] { return statusAnswers.count() >= answered + 3; }));
    EXPECT_EQ(answerer.seen.size(), 1);
    EXPECT_EQ(start->text(), QStringLiteral("Start Capture"));
}

TEST_F(EditingPanelsTest, AMissingCaptureFolderIsNamedAndOnlyTheDocumentsFolderIsMade) {
    // An account without a documents folder: the default file lies in one.
    const QString home = config_.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home));
    struct Variable {
        const char* name;
        bool was = qEnvironmentVariableIsSet(name);
        QByteArray value = qgetenv(name);
        ~Variable() { was ? qputenv(name, value) : qunsetenv(name); }
    } restoredHome{"HOME"}, restoredConfig{"XDG_CONFIG_HOME"};
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    BoxAnswerer answerer(QMessageBox::Ok);
    openWindow();
    daemon_->attach(withCurrentFirmware({"--type", "9", "--traffic", "rate=2000"}));
    ASSERT_TRUE(selectorShows(1));
    ASSERT_TRUE(openPage(QStringLiteral("Capture")));
    auto* start = find<QPushButton>("capture_start_btn");
    ASSERT_TRUE(waitFor([&] { return start->isEnabled(); }));
    auto* name = find<QLineEdit>("capture_filename");
    const QString documents = home + QStringLiteral("/Documents");
    ASSERT_EQ(name->text(), documents + QStringLiteral("/capture.pcapng"));

    // Any other missing folder is the user's to make; the box says which.
    const QString elsewhere = config_.filePath(QStringLiteral("missing"));
    name->setText(elsewhere + QStringLiteral("/run.pcapng"));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }));
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("Direct Capture"));
    EXPECT_EQ(answerer.seen[0].text,
              QStringLiteral("The folder %1 does not exist.\nPlease choose an existing folder "
                             "for the capture file.")
                  .arg(elsewhere));
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
    EXPECT_TRUE(start->isEnabled());
    EXPECT_EQ(start->text(), QStringLiteral("Start Capture"));

    name->setText(documents + QStringLiteral("/capture.pcapng"));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(waitFor(
        [&] { return start->text() == QStringLiteral("Stop Capture") && start->isEnabled(); }));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(waitFor(
        [&] { return start->text() == QStringLiteral("Start Capture") && start->isEnabled(); }));
    EXPECT_FALSE(QDir(documents).entryList({QStringLiteral("*.pcapng")}, QDir::Files).isEmpty());
    EXPECT_EQ(answerer.seen.size(), 1);
}

TEST_F(EditingPanelsTest, AnSntpServerThatDoesNotAnswerShowsTheSntpBox) {
    BoxAnswerer answerer(QMessageBox::Ok);
    qputenv("NETTLEBEAM_NTP_SERVER", "127.0.0.1:9");  // discard: nothing answers
    openWindow();
    daemon_->attach(withCurrentFirmware({"--type", "9"}));
    ASSERT_TRUE(selectorShows(1));
    ASSERT_TRUE(openPage(QStringLiteral("Timing")));
    QTest::mouseClick(find<QPushButton>("TimingSetSNTPTime"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !answerer.seen.isEmpty(); }, 60000));
    qunsetenv("NETTLEBEAM_NTP_SERVER");
    EXPECT_EQ(answerer.seen[0].title, QStringLiteral("SNTP Time"));
    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("Failed to get time from SNTP server"));
}
