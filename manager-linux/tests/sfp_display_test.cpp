// The transceiver module display: its code tables and formats directly, the
// display with crafted records, and the window's SFP page against a private
// nettlebeamd with ten-gigabit devices, including alarm and warning lines
// from a crafted transceiver reply.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <cstring>
#include <memory>
#include <sstream>

#include "devicecombobox.h"
#include "mainwindow.h"
#include "managermetatypes.h"
#include "sfpdisplay.h"
#include "sfpoptions.h"
#include "sfptexts.h"
#include "sfptransceiver.h"
#include "window_fixture.h"

namespace {

using SfpTexts::Quantity;

QString labelText(QWidget* parent, const QString& name) {
    auto* label = parent->findChild<QLabel*>(name);
    return label ? label->text() : QStringLiteral("<no %1>").arg(name);
}

template <typename Dialog>
Dialog* openedDialog(SFPDisplay* display) {
    const QList<Dialog*> dialogs = display->findChildren<Dialog*>();
    return dialogs.isEmpty() ? nullptr : dialogs.last();
}

NettlebeamApiSfpModule presentModule() {
    NettlebeamApiSfpModule module{};
    module.present = 1;
    std::strcpy(module.vendorName, "ACME OPTICS     ");
    module.vendorOui = 0xFF00904Cu;
    std::strcpy(module.partNumber, "AC-10G");
    module.bitRateNominal = 103;
    module.identifier = 200;
    module.connector = 20;
    module.lengthSmf = -2;
    module.lengthOm2 = 2500;
    module.diagnosticsType = 0;
    module.temperature = 36.25f;
    module.vcc = 3.3f;
    module.highAlarm.temperature = 75.0f;
    module.lowWarning.rxPower = 0.0617f;
    module.alarmFlags = (1u << 4) | (1u << 5) | (1u << 11);
    return module;
}

}  // namespace

TEST(SfpTexts, CodeTablesLengthsUnitsAndFlagLines) {
    using namespace SfpTexts;
    EXPECT_EQ(encoding(6), QStringLiteral("64B/66B"));
    EXPECT_EQ(encoding(7), QStringLiteral("Reserved"));
    EXPECT_EQ(rateIdentifier(9), QStringLiteral("Unspecified"));
    EXPECT_EQ(rateIdentifier(10), QStringLiteral("FC-PI-5 (TX and RX)"));
    EXPECT_EQ(rateIdentifier(11), QStringLiteral("Unallocated"));
    EXPECT_EQ(identifier(3), QStringLiteral("SFP or SFP+"));
    EXPECT_EQ(identifier(14), QStringLiteral("CXP"));
    EXPECT_EQ(identifier(20), QStringLiteral("Reserved (0x14)"));
    EXPECT_EQ(identifier(127), QStringLiteral("Reserved (0x7f)"));
    EXPECT_EQ(identifier(200), QStringLiteral("Vendor specific (0xc8)"));
    EXPECT_EQ(connector(15), QStringLiteral("RJ45"));
    EXPECT_EQ(connector(16), QStringLiteral("Reserved (0x10)"));
    EXPECT_EQ(connector(128), QStringLiteral("Vendor specific (0x80)"));
    EXPECT_EQ(monitoringType(3), QStringLiteral("Ext. calibrated/OMA"));
    EXPECT_EQ(monitoringType(4), QStringLiteral("None"));
    EXPECT_EQ(monitoringType(-1), QStringLiteral("None"));
    EXPECT_EQ(compliance(5), QStringLiteral("Rev 11.0 SFF-8472"));
    EXPECT_EQ(compliance(6), QStringLiteral("Unknown"));
    EXPECT_EQ(sonetReach(6), QStringLiteral("SONET LR-3"));
    EXPECT_EQ(sonetReach(7), QStringLiteral("Unknown"));

    const char unterminated[4] = {'A', 'B', 'C', 'D'};
    EXPECT_EQ(text(unterminated, sizeof unterminated), QStringLiteral("ABCD"));
    EXPECT_EQ(text("B2\0xx", 5), QStringLiteral("B2"));
    EXPECT_EQ(vendorOui(0xFF00904Cu), QStringLiteral("0x00904c"));
    EXPECT_EQ(extIdentifier(4), QStringLiteral("0x04"));
    EXPECT_EQ(bitRate(0), QStringLiteral("Unspecified"));
    EXPECT_EQ(bitRate(103), QStringLiteral("10300 Mbps"));
    EXPECT_EQ(margin(0), QStringLiteral("Unspecified"));
    EXPECT_EQ(margin(5), QStringLiteral("5%"));
    EXPECT_EQ(singleModeLength(-2), QStringLiteral(">254km"));
    EXPECT_EQ(singleModeLength(-1), QStringLiteral(">25.4km"));
    EXPECT_EQ(singleModeLength(0), QStringLiteral("Unspecified"));
    EXPECT_EQ(singleModeLength(2500), QStringLiteral("2.5km"));
    EXPECT_EQ(fibreLength(-1), QStringLiteral(">2.54km"));
    EXPECT_EQ(fibreLength(80), QStringLiteral("80m"));
    EXPECT_EQ(copperLength(-1), QStringLiteral(">254m"));
    EXPECT_EQ(copperLength(0), QStringLiteral("Unspecified"));

    EXPECT_EQ(measurement(Quantity::Temperature, -3.04f), QStringLiteral("-3.0°C"));
    EXPECT_EQ(measurement(Quantity::Vcc, 3.3f), QStringLiteral("3.30V"));
    EXPECT_EQ(measurement(Quantity::TxBias, 6.8f), QStringLiteral("6.800mA"));
    EXPECT_EQ(measurement(Quantity::RxPower, 0.0617f), QStringLiteral("0.0617mW"));

    EXPECT_EQ(warnings(0x1F), QStringLiteral("None "));  // alarms only
    EXPECT_EQ(alarms(0x1F), QStringLiteral("Temperature VCC TX Bias TX Power RX Power "));
    EXPECT_EQ(warnings((1u << 6) | (1u << 9)), QStringLiteral("VCC RX Power "));
    EXPECT_EQ(statusBits(0x3FF), QString());
    EXPECT_EQ(statusBits(0x1C00), QStringLiteral("TX Disable TX Fault RX LOS "));

    NettlebeamApiSfpModule module{};
    module.losMode = 2;
    module.options64[1] = 1;
    EXPECT_EQ(optionCaption(6), QStringLiteral("Loss of Signal Implementation :"));
    EXPECT_EQ(optionValue(6, optionField(module, 6)), QStringLiteral("Implemented, Inverted"));
    EXPECT_EQ(optionValue(1, optionField(module, 1)),
              QStringLiteral("Power Level 1 or unspecified"));
    EXPECT_EQ(optionValue(0, optionField(module, 0)), QStringLiteral("Cooled laser transmitter"));
    EXPECT_EQ(optionValue(3, 2), QStringLiteral("Not Implemented"));  // only LOS knows 2

    // Each group's rows follow the library's bit order within it.
    int total = 0;
    for (int group = 0; group < kTransceiverGroups; ++group) total += transceiverGroupSize(group);
    EXPECT_EQ(total, kTransceiverIndicators);
    module.compliance3[3] = 1;   // byte 3 bit 4, 10GBASE-SR, not declared
    module.compliance10[0] = 0;  // byte 10 bit 5
    module.compliance10[1] = 1;  // byte 10 bit 7
    module.sonetReach = 4;
    EXPECT_EQ(transceiverCaption(3), QStringLiteral("10G BASE-SR"));
    EXPECT_EQ(transceiverValue(module, 3), QStringLiteral("No"));
    EXPECT_EQ(transceiverValue(module, 0), QStringLiteral("Yes"));
    EXPECT_EQ(transceiverCaption(kSonetReachIndicator), QStringLiteral("SONET Reach Specifier"));
    EXPECT_EQ(transceiverValue(module, kSonetReachIndicator), QStringLiteral("SONET LR-1"));
    EXPECT_EQ(transceiverCaption(50), QStringLiteral("1600 MBytes/Sec"));
    EXPECT_EQ(transceiverValue(module, 50), QStringLiteral("Yes"));
    EXPECT_EQ(transceiverCaption(51), QStringLiteral("1200 MBytes/Sec"));
    EXPECT_EQ(transceiverValue(module, 51), QStringLiteral("No"));
    EXPECT_EQ(transceiverCaption(49), QStringLiteral("Single Mode (SM)"));
}

TEST(SfpDisplayPanel, ShowsCraftedModulesAndKeepsThemWithoutModuleData) {
    SFPDisplay display;
    NettlebeamApiLinkStatus status{};
    status.sfpValid = 1;
    status.sfp[0] = presentModule();
    status.sfp[1] = presentModule();
    status.sfp[1].diagnosticsType = 4;  // identification only
    display.refresh(status);

    EXPECT_EQ(labelText(&display, "statusA"), QStringLiteral("Present"));
    EXPECT_EQ(labelText(&display, "vendorNameA"), QStringLiteral("ACME OPTICS     "));
    EXPECT_EQ(labelText(&display, "vendorOuiA"), QStringLiteral("0x00904c"));
    EXPECT_EQ(labelText(&display, "identifierA"), QStringLiteral("Vendor specific (0xc8)"));
    EXPECT_EQ(labelText(&display, "connectorA"), QStringLiteral("Reserved (0x14)"));
    EXPECT_EQ(labelText(&display, "lengthSmfA"), QStringLiteral(">254km"));
    EXPECT_EQ(labelText(&display, "lengthOm2A"), QStringLiteral("2500m"));
    EXPECT_EQ(labelText(&display, "temperatureValueA"), QStringLiteral("36.3°C"));
    EXPECT_EQ(labelText(&display, "temperatureHighAlarmA"), QStringLiteral("75.0°C"));
    EXPECT_EQ(labelText(&display, "rxPowerLowWarningA"), QStringLiteral("0.0617mW"));
    EXPECT_EQ(labelText(&display, "warningsA"), QStringLiteral("Temperature "));
    EXPECT_EQ(labelText(&display, "alarmsA"), QStringLiteral("RX Power "));
    EXPECT_EQ(labelText(&display, "statusBitsA"), QStringLiteral("TX Fault "));
    EXPECT_EQ(labelText(&display, "lengthSmfB"), QStringLiteral(">254km"));
    EXPECT_EQ(labelText(&display, "monitoringTypeB"), QStringLiteral("None"));
    EXPECT_EQ(labelText(&display, "temperatureValueB"), QString());
    EXPECT_EQ(labelText(&display, "warningsB"), QString());

    // A record without module data changes nothing.
    NettlebeamApiLinkStatus empty{};
    display.refresh(empty);
    EXPECT_EQ(labelText(&display, "vendorNameA"), QStringLiteral("ACME OPTICS     "));
    EXPECT_EQ(labelText(&display, "warningsA"), QStringLiteral("Temperature "));

    // Without alarm and warning flags (offset 172 is 1) only values are shown.
    status.sfp[0].enhancedOptions[0] = 1;
    status.sfp[1].present = 0;
    display.refresh(status);
    EXPECT_EQ(labelText(&display, "temperatureValueA"), QStringLiteral("36.3°C"));
    EXPECT_EQ(labelText(&display, "vccValueA"), QStringLiteral("3.30V"));
    EXPECT_EQ(labelText(&display, "temperatureHighAlarmA"), QString());
    EXPECT_EQ(labelText(&display, "warningsA"), QString());
    EXPECT_EQ(labelText(&display, "alarmsA"), QString());
    EXPECT_EQ(labelText(&display, "statusBitsA"), QString());
    EXPECT_EQ(labelText(&display, "statusB"), QStringLiteral("Absent"));
    EXPECT_EQ(labelText(&display, "vendorNameB"), QString());
    EXPECT_EQ(labelText(&display, "lengthSmfB"), QString());
    EXPECT_FALSE(display.findChild<QPushButton*>(QStringLiteral("optionsB"))->isEnabled());
    EXPECT_TRUE(display.findChild<QPushButton*>(QStringLiteral("optionsA"))->isEnabled());
}

class SfpPageTest : public WindowTest {
  protected:
    // A ten-gigabit device shown in a new window whose firmware folder is
    // empty, so that no update is offered.
    int openWindowWith(std::vector<std::string> cages) {
        std::vector<std::string> args = {"--type", "11"};
        args.insert(args.end(), cages.begin(), cages.end());
        const int handle = daemon_->attach(args);
        window_ = std::make_unique<MainWindow>(nullptr, firmware_.path());
        window_->show();
        display_ = window_->findChild<SFPDisplay*>(QStringLiteral("sfpDisp"));
        return handle;
    }
    QString text(const char* name) { return labelText(display_, QString::fromLatin1(name)); }
    bool shows(const char* name, const QString& expected) {
        return waitFor([&] { return text(name) == expected; }, 20000);
    }
    QPushButton* button(const char* name) {
        return display_->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    // The transceiver reply the daemon gives now, as the library reads it.
    std::vector<uint8_t> transceiverReply(int handle) {
        const auto printed =
            daemon_->run({"request", "0xCB202048", std::to_string(handle), "--out", "500"});
        std::istringstream in(printed.out);
        std::string word;
        in >> word >> word;  // "result N"
        std::vector<uint8_t> bytes;
        while (in >> word) bytes.push_back(static_cast<uint8_t>(std::stoi(word, nullptr, 16)));
        return bytes;
    }

    QTemporaryDir firmware_;
    SFPDisplay* display_ = nullptr;
};

TEST_F(SfpPageTest, ShowsAShortAndALongReachModuleWithTheirDetails) {
    openWindowWith({"--cage-a", "sr", "--cage-b", "lr"});
    ASSERT_NE(display_, nullptr);
    ASSERT_TRUE(shows("statusA", QStringLiteral("Present"))) << text("statusA").toStdString();
    EXPECT_EQ(text("vendorNameA"), QStringLiteral("PHOTONFIELD     "));
    EXPECT_EQ(text("vendorNameB"), QStringLiteral("LUMENWAY        "));
    EXPECT_EQ(text("modelB"), QStringLiteral("LW-10G-LR13-EC  "));
    EXPECT_EQ(text("vendorOuiA"), QStringLiteral("0x024e10"));
    EXPECT_EQ(text("dateCodeA"), QStringLiteral("03-15-2026 A1"));
    EXPECT_EQ(text("bitrateNominalA"), QStringLiteral("10300 Mbps"));
    EXPECT_EQ(text("encodingA"), QStringLiteral("64B/66B"));
    EXPECT_EQ(text("identifierA"), QStringLiteral("SFP or SFP+"));
    EXPECT_EQ(text("connectorB"), QStringLiteral("LC"));
    EXPECT_EQ(text("wavelengthA"), QStringLiteral("850 nm"));
    EXPECT_EQ(text("wavelengthB"), QStringLiteral("1310 nm"));
    EXPECT_EQ(text("monitoringTypeA"), QStringLiteral("Int. calibrated/Av. power"));
    EXPECT_EQ(text("monitoringTypeB"), QStringLiteral("Ext. calibrated/Av. power"));
    EXPECT_EQ(text("lengthSmfA"), QStringLiteral("Unspecified"));
    EXPECT_EQ(text("lengthSmfB"), QStringLiteral("10.0km"));
    EXPECT_EQ(text("lengthOm2A"), QStringLiteral("80m"));
    EXPECT_EQ(text("lengthOm3A"), QStringLiteral("300m"));
    // Thresholds, the external ones through the module's calibration.
    EXPECT_EQ(text("temperatureHighAlarmA"), QStringLiteral("75.0°C"));
    EXPECT_EQ(text("temperatureHighAlarmB"), QStringLiteral("75.0°C"));
    EXPECT_EQ(text("vccLowAlarmB"), QStringLiteral("2.97V"));
    EXPECT_EQ(text("txBiasHighWarningA"), QStringLiteral("10.000mA"));
    EXPECT_EQ(text("txBiasHighWarningB"), QStringLiteral("80.000mA"));
    EXPECT_EQ(text("rxPowerLowWarningB"), QStringLiteral("0.0617mW"));
    EXPECT_TRUE(text("temperatureValueA").endsWith(QStringLiteral("°C")));
    EXPECT_TRUE(text("txPowerValueB").endsWith(QStringLiteral("mW")));
    EXPECT_EQ(text("warningsA"), QStringLiteral("None "));
    EXPECT_EQ(text("alarmsA"), QStringLiteral("None "));
    EXPECT_EQ(text("statusBitsA"), QString());

    button("transceiverB")->click();
    auto* transceiver = openedDialog<SFPTransceiver>(display_);
    ASSERT_NE(transceiver, nullptr);
    EXPECT_TRUE(transceiver->isVisible());
    EXPECT_FALSE(transceiver->isModal());
    EXPECT_EQ(transceiver->windowTitle(), QStringLiteral("Transceiver"));
    EXPECT_EQ(labelText(transceiver, "indicator2"), QStringLiteral("Yes"));  // 10G BASE-LR
    EXPECT_EQ(labelText(transceiver, "indicator3"), QStringLiteral("No"));   // 10G BASE-SR
    EXPECT_EQ(labelText(transceiver, "indicator18"), QStringLiteral("Unknown"));
    EXPECT_EQ(transceiver->findChildren<QLabel*>(QRegularExpression("^indicator")).size(), 56);
    EXPECT_TRUE(transceiver->testAttribute(Qt::WA_DeleteOnClose));
    transceiver->close();

    button("enhancedOptionsA")->click();
    auto* options = openedDialog<SFPOptions>(display_);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(options->windowTitle(), QStringLiteral("SFP Module Options"));
    EXPECT_EQ(labelText(options, "optionValue3"),
              QStringLiteral("Not Implemented"));                                  // RATE_SELECT
    EXPECT_EQ(labelText(options, "optionValue5"), QStringLiteral("Implemented"));  // TX_FAULT
    EXPECT_EQ(labelText(options, "optionValue6"), QStringLiteral("Implemented"));  // LOS
    EXPECT_EQ(labelText(options, "optionValue7"), QStringLiteral("Implemented"));  // flags
    EXPECT_EQ(labelText(options, "optionValue12"), QStringLiteral("Not Implemented"));
}

TEST_F(SfpPageTest, AnEmptyCageIsAbsentAndFlaggedModulesShowTheirLines) {
    const int handle = openWindowWith({"--cage-a", "sr", "--cage-b", "empty"});
    ASSERT_NE(display_, nullptr);
    ASSERT_TRUE(shows("statusB", QStringLiteral("Absent")));
    EXPECT_EQ(text("vendorNameB"), QString());
    EXPECT_EQ(text("temperatureValueB"), QString());
    for (const char* name : {"transceiverB", "optionsB", "enhancedOptionsB"})
        EXPECT_FALSE(button(name)->isEnabled()) << name;
    EXPECT_TRUE(button("transceiverA")->isEnabled());

    // Cage A's diagnostics page (reply bytes 259 on) with a temperature high
    // alarm, a Vcc high and an RX power low warning, and all three status bits.
    std::vector<uint8_t> reply = transceiverReply(handle);
    ASSERT_EQ(reply.size(), 500u);
    constexpr size_t kDiagnosticsA = 259;
    reply[kDiagnosticsA + 110] = 0x86;
    reply[kDiagnosticsA + 112] = 0x80;
    reply[kDiagnosticsA + 116] = 0x20;
    reply[kDiagnosticsA + 117] = 0x40;
    std::string hex;
    for (uint8_t byte : reply) hex += QString::asprintf("%02x", byte).toStdString();
    daemon_->inject({std::to_string(handle), "0xCB202048", "--reply-hex", hex, "--times", "1000"});
    ASSERT_TRUE(shows("alarmsA", QStringLiteral("Temperature "))) << text("alarmsA").toStdString();
    EXPECT_EQ(text("warningsA"), QStringLiteral("VCC RX Power "));
    EXPECT_EQ(text("statusBitsA"), QStringLiteral("TX Disable TX Fault RX LOS "));
    EXPECT_EQ(text("statusB"), QStringLiteral("Absent"));
}
