// A module's option and enhanced-option declarations, one row each, as the
// module declared them when the dialog was opened.
#pragma once

#include <QDialog>

#include "NettlebeamAPI.h"

class SFPOptions : public QDialog {
    Q_OBJECT
  public:
    SFPOptions(QWidget* parent, const NettlebeamApiSfpModule& module);
};
