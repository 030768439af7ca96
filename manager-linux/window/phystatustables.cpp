#include "phystatustables.h"

#include <QHeaderView>
#include <QTableWidget>

#include "devicedescription.h"
#include "textfit.h"

namespace {

// PHY value indexes.
constexpr int kMasterSlave = 0;
constexpr int kPartnerAutoNeg = 1;
constexpr int kFirstAdvertised = 2;  // rows 1 to 11 of the partner table
constexpr int kParallelDetection = 13;
constexpr int kRemoteFault = 14;
constexpr int kMasterSlaveFault = 15;
constexpr int kLocalReceiver = 16;
constexpr int kRemoteReceiver = 17;
constexpr int kIdleErrors = 18;
constexpr int kFirstError = 19;  // rows 6 to 16 of the fault table
constexpr int kMdiCrossover = 30;

QString yesNo(int32_t value) {
    return value == 1 ? QStringLiteral("Yes") : QStringLiteral("No");
}
QString okNotOk(int32_t value) {
    return value == 1 ? QStringLiteral("OK") : QStringLiteral("Not OK");
}

}  // namespace

// Every text a port cell can hold fits in the port columns, and every row
// name in the first column where it does not stretch.
PhyStatusTables::PhyStatusTables(QTableWidget* link, QTableWidget* partner, QTableWidget* faults)
    : link_(link), partner_(partner), faults_(faults) {
    QStringList texts = {QStringLiteral("Slave"),
                         QStringLiteral("Master"),
                         QStringLiteral("N/A"),
                         QStringLiteral("Yes"),
                         QStringLiteral("No"),
                         QStringLiteral("OK"),
                         okNotOk(0),
                         QStringLiteral("99999999999")};
    NettlebeamApiPortLink port{};
    for (int32_t speed = NETTLEBEAM_LINK_SPEED_10M; speed <= NETTLEBEAM_LINK_SPEED_NO_LINK + 1;
         ++speed) {
        port.speed = speed;
        for (int32_t half : {0, 1}) {
            port.halfDuplex = half;
            texts.append(DeviceDescription::portLinkText(port));
        }
    }
    for (QTableWidget* table : {link_, partner_, faults_}) {
        for (int column : {1, 2}) fitColumn(table, column, texts);
        if (table->horizontalHeader()->sectionResizeMode(0) == QHeaderView::Stretch) continue;
        QStringList names;
        for (int row = 0; row < table->rowCount(); ++row)
            if (const QTableWidgetItem* item = table->item(row, 0)) names.append(item->text());
        fitColumn(table, 0, names);
    }
    // The link table shows its rows whole, however tall the font makes them.
    int height = link_->horizontalHeader()->sizeHint().height() + 2 * link_->frameWidth();
    for (int row = 0; row < link_->rowCount(); ++row) height += link_->rowHeight(row);
    link_->setFixedHeight(height);
}

void PhyStatusTables::setCell(QTableWidget* table, int row, int port, const QString& text) {
    if (row >= table->rowCount()) return;
    QTableWidgetItem* item = table->item(row, port + 1);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        table->setItem(row, port + 1, item);
    }
    if (item->text() != text) item->setText(text);
}

void PhyStatusTables::clearPorts() {
    for (QTableWidget* table : {link_, partner_, faults_}) {
        for (int row = 0; row < table->rowCount(); ++row) {
            for (int port = 0; port < 2; ++port) setCell(table, row, port, QString());
        }
    }
}

void PhyStatusTables::update(const NettlebeamApiLinkStatus& status,
                             NettlebeamApiCapabilities caps) {
    if ((caps & CapPerPortLinkStatus) == 0) {
        clearPorts();
        return;
    }
    for (int port = 0; port < 2; ++port) updatePort(port, status.ports[port], status.phy[port]);
}

void PhyStatusTables::updatePort(int port, const NettlebeamApiPortLink& link,
                                 const NettlebeamApiPhyStatus& phy) {
    const int32_t* v = phy.values;
    const bool down = link.speed == NETTLEBEAM_LINK_SPEED_NO_LINK;
    setCell(link_, 0, port, DeviceDescription::portLinkText(link));
    setCell(link_, 1, port,
            down ? QStringLiteral("N/A")
                 : (v[kMasterSlave] != 0 ? QStringLiteral("Slave") : QStringLiteral("Master")));

    const bool partnerKnown = v[kPartnerAutoNeg] == 1;
    setCell(partner_, 0, port, yesNo(v[kPartnerAutoNeg]));
    for (int row = 1; row <= 11; ++row) {
        setCell(partner_, row, port,
                partnerKnown ? yesNo(v[kFirstAdvertised + row - 1]) : QStringLiteral("N/A"));
    }

    setCell(faults_, 0, port, yesNo(v[kParallelDetection]));
    setCell(faults_, 1, port, yesNo(v[kRemoteFault]));
    setCell(faults_, 2, port, down ? QStringLiteral("N/A") : yesNo(v[kMasterSlaveFault]));
    setCell(faults_, 3, port, okNotOk(v[kLocalReceiver]));
    setCell(faults_, 4, port, okNotOk(v[kRemoteReceiver]));
    setCell(faults_, 5, port, yesNo(v[kIdleErrors] & 0xFF));
    for (int row = 6; row <= 16; ++row)
        setCell(faults_, row, port, yesNo(v[kFirstError + row - 6]));
    // The count the PHY reports is what happened since the last read.
    if (down) {
        mdiTotals_[port] = 0;
    } else if (v[kMdiCrossover] > 0) {
        mdiTotals_[port] += static_cast<uint64_t>(v[kMdiCrossover]);
    }
    setCell(faults_, 17, port, QString::number(mdiTotals_[port]));
}
