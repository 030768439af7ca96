#include "portinterlock.h"

#include <QCheckBox>
#include <initializer_list>

#include "widgethelpers.h"

void PortInterlock::apply(const PortBoxes& port, const QObject* changed) {
    if (changed == nullptr) return;
    if (changed == port.autoNegotiation) {
        autoNegotiationToggled(port);
        return;
    }
    if (port.autoNegotiation->isChecked()) return;
    for (QCheckBox* speed : {port.full100, port.half100, port.full10, port.half10}) {
        if (changed == speed) forcedSpeedClicked(port, speed);
    }
}

void PortInterlock::autoNegotiationToggled(const PortBoxes& port) {
    const bool negotiating = port.autoNegotiation->isChecked();
    const auto negotiatedOnly = {port.asymmetricPause, port.symmetricPause, port.master,
                                 port.forceMasterSlave, port.full1000};
    for (QCheckBox* box : negotiatedOnly) box->setEnabled(negotiating);
    if (negotiating) return;
    for (QCheckBox* box : negotiatedOnly) checkWithoutSignals(box, false);
    // Keep the fastest forced speed that was checked, or 100TX-FD when none was.
    if (port.full100->isChecked()) {
        for (QCheckBox* box : {port.half100, port.full10, port.half10})
            checkWithoutSignals(box, false);
    } else if (port.half100->isChecked()) {
        for (QCheckBox* box : {port.full10, port.half10}) checkWithoutSignals(box, false);
    } else if (port.full10->isChecked()) {
        checkWithoutSignals(port.half10, false);
    } else if (!port.half10->isChecked()) {
        checkWithoutSignals(port.full100, true);
    }
}

void PortInterlock::forcedSpeedClicked(const PortBoxes& port, QCheckBox* clicked) {
    for (QCheckBox* box : {port.full100, port.half100, port.full10, port.half10, port.full1000}) {
        checkWithoutSignals(box, box == clicked);
    }
}
