// The rules that keep a port's speed boxes consistent while the user edits
// them: without auto-negotiation a port has exactly one forced speed, and the
// boxes that only mean something while negotiating are cleared and disabled.
#pragma once

class QCheckBox;
class QObject;

struct PortBoxes {
    QCheckBox* autoNegotiation;
    QCheckBox* full1000;
    QCheckBox* full100;
    QCheckBox* half100;
    QCheckBox* full10;
    QCheckBox* half10;
    QCheckBox* asymmetricPause;
    QCheckBox* symmetricPause;
    QCheckBox* master;
    QCheckBox* forceMasterSlave;
};

class PortInterlock {
  public:
    // Applies the rules for the box `changed` when it belongs to `port`;
    // every change is made with the boxes' signals blocked.
    static void apply(const PortBoxes& port, const QObject* changed);

  private:
    static void autoNegotiationToggled(const PortBoxes& port);
    static void forcedSpeedClicked(const PortBoxes& port, QCheckBox* clicked);
};
