// A statistics table: one port's counters of one kind (valid or invalid
// frames), paired with the table showing the same port's other kind. The
// statistics view decides how the cells are filled and reset.
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

    // True until the first statistics sample after construction or a reset
    // has been taken as the base of the averages.
    bool isFirstSample() const { return firstSample_; }
    void setFirstSample(bool first) { firstSample_ = first; }

  private:
    int port_ = 0;
    SQTableWidget* paired_ = nullptr;
    bool firstSample_ = true;
};
