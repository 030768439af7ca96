// One large capture file sent through the Cloudshark panel, as the upload
// memory benchmark (bench/cloudshark_upload.sh) and the memory test measure
// it: the panel streams the file from disk, so the manager's resident memory
// must not grow with the file's size. The file is sparse (no disk space);
// the panel sees it finished by a capture that stops, as from the window.
//
//   nettlebeam-upload-probe APPLIANCE_URL MEGABYTES FOLDER
//
// Output lines: "rss_growth_kb <peak resident memory during the upload less
// the resident memory before it>", "remaining <the panel's remaining text>".
// Exit 0 when the upload ended without an error shown, 1 otherwise.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "cloudsharkcontrol.h"

namespace {

long residentKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

bool makeSparseFile(const QString& path, qint64 bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool sized = ::ftruncate(fd, bytes) == 0;
    ::close(fd);
    return sized;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s APPLIANCE_URL MEGABYTES FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[3]);
    const QString capture = folder + QStringLiteral("/large.pcapng");
    if (!makeSparseFile(capture, qint64(QByteArray(argv[2]).toLongLong()) << 20)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(capture));
        return 2;
    }

    QSettings settings(folder + QStringLiteral("/probe.conf"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Cloudshark/Url"), QString::fromLocal8Bit(argv[1]));
    settings.setValue(QStringLiteral("Cloudshark/Token"), QStringLiteral("probe"));
    NettlebeamDevice device;
    device.handle = 1;
    CloudsharkControl panel(QString(), nullptr);
    panel.setSettings(&settings);
    panel.setDeviceLookup([&device](NettlebeamApiDeviceHandle) { return &device; });
    panel.findChild<QCheckBox*>(QStringLiteral("enabled"))->setChecked(true);
    auto* progress = panel.findChild<QFrame*>(QStringLiteral("progressPanel"));
    auto* error = panel.findChild<QFrame*>(QStringLiteral("errorPanel"));
    panel.show();
    QApplication::processEvents();

    const long before = residentKilobytes();
    long peak = before;
    panel.captureStatusChanged(device.handle, {1, 0});
    panel.newFileAvailable(device.handle, capture);
    panel.captureStatusChanged(device.handle, {0, 0});
    // Sampled while the upload runs: a buffered body would stay resident
    // until the reply finishes, so the peak would show it.
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        peak = std::max(peak, residentKilobytes());
        if (progress->isHidden()) application.quit();
    });
    sampler.start(10);
    application.exec();
    std::printf("rss_growth_kb %ld\n", peak - before);
    std::printf("remaining %s\n",
                qPrintable(panel.findChild<QLabel*>(QStringLiteral("remaining"))->text()));
    QFile::remove(capture);
    return error->isVisible() ? 1 : 0;
}
