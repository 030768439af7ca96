// The Capture page: the direct-capture configuration built from its widgets,
// the file-type extension and buffer-size texts, and the display of the
// capture status the device reports.
#pragma once

#include <QString>

#include "NettlebeamAPI.h"

namespace Ui {
class MainWindow;
}

class CapturePage {
  public:
    // The configuration the widgets describe. `fileName` is allocated with
    // malloc (the worker frees it); nothing when the name is empty.
    static bool buildConfig(Ui::MainWindow& ui, NettlebeamApiCapabilities caps,
                            NettlebeamApiDiskDumpConfig* config);

    // The name with its extension (all from the last dot of the file name)
    // replaced by, or else followed by, the file type's: 0 ".pcapng",
    // 1 ".pcap", 2 ".erf".
    static QString withExtension(const QString& name, int fileType);
    // The folder `fileName` would be written in, when it is missing: the
    // device does not create folders. A missing `createdWhenMissing` (the
    // documents folder of the default file: a new account may not have one)
    // is created instead; empty when the folder is there.
    static QString missingFolder(const QString& fileName, const QString& createdWhenMissing);
    // "%d MBytes" below 1024 MB, else "%.2lf GBytes".
    static QString bufferSizeText(int megabytes);
    // Default buffer: 3/16 of the available memory, in MB (the slider clamps it).
    static int defaultBufferMegabytes(uint64_t availableBytes);

    // Shows the status; true while the capture runs.
    static bool showStatus(Ui::MainWindow& ui, const NettlebeamApiDiskDumpStatus& status);
};
