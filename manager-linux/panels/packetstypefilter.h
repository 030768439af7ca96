// Check boxes choosing which kinds of traffic the device passes: network
// layers, transport and application protocols, TCP flag conditions.
// Placeholder: the panel keeps the record it is given; its check boxes come later.
#pragma once

#include <QWidget>

#include "NettlebeamAPI.h"

class PacketsTypeFilter : public QWidget {
    Q_OBJECT
  public:
    explicit PacketsTypeFilter(QWidget* parent = nullptr);

    // Shows the record; emits nothing.
    void setFilter(const NettlebeamApiPacketsTypeFilter& filter);
    // Byte i is 1 when type i is selected, else 0.
    void getFilter(NettlebeamApiPacketsTypeFilter* filter) const;

  signals:
    // The user altered a box.
    void changed();

  private:
    NettlebeamApiPacketsTypeFilter filter_{};
};
