// The "Filters" page of the real window against a private nettlebeamd: what
// the user sets in the three filter editors reaches the device (read back
// with the library) and changes what a direct capture keeps, "Save" keeps it
// across a restart of the device, and refused input sends nothing.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <optional>

#include "window_fixture.h"

namespace {

// The frames of the enhanced packet blocks of a pcapng file; nothing until
// the file ends with its statistics blocks, which are written on close.
std::optional<QList<QByteArray>> closedCaptureFrames(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray data = file.readAll();
    auto word = [&](qsizetype at) {
        uint32_t value = 0;
        std::memcpy(&value, data.constData() + at, 4);
        return value;
    };
    QList<QByteArray> frames;
    uint32_t lastType = 0;
    for (qsizetype at = 0; at + 12 <= data.size();) {
        const uint32_t type = word(at);
        const uint32_t length = word(at + 4);
        if (length < 12 || at + length > data.size()) return std::nullopt;
        if (type == 6 && length >= 32) frames << data.mid(at + 28, word(at + 20));
        lastType = type;
        at += length;
    }
    if (lastType != 5) return std::nullopt;
    return frames;
}

}  // namespace

class FilterWindowTest : public WindowTest {
  protected:
    // A ten-gigabit device with the packet-type filter, shown on its
    // "Filters" page once the device's three filters have been shown.
    void openOnFilters(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--type", "12", "--hw-fw", "300"};
        args.insert(args.end(), extra.begin(), extra.end());
        handle_ = daemon_->attach(args);
        openWindow();
        ASSERT_TRUE(waitFor([&] { return window_->currentHandle() == handle_; }));
        // The device's filters are off: the answers disable both set buttons.
        ASSERT_TRUE(waitFor([&] {
            return !button("setSimpleFiltersBT")->isEnabled() &&
                   !button("setFiltersButton")->isEnabled();
        }));
        ASSERT_TRUE(openPage(QStringLiteral("Filters")));
    }

    QPushButton* button(const char* name) { return find<QPushButton>(name); }
    QCheckBox* box(const char* name) { return find<QCheckBox>(name); }
    void type(const char* edit, const QString& text, int at = -1) {
        auto* line = find<QLineEdit>(edit);
        if (at < 0) {
            line->clear();
        } else {
            line->setCursorPosition(at);
        }
        QTest::keyClicks(line, text);
    }

    // The device's filters; a failed read gives a record that matches nothing
    // the tests look for (while the device restarts, for instance).
    NettlebeamApiPacketFilter deviceHeaderFilter() {
        NettlebeamApiPacketFilter filter{};
        if (NettlebeamAPIGetPacketFilter(handle_, &filter) != 0) filter.enabled = -1;
        return filter;
    }
    NettlebeamApiDpiFilter deviceDpiFilter() {
        NettlebeamApiDpiFilter filter{};
        if (NettlebeamAPIGetDpiFilter(handle_, &filter) != 0) filter.enabled = -1;
        return filter;
    }
    NettlebeamApiPacketsTypeFilter devicePacketTypes() {
        NettlebeamApiPacketsTypeFilter filter{};
        if (NettlebeamAPIGetPacketsTypeFilter(handle_, &filter) != 0)
            std::memset(filter.flags, 0xFF, sizeof filter.flags);
        return filter;
    }
    static bool dpiIs(const NettlebeamApiDpiFilter& filter, const char* pattern, uint32_t mask) {
        return filter.enabled == 1 && filter.mask == mask &&
               std::memcmp(filter.pattern, pattern, std::strlen(pattern)) == 0;
    }
    // Source MAC 02:00:00:<fourth>:**:** (kept last byte first).
    static bool sourceMacIs(const NettlebeamApiPacketFilter& filter, uint8_t fourth) {
        return filter.enabled == 1 && filter.fieldFlags == NETTLEBEAM_FILTER_SRC_MAC &&
               filter.srcMac[5] == 0x02 && filter.srcMac[2] == fourth &&
               filter.careMaskLow == 0xF00 && filter.careMaskHigh == 0;
    }

    // A direct capture of about `frames` full-size frames into a fresh folder.
    QList<QByteArray> capture(int frames) {
        QTemporaryDir folder;
        const std::u16string name =
            QDir(folder.path()).filePath("filtered.pcapng").toStdU16String();
        NettlebeamApiDiskDumpConfig config{};
        config.fileName = reinterpret_cast<const NettlebeamApiChar16*>(name.c_str());
        config.maxCache = 64ull << 20;
        config.fileCount = 1;
        EXPECT_EQ(NettlebeamAPIDiskDumpSetConfig(handle_, config), 0);
        EXPECT_EQ(NettlebeamAPIDiskDumpStart(handle_), 0);
        NettlebeamApiDiskDumpStatus status{};
        EXPECT_TRUE(waitFor(
            [&] {
                return NettlebeamAPIDiskDumpGetStatus(handle_, &status) == 0 &&
                       status.bytesWritten + status.cacheUsed > uint64_t(frames) * 1500;
            },
            30000));
        EXPECT_EQ(NettlebeamAPIDiskDumpStop(handle_), 0);
        std::optional<QList<QByteArray>> kept;
        EXPECT_TRUE(waitFor([&] {
            const QStringList files = QDir(folder.path()).entryList(QDir::Files);
            if (files.size() == 1) kept = closedCaptureFrames(folder.filePath(files[0]));
            return kept.has_value();
        }));
        return kept.value_or(QList<QByteArray>{});
    }

    // The filter page's own box, among any others (a firmware offer).
    QStringList invalidInputBoxes() const {
        QStringList texts;
        for (const SeenBox& box : boxes_.seen) {
            if (box.title == QStringLiteral("Nettlebeam Manager")) texts << box.text;
        }
        return texts;
    }

    // Boxes with that title (a filter group's name), by text.
    QStringList boxesTitled(const char* title) const {
        QStringList texts;
        for (const SeenBox& box : boxes_.seen) {
            if (box.title == QLatin1String(title)) texts << box.text;
        }
        return texts;
    }
    // Makes the device refuse the next request with that code.
    void refuseNext(const char* code) {
        daemon_->inject({std::to_string(handle_), code, "--fail"});
    }
    // Requests are handled in order: once this packet-type change has
    // reached the device, every request sent before it has been handled.
    void settle() {
        box("isARP")->click();
        const uint8_t expected = box("isARP")->isChecked() ? 1 : 0;
        button("setPacketsTypeFilterBT")->click();
        ASSERT_TRUE(waitFor([&] { return devicePacketTypes().flags[2] == expected; }));
    }
    static QString starredPattern() {
        QStringList bytes;
        for (int i = 0; i < 16; ++i) bytes << QStringLiteral("**");
        return bytes.join(u' ');
    }

    int handle_ = -1;
    BoxAnswerer boxes_{QMessageBox::No};
};

TEST_F(FilterWindowTest, HeaderAndPatternSetInThePanelsReachTheDeviceAndItsCapture) {
    openOnFilters({"--traffic", "rate=2k,mix=large,crc=0,jabber=0"});

    // Frames sent by the servers (MAC 02:00:00:02:xx:xx) whose payload holds
    // "USER ": the echoes of the FTP and POP3 log-ins. Each filter alone
    // would keep other frames: the clients' log-ins, the servers' other traffic.
    box("enableSimpleFiltersCB")->click();
    box("srcMacCB")->click();
    type("srcMacTB", QStringLiteral("02:00:00:02:**:**"));
    button("setSimpleFiltersBT")->click();

    box("enableFiltersCheckBox")->click();
    button("setFiltersButton")->setEnabled(false);
    type("ClearBox", QStringLiteral("USER "), 0);
    EXPECT_TRUE(button("setFiltersButton")->isEnabled());  // the edit enabled it again
    EXPECT_EQ(find<QLineEdit>("HexBox")->text().left(15), QStringLiteral("55 53 45 52 20 "));
    button("setFiltersButton")->click();

    ASSERT_TRUE(waitFor([&] {
        return sourceMacIs(deviceHeaderFilter(), 0x02) && dpiIs(deviceDpiFilter(), "USER ", 0x1F);
    }));

    const QList<QByteArray> frames = capture(20);
    ASSERT_GE(frames.size(), 5);
    const QByteArray server = QByteArray::fromHex("02000002");
    for (const QByteArray& frame : frames) {
        ASSERT_TRUE(frame.mid(6, 4) == server && frame.contains("USER "))
            << frame.left(80).toHex().toStdString();
    }
    EXPECT_TRUE(invalidInputBoxes().isEmpty());
}

TEST_F(FilterWindowTest, SavedFiltersComeBackAfterARestartAndUnsavedOnesDoNot) {
    openOnFilters();
    box("isHTTP")->click();
    button("savePacketsTypeFilterBT")->click();
    EXPECT_FALSE(button("savePacketsTypeFilterBT")->isEnabled());

    box("enableFiltersCheckBox")->click();
    type("ClearBox", QStringLiteral("GET "), 0);
    button("saveFiltersButton")->click();
    EXPECT_FALSE(button("saveFiltersButton")->isEnabled());

    box("enableSimpleFiltersCB")->click();
    box("srcMacCB")->click();
    type("srcMacTB", QStringLiteral("02:00:00:01:**:**"));
    button("saveSimpleFiltersBT")->click();
    EXPECT_FALSE(button("saveSimpleFiltersBT")->isEnabled());

    auto savedOnDevice = [&] {
        const NettlebeamApiPacketsTypeFilter types = devicePacketTypes();
        return types.flags[8] == 0 && types.flags[10] == 1 &&
               dpiIs(deviceDpiFilter(), "GET ", 0xF) && sourceMacIs(deviceHeaderFilter(), 0x01);
    };
    ASSERT_TRUE(waitFor(savedOnDevice));

    // Changes only set: the device runs them until it restarts.
    box("isDNS")->click();
    button("setPacketsTypeFilterBT")->click();
    EXPECT_TRUE(button("savePacketsTypeFilterBT")->isEnabled());
    type("ClearBox", QStringLiteral("P"), 0);
    button("setFiltersButton")->click();
    type("srcMacTB", QStringLiteral("02:00:00:02:**:**"));
    button("setSimpleFiltersBT")->click();
    EXPECT_TRUE(button("saveSimpleFiltersBT")->isEnabled());
    ASSERT_TRUE(waitFor([&] {
        return devicePacketTypes().flags[10] == 0 && dpiIs(deviceDpiFilter(), "PET ", 0xF) &&
               sourceMacIs(deviceHeaderFilter(), 0x02);
    }));

    // The device leaves while it restarts and comes back, maybe as a new handle.
    ASSERT_EQ(NettlebeamAPIRestartDevice(handle_), 0);
    EXPECT_TRUE(waitFor(
        [&] {
            handle_ = window_->currentHandle();
            return savedOnDevice();
        },
        20000));
}

TEST_F(FilterWindowTest, RefusedHeaderInputShowsTheBoxAndSendsNothing) {
    openOnFilters();
    box("enableSimpleFiltersCB")->click();  // applies the empty, valid filter
    ASSERT_TRUE(waitFor([&] { return deviceHeaderFilter().enabled == 1; }));

    box("dstPortCB")->click();
    type("dstPortTB", QStringLiteral("80"));
    box("srcMacCB")->click();
    type("srcMacTB", QStringLiteral("aa:bb:cc"));  // the validator lets it be typed
    button("setSimpleFiltersBT")->click();
    EXPECT_EQ(
        invalidInputBoxes(),
        QStringList{QStringLiteral("Invalid parameter.\nPlease correct the highlighted values.")});
    EXPECT_EQ(find<QLineEdit>("srcMacTB")->styleSheet(), QStringLiteral("color: red"));
    button("saveSimpleFiltersBT")->click();
    EXPECT_EQ(invalidInputBoxes().size(), 2);

    // Requests are handled in order: once a later one has reached the
    // device, a header filter sent before it would have too.
    box("isARP")->click();
    button("setPacketsTypeFilterBT")->click();
    ASSERT_TRUE(waitFor([&] { return devicePacketTypes().flags[2] == 0; }));
    const NettlebeamApiPacketFilter header = deviceHeaderFilter();
    EXPECT_EQ(header.enabled, 1);
    EXPECT_EQ(header.fieldFlags, 0u);
    EXPECT_EQ(header.dstPort, 0);
}

TEST_F(FilterWindowTest, FirmwareWithoutThePacketTypeFilterHidesItsPanel) {
    const int older = daemon_->attach({"--type", "11", "--hw-fw", "219"});
    openWindow();
    ASSERT_TRUE(waitFor([&] { return window_->currentHandle() == older; }));
    ASSERT_TRUE(openPage(QStringLiteral("Filters")));
    EXPECT_TRUE(find<QWidget>("PacketsTypeFilter_Groupbox")->isHidden());
    EXPECT_FALSE(find<QWidget>("DPIFilter_Groupbox")->isHidden());

    const int newer = daemon_->attach({"--type", "11", "--hw-fw", "220"});
    ASSERT_TRUE(selectorShows(2));
    window_->deviceSelector()->setCurrentIndex(1);
    ASSERT_TRUE(waitFor([&] { return window_->currentHandle() == newer; }));
    EXPECT_FALSE(find<QWidget>("PacketsTypeFilter_Groupbox")->isHidden());
}

TEST_F(FilterWindowTest, AHalfTypedPayloadByteShowsTheBoxAndSendsNothing) {
    openOnFilters();
    box("enableFiltersCheckBox")->click();  // applies the all-wildcard pattern
    ASSERT_TRUE(waitFor([&] { return deviceDpiFilter().enabled == 1; }));

    type("HexBox", QStringLiteral("5"), 0);
    button("setFiltersButton")->click();
    EXPECT_EQ(
        invalidInputBoxes(),
        QStringList{QStringLiteral("Invalid parameter.\nPlease correct the highlighted values.")});
    EXPECT_EQ(find<QLineEdit>("HexBox")->styleSheet(), QStringLiteral("color: red"));
    button("saveFiltersButton")->click();
    EXPECT_EQ(invalidInputBoxes().size(), 2);
    settle();
    const NettlebeamApiDpiFilter held = deviceDpiFilter();
    EXPECT_EQ(held.enabled, 1);
    EXPECT_EQ(held.mask, 0u);

    // The whole byte goes, and the marking with it.
    type("HexBox", QStringLiteral("a"), 1);
    button("setFiltersButton")->click();
    ASSERT_TRUE(waitFor([&] { return dpiIs(deviceDpiFilter(), "\x5a", 0x1); }));
    EXPECT_NE(find<QLineEdit>("HexBox")->styleSheet(), QStringLiteral("color: red"));
    EXPECT_EQ(invalidInputBoxes().size(), 2);
}

// A field being corrected must not keep a filter on: turning it off sends
// what the device holds, disabled, and asks nothing about the fields.
TEST_F(FilterWindowTest, TurningAFilterOffSendsItDisabledWhateverTheFieldsHold) {
    openOnFilters();
    box("enableSimpleFiltersCB")->click();
    box("srcMacCB")->click();
    type("srcMacTB", QStringLiteral("02:00:00:01:**:**"));
    button("setSimpleFiltersBT")->click();
    box("enableFiltersCheckBox")->click();
    type("ClearBox", QStringLiteral("GET "), 0);
    button("setFiltersButton")->click();
    ASSERT_TRUE(waitFor([&] {
        return sourceMacIs(deviceHeaderFilter(), 0x01) && dpiIs(deviceDpiFilter(), "GET ", 0xF);
    }));

    type("srcMacTB", QStringLiteral("02:00"));
    type("HexBox", QStringLiteral("5"), 12);  // byte 4 half typed
    box("enableSimpleFiltersCB")->click();
    box("enableFiltersCheckBox")->click();
    ASSERT_TRUE(waitFor(
        [&] { return deviceHeaderFilter().enabled == 0 && deviceDpiFilter().enabled == 0; }));
    EXPECT_TRUE(invalidInputBoxes().isEmpty());
    EXPECT_FALSE(box("enableSimpleFiltersCB")->isChecked());
    EXPECT_FALSE(box("enableFiltersCheckBox")->isChecked());
    EXPECT_TRUE(button("saveSimpleFiltersBT")->isEnabled());
    EXPECT_TRUE(button("saveFiltersButton")->isEnabled());
    NettlebeamApiPacketFilter header = deviceHeaderFilter();
    header.enabled = 1;
    EXPECT_TRUE(sourceMacIs(header, 0x01));
    NettlebeamApiDpiFilter pattern = deviceDpiFilter();
    pattern.enabled = 1;
    EXPECT_TRUE(dpiIs(pattern, "GET ", 0xF));

    // Turning on again sends the fields, so they must be valid.
    box("enableSimpleFiltersCB")->click();
    EXPECT_EQ(invalidInputBoxes().size(), 1);
    box("enableFiltersCheckBox")->click();
    EXPECT_EQ(invalidInputBoxes().size(), 2);
}

// The device refuses a set or a save: the user is told, as for the features,
// and the page shows what the device holds instead of the refused values.
TEST_F(FilterWindowTest, ARefusedSetOrSaveIsReportedAndThePageShowsTheDevicesFilter) {
    openOnFilters();
    const QString notSet = QStringLiteral("The filter could not be set on the Nettlebeam device.");
    const QString notSaved =
        QStringLiteral("The filter could not be saved on the Nettlebeam device.");

    refuseNext("0xCB202068");  // the header filter's write
    box("enableSimpleFiltersCB")->click();
    ASSERT_TRUE(waitFor([&] { return !boxesTitled("Packet Filter").isEmpty(); }));
    EXPECT_EQ(boxesTitled("Packet Filter"), QStringList{notSet});
    ASSERT_TRUE(waitFor([&] { return !box("enableSimpleFiltersCB")->isChecked(); }));
    EXPECT_FALSE(button("setSimpleFiltersBT")->isEnabled());
    EXPECT_EQ(deviceHeaderFilter().enabled, 0);

    box("enableFiltersCheckBox")->click();
    ASSERT_TRUE(waitFor([&] { return deviceDpiFilter().enabled == 1; }));
    refuseNext("0xCB202050");  // the payload filter's write
    type("ClearBox", QStringLiteral("GET "), 0);
    button("setFiltersButton")->click();
    ASSERT_TRUE(waitFor([&] { return !boxesTitled("Deep Packet Inspection").isEmpty(); }));
    EXPECT_EQ(boxesTitled("Deep Packet Inspection"), QStringList{notSet});
    ASSERT_TRUE(waitFor([&] { return find<QLineEdit>("HexBox")->text() == starredPattern(); }));
    EXPECT_EQ(deviceDpiFilter().mask, 0u);

    refuseNext("0xCB20206C");  // the header filter's save
    box("enableSimpleFiltersCB")->click();
    button("saveSimpleFiltersBT")->click();
    ASSERT_TRUE(waitFor([&] { return boxesTitled("Packet Filter").size() == 2; }));
    EXPECT_EQ(boxesTitled("Packet Filter").last(), notSaved);
    EXPECT_TRUE(button("saveSimpleFiltersBT")->isEnabled());  // still unsaved
    EXPECT_TRUE(box("enableSimpleFiltersCB")->isChecked());   // the set went through

    refuseNext("0xCB202094");  // the packet-type filter's write
    const bool httpOnDevice = devicePacketTypes().flags[8] != 0;
    box("isHTTP")->click();
    button("setPacketsTypeFilterBT")->click();
    ASSERT_TRUE(waitFor([&] { return !boxesTitled("Packet Type Filter").isEmpty(); }));
    EXPECT_EQ(boxesTitled("Packet Type Filter"), QStringList{notSet});
    ASSERT_TRUE(waitFor([&] { return box("isHTTP")->isChecked() == httpOnDevice; }));
    EXPECT_EQ(devicePacketTypes().flags[8] != 0, httpOnDevice);
    EXPECT_TRUE(invalidInputBoxes().isEmpty());
}
