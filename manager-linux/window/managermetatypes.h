// Registers every type the manager sends through queued signals or keeps in
// a QVariant. Call before the window is built; calling again does no harm.
#pragma once

void registerManagerMetaTypes();
