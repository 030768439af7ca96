// The modal editor of one programmable counter's definition: tri-state boxes
// for the packet properties (must have, must not have, don't care), the IPv4
// or IPv6 address with per-byte wildcards, the size condition, the ports and
// the counting mode. The record's dropped condition is carried through as it
// came.
#pragma once

#include <QDialog>

#include "NettlebeamAPI.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLineEdit;

class CounterV2Editor : public QDialog {
    Q_OBJECT
  public:
    explicit CounterV2Editor(QWidget* parent = nullptr);

    // Fills the widgets from `record`.
    void setRecord(const NettlebeamApiCounterV2& record);
    NettlebeamApiCounterV2 record() const { return record_; }

  private slots:
    void on_ipv4CB_stateChanged(int arg1);
    void on_ipv6CB_stateChanged(int arg1);
    void on_sizeCBox_currentIndexChanged(int index);
    // Fills the record from the widgets, then closes with Accepted.
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();

  private:
    void buildForm();
    QCheckBox* triStateBox(const char* name, const QString& text);
    void fillRecord();
    void readAddress();

    NettlebeamApiCounterV2 record_{};
    QCheckBox* ipv4CB_ = nullptr;
    QLineEdit* ipv4TB_ = nullptr;
    QCheckBox* ipv6CB_ = nullptr;
    QLineEdit* ipv6TB_ = nullptr;
    QCheckBox* bcastCB_ = nullptr;
    QCheckBox* ucastCB_ = nullptr;
    QCheckBox* mcastCB_ = nullptr;
    QCheckBox* icmpCB_ = nullptr;
    QCheckBox* udpCB_ = nullptr;
    QCheckBox* tcpCB_ = nullptr;
    QCheckBox* crcCB_ = nullptr;
    QComboBox* sizeCBox_ = nullptr;
    QLineEdit* sizeTB_ = nullptr;
    QCheckBox* port1CB_ = nullptr;
    QCheckBox* port2CB_ = nullptr;
    QComboBox* modeCBox_ = nullptr;
    QDialogButtonBox* buttonBox_ = nullptr;
};
