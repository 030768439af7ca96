// The statistics view in the real window against a private nettlebeamd: a
// device replays a capture made here, so the test knows every frame the
// device counted, and reads the tables, gauges, charts and log as a user
// sees them.
#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <memory>

#include "devicecombobox.h"
#include "mainwindow.h"
#include "managermetatypes.h"
#include "qgauge.h"
#include "window_fixture.h"

namespace {

// Port B's frames of the capture: per ten frames 2 under 64 bytes, 5 of 204
// and 3 of 1604 bytes on the wire (the capture holds them without FCS).
constexpr int kFrames = 1500;
constexpr int kSmall = 300, kMedium = 750, kLarge = 450;
constexpr uint64_t kBytes = kSmall * 60ull + kMedium * 204ull + kLarge * 1604ull;

int capturedLength(int frame) {
    const int slot = frame % 10;
    return slot < 2 ? 56 : slot < 7 ? 200 : 1600;
}

void put32(QByteArray& out, uint32_t value) {
    const uint32_t le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 4);
}

// A pcap file: one frame from 02:..:0a at 0 s (port A when split by
// direction), then port B's frames from 02:..:0b starting `quietSeconds`
// later, 2 ms apart.
QByteArray replayCapture(int quietSeconds) {
    QByteArray file;
    put32(file, 0xa1b2c3d4);
    put32(file, 2 | (4u << 16));  // version 2.4
    put32(file, 0);
    put32(file, 0);
    put32(file, 65535);
    put32(file, 1);  // Ethernet
    auto frame = [&](uint64_t microseconds, char source, int length) {
        put32(file, static_cast<uint32_t>(microseconds / 1000000));
        put32(file, static_cast<uint32_t>(microseconds % 1000000));
        put32(file, static_cast<uint32_t>(length));
        put32(file, static_cast<uint32_t>(length));
        QByteArray bytes(length, '\0');
        bytes.replace(0, 12, QByteArray::fromHex("ffffffffffff0200000000") + source);
        bytes[12] = '\x08';
        file.append(bytes);
    };
    frame(0, '\x0a', 60);
    for (int i = 0; i < kFrames; ++i)
        frame(quietSeconds * 1000000ull + i * 2000ull, '\x0b', capturedLength(i));
    return file;
}

}  // namespace

class StatisticsWindowTest : public WindowTest {
  protected:
    void openWindow() {
        // No firmware catalogue: no update is offered.
        window_ = std::make_unique<MainWindow>(nullptr, config_.filePath("no-catalogue"));
        window_->show();
    }
    QString cell(const char* table, int row, int column) {
        QTableWidgetItem* item = find<QTableWidget>(table)->item(row, column);
        return item ? item->text() : QStringLiteral("(none)");
    }
    QStringList row(const char* table, int row) {
        return {cell(table, row, 0), cell(table, row, 1), cell(table, row, 2)};
    }
    QStringList logLines() { return find<QPlainTextEdit>("log_txt")->toPlainText().split('\n'); }
    uint64_t deviceValidPacketsB() {
        NettlebeamApiStatistics now{};
        EXPECT_EQ(NettlebeamAPIGetStatistics(window_->currentHandle(), &now), 0);
        return now.data.v1.portB.totalValidPackets;
    }
};

TEST_F(StatisticsWindowTest, TablesGaugesChartsAndLogFollowTheReplayedTraffic) {
    const QString capture = config_.filePath("replay.pcap");
    {
        QFile file(capture);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(replayCapture(1));
    }
    const int handle =
        attachWithPortsDisabled({"--type", "9", "--mac", "02:00:00:00:00:19", "--replay",
                                 capture.toStdString(), "--replay-ports", "split"});
    openWindow();
    ASSERT_TRUE(waitFor([&] { return window_->deviceSelector()->isEnabled(); }));

    // The first record after the selection writes the link line and becomes
    // the tables' base. The replay waits for a link, so port B has seen
    // nothing yet and its totals will be exactly the capture's frames.
    ASSERT_TRUE(
        waitFor([&] { return logLines().last().endsWith(QStringLiteral(" - Link Up")); }, 30000));
    ASSERT_EQ(deviceValidPacketsB(), 0u) << "port B's frames came before the window's first record";
    EXPECT_EQ(logLines().size(), 1);
    enablePorts(handle);

    // A log full to its limit keeps its last 10000 lines once alarms come in.
    auto* log = find<QPlainTextEdit>("log_txt");
    for (int i = 1; i < 10000; ++i) log->appendPlainText(QStringLiteral("filler %1").arg(i));
    find<QDoubleSpinBox>("log_b_bw_val")->setValue(0.0);
    find<QCheckBox>("log_b_bw_check")->setChecked(true);
    openPage(QStringLiteral("Charts"));

    uint64_t highestRate = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            highestRate =
                std::max<uint64_t>(highestRate, cell("tableWidget_2", 0, 1).toULongLong());
            return cell("tableWidget_2", 0, 0) == QString::number(kFrames);
        },
        60000))
        << row("tableWidget_2", 0).join(' ').toStdString();
    // One more record without traffic: the rate is over the last second only.
    ASSERT_TRUE(waitFor([&] { return cell("tableWidget_2", 0, 1) == QStringLiteral("0"); }));
    EXPECT_GT(highestRate, 0u);
    EXPECT_LE(highestRate, static_cast<uint64_t>(kFrames));

    EXPECT_EQ(row("tableWidget_2", 0), (QStringList{"1500", "0", "100.00"}));
    EXPECT_EQ(row("tableWidget_2", 1), (QStringList{"300", "0", "20.00"}));
    EXPECT_EQ(row("tableWidget_2", 2), (QStringList{"750", "0", "50.00"}));
    EXPECT_EQ(row("tableWidget_2", 3), (QStringList{"450", "0", "30.00"}));
    EXPECT_EQ(row("tableWidget_2", 4), (QStringList{QString::number(kBytes), "0", "-"}));
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(row("tableWidget_4", r), (QStringList{"0", "0", "0.00"})) << r;

    // The gauges: the usage of the last second and the average since the base.
    EXPECT_EQ(find<QGauge>("meters_b_bw_gauge")->value(), 0.0);
    EXPECT_GT(find<QGauge>("meters_b_avbw_gauge")->value(), 0.0);
    EXPECT_EQ(find<QGauge>("meters_b_avcrc_gauge")->value(), 0.0);
    EXPECT_EQ(find<QLabel>("features_drop_label")->text(), QStringLiteral("0"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^0:0[0-9]:[0-5][0-9]$"))
                    .match(find<QLabel>("features_link_up_label")->text())
                    .hasMatch())
        << find<QLabel>("features_link_up_label")->text().toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]+\\.[0-9]{3} s$"))
                    .match(find<QLabel>("features_link_down_label")->text())
                    .hasMatch());

    // The charts: the 10 s scale in percentage mode shows port B's valid
    // packets at 100 % while the frames came.
    auto* plot = find<QCustomPlot>("graphs_b");
    QCPGraph* valid = plot->graph(9 + 6);
    ASSERT_TRUE(valid->visible());
    EXPECT_GE(valid->dataCount(), 3);
    bool sawAllValid = false;
    for (const QCPGraphData& point : *valid->data()) sawAllValid |= point.value == 100.0;
    EXPECT_TRUE(sawAllValid);
    EXPECT_DOUBLE_EQ(plot->xAxis->range().size(), 100.0);

    // The 10 min scale: span 6000 s, a tick every 600 s, its own graphs.
    find<QComboBox>("graphs_resolution_dropdown")->setCurrentIndex(2);
    plot->replot();
    EXPECT_DOUBLE_EQ(plot->xAxis->range().size(), 6000.0);
    const QVector<double> ticks = plot->xAxis->tickVector();
    ASSERT_GE(ticks.size(), 2);
    EXPECT_DOUBLE_EQ(ticks[1] - ticks[0], 600.0);
    EXPECT_FALSE(valid->visible());
    EXPECT_TRUE(plot->graph(36 + 9 + 6)->visible());
    EXPECT_EQ(plot->graph(36 + 9 + 6)->dataCount(), 0);  // no 60 s interval has passed
    // "packets/s" shows the mode-0 graphs of that scale.
    QTest::mouseClick(find<QRadioButton>("graphs_ps_radio"), Qt::LeftButton);
    EXPECT_TRUE(plot->graph(36 + 6)->visible());
    EXPECT_FALSE(plot->graph(36 + 9 + 6)->visible());
    // Back on the 10 s scale the value axis follows the mode shown: bytes per
    // second, then shares in percent again.
    find<QComboBox>("graphs_resolution_dropdown")->setCurrentIndex(0);
    EXPECT_GT(plot->yAxis->range().upper, 1000.0);
    QTest::mouseClick(find<QRadioButton>("graphs_per_radio"), Qt::LeftButton);
    EXPECT_GE(plot->yAxis->range().upper, 100.0);
    EXPECT_LT(plot->yAxis->range().upper, 200.0);

    // Every record wrote its alarm; the log kept its last 10000 lines.
    const QStringList lines = logLines();
    EXPECT_EQ(log->blockCount(), 10000);
    EXPECT_TRUE(lines.last().contains(QStringLiteral(" - Port B Bandwidth usage > 0.00% (")))
        << lines.last().toStdString();
    // The link line and the first filler went first.
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("filler "))) << lines.first().toStdString();
    EXPECT_NE(lines.first(), QStringLiteral("filler 1"));

    // "Clear A" leaves port B alone.
    QTest::mouseClick(find<QPushButton>("conters_clear_a_btn"), Qt::LeftButton);
    EXPECT_EQ(row("tableWidget", 0), (QStringList{"0", "0", "-"}));
    EXPECT_EQ(row("tableWidget_3", 2), (QStringList{"0", "0", "-"}));
    EXPECT_EQ(cell("tableWidget_2", 0, 0), QStringLiteral("1500"));
    QTest::mouseClick(find<QPushButton>("log_clear_btn"), Qt::LeftButton);
    EXPECT_TRUE(log->toPlainText().isEmpty());
    QTest::mouseClick(find<QPushButton>("graphs_clear_btn"), Qt::LeftButton);
    EXPECT_EQ(plot->graph(9 + 6)->dataCount(), 0);
}

TEST_F(StatisticsWindowTest, AnotherDeviceIsComparedWithNothingOfTheDeviceBefore) {
    // Port A's CRC errors alarm above 10 % of its packets; the second device
    // stays below, so any alarm on its page compares it with the first one.
    openWindow();
    find<QDoubleSpinBox>("log_a_crc_val")->setValue(10.0);
    find<QCheckBox>("log_a_crc_check")->setChecked(true);
    auto linkUpLogged = [&] { return logLines().filter(QStringLiteral(" - Link Up")).size() == 1; };
    auto portA = [](int handle) {
        NettlebeamApiStatistics now{};
        EXPECT_EQ(NettlebeamAPIGetStatistics(handle, &now), 0);
        return now.data.v1.portA;
    };
    const int busy =
        daemon_->attach({"--type", "9", "--traffic", "rate=3000,crc=0,jabber=0,collision=0"});
    ASSERT_TRUE(waitFor([&] { return window_->currentHandle() == busy; }));
    const int quiet =
        daemon_->attach({"--type", "9", "--traffic", "rate=300,crc=5,jabber=0,collision=0"});
    ASSERT_TRUE(waitFor(linkUpLogged, 30000));
    // The first device has counted far more packets, the second some CRC
    // errors: compared with each other they would be far above the threshold.
    ASSERT_TRUE(waitFor(
        [&] {
            return portA(busy).totalValidPackets > 10 * portA(quiet).totalValidPackets &&
                   portA(busy).totalValidPackets > 9000 && portA(quiet).crcErrors > 0;
        },
        30000));

    DeviceComboBox* selector = window_->deviceSelector();
    for (int i = 0; i < selector->count(); ++i) {
        auto* listed = selector->itemData(i, Qt::UserRole).value<NettlebeamDevice*>();
        if (listed != nullptr && listed->handle == quiet) selector->setCurrentIndex(i);
    }
    ASSERT_EQ(window_->currentHandle(), quiet);
    // Its first record reports its own link, and is only the alarms' reference.
    ASSERT_TRUE(waitFor(linkUpLogged, 30000)) << logLines().join('\n').toStdString();
    EXPECT_TRUE(logLines().filter(QStringLiteral("CRC error percentage")).isEmpty())
        << logLines().join('\n').toStdString();
}
