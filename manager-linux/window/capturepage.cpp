#include "capturepage.h"

#include <QDir>
#include <QFileInfo>
#include <QPalette>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "sizetext.h"
#include "ui_mainwindow.h"
#include "widgethelpers.h"

namespace {

constexpr uint64_t kMegabyte = uint64_t(1) << 20;

NettlebeamApiChar16* copyForWorker(const QString& text) {
    const std::size_t units = std::size_t(text.size()) + 1;
    auto* copy =
        static_cast<NettlebeamApiChar16*>(std::malloc(units * sizeof(NettlebeamApiChar16)));
    if (copy != nullptr) std::memcpy(copy, text.utf16(), units * sizeof(NettlebeamApiChar16));
    return copy;
}

}  // namespace

bool CapturePage::buildConfig(Ui::MainWindow& ui, NettlebeamApiCapabilities caps,
                              NettlebeamApiDiskDumpConfig* config) {
    const QString name = ui.capture_filename->text();
    if (name.isEmpty()) return false;
    *config = NettlebeamApiDiskDumpConfig{};
    config->loop = ui.capture_loop->isChecked() ? 1 : 0;
    config->extraOption = 0;
    config->mode = 0;
    // Sizes in 64 bits: 20000 MB and 8192 MB do not fit in 32.
    config->fileSize = uint64_t(ui.capture_size->value()) * kMegabyte;
    config->maxCache = uint64_t(ui.maxCacheSizeTrackBar->value()) * kMegabyte;
    config->fileCount = ui.capture_count->value();
    config->fileDuration = ui.capture_duration->value();
    config->fullFrames =
        (caps & CapCaptureV2) != 0 && ui.capture_fullframe_checkbox->isChecked() ? 1 : 0;
    config->fileName = copyForWorker(name);
    return config->fileName != nullptr;
}

QString CapturePage::withExtension(const QString& name, int fileType) {
    static const char* const kExtensions[] = {".pcapng", ".pcap", ".erf"};
    if (fileType < 0 || fileType > 2) return name;
    // Only a dot inside the file's own name starts its extension: folders may
    // have dots ("/data/run.d/cap"), and a leading dot names a hidden file.
    const int nameStart = name.lastIndexOf('/') + 1;
    const int dot = name.lastIndexOf('.');
    const QString stem = dot <= nameStart ? name : name.left(dot);
    return stem + QString::fromLatin1(kExtensions[fileType]);
}

QString CapturePage::missingFolder(const QString& fileName, const QString& createdWhenMissing) {
    const QString folder = QFileInfo(fileName).absolutePath();
    if (QFileInfo(folder).isDir()) return QString();
    // Only the last level: the documents folder lies in an existing home.
    const bool create = !createdWhenMissing.isEmpty() &&
                        QDir::cleanPath(folder) == QDir::cleanPath(createdWhenMissing);
    if (create && QDir().mkdir(folder)) return QString();
    return folder;
}

QString CapturePage::bufferSizeText(int megabytes) {
    if (megabytes < 1024) return QStringLiteral("%1 MBytes").arg(megabytes);
    return QString::asprintf("%.2lf GBytes", megabytes / 1024.0);
}

int CapturePage::defaultBufferMegabytes(uint64_t availableBytes) {
    return int(std::min<uint64_t>(availableBytes / 16 * 3 / kMegabyte, INT_MAX));
}

bool CapturePage::showStatus(Ui::MainWindow& ui, const NettlebeamApiDiskDumpStatus& status) {
    const bool running = status.enabled != 0;
    ui.capture_start_btn->setEnabled(true);
    ui.capture_start_btn->setText(running ? QStringLiteral("Stop Capture")
                                          : QStringLiteral("Start Capture"));
    for (QWidget* setting : std::initializer_list<QWidget*>{
             ui.capture_fullframe_checkbox, ui.capture_size, ui.capture_count, ui.capture_loop,
             ui.capture_duration, ui.maxCacheSizeTrackBar}) {
        setting->setEnabled(!running);
    }
    const QString bytes = QStringLiteral("Bytes");
    ui.capture_written_label->setText(sizeText(status.bytesWritten, bytes));
    ui.capture_used_cache_label->setText(sizeText(status.cacheUsed, bytes));
    setTextColour(ui.capture_used_cache_label,
                  status.statusFlag
                      ? QColor(Qt::red)
                      : ui.capture_written_label->palette().color(QPalette::WindowText));
    ui.capture_dropped_label->setText(sizeText(status.bytesDropped, bytes));
    return running;
}
