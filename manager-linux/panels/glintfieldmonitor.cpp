#include "glintfieldmonitor.h"

GlintfieldMonitor::GlintfieldMonitor(QObject* parent) : QObject(parent) {}

void GlintfieldMonitor::Command(glintfieldmonitor_target /*target*/,
                                glintfieldmonitor_command /*command*/) {}
