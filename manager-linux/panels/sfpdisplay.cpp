#include "sfpdisplay.h"

SFPDisplay::SFPDisplay(QWidget* parent) : QWidget(parent) {}

void SFPDisplay::refresh(const StatsThreadInfo& /*info*/) {}
