// A statistics table: one port's counters of one kind (valid or invalid
// frames), paired with the table showing the same port's other kind. The
// statistics view (StatisticsView) fills and resets the cells of both and
// keeps the records they are computed from.
#pragma once

#include <QTableWidget>

class SQTableWidget : public QTableWidget {
    Q_OBJECT

  public:
    explicit SQTableWidget(QWidget* parent = nullptr);

    void setPort(int port) { port_ = port; }
    int port() const { return port_; }

    // Non-owning; the window owns both tables.
    void setPairedTable(SQTableWidget* paired) { paired_ = paired; }
    SQTableWidget* pairedTable() const { return paired_; }

  private:
    int port_ = 0;
    SQTableWidget* paired_ = nullptr;
};
