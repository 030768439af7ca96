// The three PHY status tables of the Network Ports page: link and
// master/slave resolution, the link partner's advertisement, and the fault
// and error indicators, per port, with a running total of MDI crossover
// errors that lives as long as the window.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "NettlebeamAPI.h"

class QTableWidget;

class PhyStatusTables {
  public:
    // Sizes the tables' columns for the texts they will hold.
    PhyStatusTables(QTableWidget* link, QTableWidget* partner, QTableWidget* faults);

    void update(const NettlebeamApiLinkStatus& status, NettlebeamApiCapabilities caps);
    uint64_t mdiCrossoverTotal(int port) const { return mdiTotals_[port]; }

  private:
    void updatePort(int port, const NettlebeamApiPortLink& link, const NettlebeamApiPhyStatus& phy);
    void clearPorts();
    static void setCell(QTableWidget* table, int row, int port, const QString& text);

    QTableWidget* link_;
    QTableWidget* partner_;
    QTableWidget* faults_;
    std::array<uint64_t, 2> mdiTotals_{};
};
