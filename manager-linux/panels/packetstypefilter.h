// Check boxes choosing which kinds of traffic the device passes: network
// layers, transport and application protocols, TCP flag conditions. Box i
// stands for byte i of the packet-type record, whatever its place on screen.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "NettlebeamAPI.h"

namespace Ui {
class PacketsTypeFilter;
}
class QCheckBox;

class PacketsTypeFilter : public QWidget {
    Q_OBJECT
  public:
    explicit PacketsTypeFilter(QWidget* parent = nullptr);
    ~PacketsTypeFilter() override;

    // Checks box i when byte i is not 0; emits nothing.
    void setFilter(const NettlebeamApiPacketsTypeFilter& filter);
    // Byte i is 1 when box i is checked, else 0.
    void getFilter(NettlebeamApiPacketsTypeFilter* filter) const;

  signals:
    // The user altered a box.
    void changed();

  private slots:
    void controlChanged(int state);

  private:
    std::unique_ptr<Ui::PacketsTypeFilter> ui_;
    std::array<QCheckBox*, NETTLEBEAM_PACKET_TYPE_CLASSES> boxes_{};
};
