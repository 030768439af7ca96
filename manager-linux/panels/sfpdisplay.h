// Identification and diagnostics of the transceiver modules in both SFP cages.
// Placeholder: the display takes status answers; its contents come later.
#pragma once

#include <QWidget>

#include "statsthreadinfo.h"

class SFPDisplay : public QWidget {
    Q_OBJECT
  public:
    explicit SFPDisplay(QWidget* parent = nullptr);

    // Takes the module part of the link status carried in a status answer.
    void refresh(const StatsThreadInfo& info);
};
