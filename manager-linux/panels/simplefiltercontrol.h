// Editor of the header packet filter: MAC, IP and port of source and
// destination, each optional and with per-byte wildcards. For each layer the
// user matches a source/destination pair or one address in either direction;
// in the latter mode only the source row is shown and used.
#pragma once

#include <QWidget>
#include <memory>

#include "NettlebeamAPI.h"
#include "packet_filter_fields.h"

namespace Ui {
class SimpleFilterControl;
}
class QLineEdit;

class SimpleFilterControl : public QWidget {
    Q_OBJECT
  public:
    explicit SimpleFilterControl(QWidget* parent = nullptr);
    ~SimpleFilterControl() override;

    // Shows the record the device reported: flags, modes and every text.
    void setFilter(const NettlebeamApiPacketFilter& filter);
    // Fills `filter` from the panel (its `enabled` stays 0); 0 on success, -1
    // when a used field is invalid. Every invalid field is then painted red and
    // the record is incomplete.
    int fillFilter(NettlebeamApiPacketFilter* filter);

  private slots:
    void on_srcMacCB_stateChanged(int arg1);
    void on_dstMacCB_stateChanged(int arg1);
    void on_srcIpCB_stateChanged(int arg1);
    void on_dstIpCB_stateChanged(int arg1);
    void on_srcPortCB_stateChanged(int arg1);
    void on_dstPortCB_stateChanged(int arg1);
    void on_ipVersionCB_currentIndexChanged(int index);
    void on_macModeCB_currentIndexChanged(int index);
    void on_ipModeCB_currentIndexChanged(int index);
    void on_portModeCB_currentIndexChanged(int index);

  private:
    // Moves the mode boxes next to the short fields they govern.
    void arrangeModes();
    void setFieldFlag(uint32_t flag, bool on);
    void setEitherFlag(uint16_t flag, bool on);
    // Labels, visibility, check boxes and enabled states from the flags.
    void refreshControls();
    void refreshTexts();
    bool fillIp(QLineEdit* edit, nettlebeam::records::FilterField field,
                NettlebeamApiPacketFilter* filter) const;
    bool fillMac(QLineEdit* edit, nettlebeam::records::FilterField field,
                 NettlebeamApiPacketFilter* filter) const;
    bool fillPort(QLineEdit* edit, nettlebeam::records::FilterField field,
                  NettlebeamApiPacketFilter* filter) const;

    std::unique_ptr<Ui::SimpleFilterControl> ui_;
    // The flags are the live state of the check boxes and mode boxes.
    NettlebeamApiPacketFilter filter_{};
};
