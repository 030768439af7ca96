// Editor of the header packet filter: MAC, IP and port of source and
// destination, each optional and with per-byte wildcards.
// Placeholder: the panel keeps the record it is given; its editing behaviour comes later.
#pragma once

#include <QWidget>

#include "NettlebeamAPI.h"

class SimpleFilterControl : public QWidget {
    Q_OBJECT
  public:
    explicit SimpleFilterControl(QWidget* parent = nullptr);

    // The record the device reported.
    void setFilter(const NettlebeamApiPacketFilter& filter);
    // Fills `filter` from the panel; 0 on success, -1 when a used field is invalid.
    int fillFilter(NettlebeamApiPacketFilter* filter) const;

  private:
    NettlebeamApiPacketFilter filter_{};
};
