// A module's transceiver compliance codes (identification bytes 3 to 10 and
// the SFP+ cable technology bits), grouped by standard, as the module declared
// them when the dialog was opened.
#pragma once

#include <QDialog>

#include "NettlebeamAPI.h"

class SFPTransceiver : public QDialog {
    Q_OBJECT
  public:
    SFPTransceiver(QWidget* parent, const NettlebeamApiSfpModule& module);
};
