// Draws the manager's artwork into PNG files at build time: the device and
// status images from the SVG drawings beside this folder, the gauge and the
// status lights by QPainter.
//   nettlebeam-artwork <svg folder> <output folder> <resource name>...
// Each resource name ("images/warning.png") is written under the output
// folder; a name this program cannot draw is an error, so the resource list
// of the build and the drawings here cannot drift apart silently.
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>

#include "bulletartwork.h"
#include "gaugeartwork.h"

namespace {

constexpr int kImageSize = 128;  // device images, shown 128 x 128
constexpr int kIconSize = 32;    // selector icons, shown at 16 to 24
constexpr int kBulletSize = 24;

QString svgFolder;

std::optional<QImage> renderSvg(const QString& file, int size) {
    QSvgRenderer renderer(QDir(svgFolder).filePath(file));
    if (!renderer.isValid()) return std::nullopt;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    renderer.render(&painter);
    return image;
}

using Drawing = std::function<std::optional<QImage>()>;

Drawing svg(const char* file, int size) {
    return [file, size] { return renderSvg(QString::fromLatin1(file), size); };
}

Drawing painted(QImage (*paint)()) {
    return [paint] { return std::optional<QImage>(paint()); };
}

Drawing bullet(QColor colour) {
    return [colour] { return std::optional<QImage>(paintBullet(colour, kBulletSize)); };
}

const std::map<QString, Drawing>& drawings() {
    static const std::map<QString, Drawing> all = {
        {"images/disconnected.png", svg("disconnected.svg", kImageSize)},
        {"images/warning.png", svg("warning.svg", kImageSize)},
        {"images/model-gigabit.png", svg("model-gigabit.svg", kImageSize)},
        {"images/model-gigabit-gen2.png", svg("model-gigabit-gen2.svg", kImageSize)},
        {"images/model-ten-gigabit.png", svg("model-ten-gigabit.svg", kImageSize)},
        {"images/model-ten-gigabit-gps.png", svg("model-ten-gigabit-gps.svg", kImageSize)},
        {"images/model-fast-ethernet.png", svg("model-fast-ethernet.svg", kImageSize)},
        {"images/icon-gigabit.png", svg("model-gigabit.svg", kIconSize)},
        {"images/icon-gigabit-gen2.png", svg("model-gigabit-gen2.svg", kIconSize)},
        {"images/icon-ten-gigabit.png", svg("model-ten-gigabit.svg", kIconSize)},
        {"images/icon-ten-gigabit-gps.png", svg("model-ten-gigabit-gps.svg", kIconSize)},
        {"images/icon-fast-ethernet.png", svg("model-fast-ethernet.svg", kIconSize)},
        {"images/cloudshark.png", svg("cloudshark.svg", 64)},
        {"icons/NettlebeamIco.png", svg("nettlebeam-icon.svg", 256)},
        {"gauge/img/gauge.png", painted(&paintGaugeDial)},
        {"gauge/img/needle.png", painted(&paintGaugeNeedle)},
        {"gps/green.png", bullet(QColor(0x2e, 0xb8, 0x4b))},
        {"gps/yellow.png", bullet(QColor(0xf2, 0xc0, 0x1e))},
        {"gps/red.png", bullet(QColor(0xd9, 0x2b, 0x2b))},
        {"gps/grey.png", bullet(QColor(0x9a, 0x9e, 0xa4))},
    };
    return all;
}

bool write(const QString& outFolder, const QString& name) {
    const auto drawing = drawings().find(name);
    if (drawing == drawings().end()) {
        std::fprintf(stderr, "nettlebeam-artwork: no drawing for %s\n", qPrintable(name));
        return false;
    }
    const std::optional<QImage> image = drawing->second();
    if (!image) {
        std::fprintf(stderr, "nettlebeam-artwork: cannot draw %s\n", qPrintable(name));
        return false;
    }
    const QString path = QDir(outFolder).filePath(name);
    if (!QDir().mkpath(QFileInfo(path).path()) || !image->save(path, "PNG")) {
        std::fprintf(stderr, "nettlebeam-artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: nettlebeam-artwork <svg folder> <output folder> <name>...\n");
        return 2;
    }
    // Every text is set in DejaVu Sans; a substitute would change the layout.
    if (!QFontDatabase().families().contains(QStringLiteral("DejaVu Sans"))) {
        std::fprintf(stderr, "nettlebeam-artwork: the font DejaVu Sans is not installed\n");
        return 1;
    }
    svgFolder = arguments[1];
    for (int i = 3; i < arguments.size(); ++i)
        if (!write(arguments[2], arguments[i])) return 1;
    return 0;
}
