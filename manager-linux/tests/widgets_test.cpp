// The small widgets and helpers: time-span texts, size texts, the gauge's
// clamping and needle drawing, in-place renaming in the device selector, the
// device artwork table and the compiled-in artwork.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QtMath>
#include <cmath>
#include <limits>

#include "devicecombobox.h"
#include "deviceicon.h"
#include "nettlebeamdevice.h"
#include "qgauge.h"
#include "qtimespanspinbox.h"
#include "sizetext.h"
#include "widgethelpers.h"

namespace {

struct TimespanProbe : QTimespanSpinBox {
    using QTimespanSpinBox::textFromValue;
    using QTimespanSpinBox::valueFromText;
    QValidator::State check(QString text) const {
        int position = 0;
        return validate(text, position);
    }
};

TEST(TimespanSpinBox, WritesAndReadsHoursMinutesSeconds) {
    TimespanProbe box;
    EXPECT_EQ(box.textFromValue(3725), "01:02:05");
    EXPECT_EQ(box.textFromValue(0), "00:00:00");
    EXPECT_EQ(box.textFromValue(1000000), "277:46:40");
    EXPECT_EQ(box.valueFromText("01:02:05"), 3725);
    EXPECT_EQ(box.valueFromText("1:30"), 5400);  // missing parts count 0
    EXPECT_EQ(box.valueFromText("2"), 7200);
    EXPECT_EQ(box.valueFromText("::7"), 7);
    EXPECT_EQ(box.valueFromText(""), 0);
    EXPECT_EQ(box.valueFromText("999999:0:0"), std::numeric_limits<int>::max());
}

TEST(TimespanSpinBox, AcceptsOrRejectsNeverIntermediate) {
    TimespanProbe box;
    for (const char* text : {"99:59:59", "", "::", "1::5", "0:59", "12"})
        EXPECT_EQ(box.check(text), QValidator::Acceptable) << text;
    for (const char* text : {"1:60", "1:2:60", "1:2:3:4", ":::", "x", "1:x", "1:-5", "99999999999"})
        EXPECT_EQ(box.check(text), QValidator::Invalid) << text;
}

// Every printable character but the separator, in each part: only the ten
// digits are taken.
TEST(TimespanSpinBox, PartsTakeDecimalDigitsAndNothingNextToThem) {
    TimespanProbe box;
    for (char c = '!'; c <= '~'; ++c) {
        if (c == ':') continue;
        const bool digit = c >= '0' && c <= '9';
        for (const char* pattern : {"#", "1#", "1:#", "0:5#", "0:0:5#"}) {
            const QString text = QString::fromLatin1(pattern).replace(u'#', QLatin1Char(c));
            EXPECT_EQ(box.check(text) == QValidator::Acceptable, digit) << text.toStdString();
        }
    }
}

TEST(SizeText, SwitchesPrefixAtEachPowerOf1024) {
    EXPECT_EQ(sizeText(0, "B"), "0 B");
    EXPECT_EQ(sizeText(512, "B/s"), "512 B/s");
    EXPECT_EQ(sizeText(1023, "B"), "1023 B");
    EXPECT_EQ(sizeText(1024, "B"), "1.00 KB");
    EXPECT_EQ(sizeText(1536, "B"), "1.50 KB");
    EXPECT_EQ(sizeText((1u << 20) - 1, "B"), "1024.00 KB");
    EXPECT_EQ(sizeText(1u << 20, "B"), "1.00 MB");
    EXPECT_EQ(sizeText((1u << 30) - 1, "B"), "1024.00 MB");
    EXPECT_EQ(sizeText(1u << 30, "B"), "1.00 GB");
    EXPECT_EQ(sizeText(std::numeric_limits<quint64>::max(), "B"), "17179869184.00 GB");
}

QImage render(QGauge& gauge) {
    QImage image(gauge.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    gauge.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

bool isNeedleRed(QRgb pixel) {
    return qRed(pixel) > 150 && qGreen(pixel) < 90 && qBlue(pixel) < 90;
}

// A gauge set up as the window sets up its six.
void useShippedArtwork(QGauge& gauge) {
    gauge.setDialImage(QPixmap(":/gauge/img/gauge.png"));
    gauge.setNeedleImage(QPixmap(":/gauge/img/needle.png"));
    gauge.setPivot(287, 299);
    gauge.setA0(0);
    gauge.setA1(93);
}

TEST(Gauge, ClampsIntoItsRange) {
    QGauge gauge;
    gauge.setValue(150);
    EXPECT_EQ(gauge.value(), 100);
    gauge.setValue(-20);
    EXPECT_EQ(gauge.value(), 0);
    gauge.setValue(std::nan(""));
    EXPECT_EQ(gauge.value(), 0);
    gauge.setValue(42.5);
    EXPECT_EQ(gauge.value(), 42.5);
}

// Without a dial the needle is drawn unscaled; the value 1 is the needle
// image as it is, and 0 lies one step (0.93 degrees) anticlockwise of it.
TEST(Gauge, TurnsAnUnscaledNeedleAboutItsPivot) {
    QImage needle(600, 600, QImage::Format_ARGB32);
    needle.fill(Qt::transparent);
    QPainter(&needle).fillRect(QRect(299, 0, 2, 300), Qt::black);
    QGauge gauge;
    gauge.resize(600, 600);
    gauge.setNeedleImage(QPixmap::fromImage(needle));
    gauge.setPivot(300, 300);
    gauge.setA0(0);
    gauge.setA1(93);

    const int y = 20;  // 280 pixels above the pivot: 0.93 degrees is 4.5 pixels
    const int shiftedX = qRound(300 - 280 * std::tan(qDegreesToRadians(0.93)));
    gauge.setValue(1);
    QImage image = render(gauge);
    EXPECT_EQ(image.pixel(299, y), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(shiftedX, y), qRgb(255, 255, 255));
    gauge.setValue(0);
    image = render(gauge);
    EXPECT_LT(qGray(image.pixel(shiftedX, y)), 128);
    EXPECT_EQ(image.pixel(299, y), qRgb(255, 255, 255));
}

// The shipped dial and needle, scaled to half size and centred: the needle
// lies on the dial's 0 mark at 0 and on its 100 mark at 100 (and above).
TEST(Gauge, ShippedNeedleMeetsTheScaleEnds) {
    QGauge gauge;
    gauge.resize(287, 300);  // scale 0.5, dial 190 high centred: offset (0, 55)
    useShippedArtwork(gauge);
    const auto onScale = [](double degrees) {
        const double radians = qDegreesToRadians(degrees);
        return QPoint(qRound(0.5 * (287 + 150 * std::sin(radians))),
                      qRound(55 + 0.5 * (299 - 150 * std::cos(radians))));
    };
    const QPoint zero = onScale(-46.5), hundred = onScale(46.5);

    gauge.setValue(0);
    QImage image = render(gauge);
    EXPECT_TRUE(isNeedleRed(image.pixel(zero)));
    EXPECT_FALSE(isNeedleRed(image.pixel(hundred)));

    gauge.setValue(100);
    const QImage atHundred = render(gauge);
    EXPECT_TRUE(isNeedleRed(atHundred.pixel(hundred)));
    EXPECT_FALSE(isNeedleRed(atHundred.pixel(zero)));

    gauge.setValue(150);
    EXPECT_EQ(render(gauge), atHundred);
}

class DeviceSelector : public ::testing::Test {
  protected:
    void SetUp() override {
        lab.mac = "aa:bb:cc:dd:ee:ff";
        lab.type = DeviceTypeGigabitGen2;
        lab.friendlyName = "Lab";
        rack.mac = "00:11:22:33:44:55";
        rack.type = DeviceTypeTenGigabit;
        rack.friendlyName = "Rack";
        box.addDevice(&lab);
        box.addDevice(&rack);
        box.show();
        box.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    }

    void rightClick() { QTest::mouseClick(&box, Qt::RightButton); }
    void enter() { QTest::keyClick(box.lineEdit(), Qt::Key_Return); }

    NettlebeamDevice lab, rack;
    DeviceComboBox box;
    QSignalSpy renamed{&box, &DeviceComboBox::FriendlyNameChanged};
};

TEST_F(DeviceSelector, ListsMacAndNameWithTheDeviceAsData) {
    EXPECT_EQ(box.itemText(0), "aa:bb:cc:dd:ee:ff - Lab");
    EXPECT_EQ(box.itemText(1), "00:11:22:33:44:55 - Rack");
    EXPECT_FALSE(box.itemIcon(1).isNull());
    EXPECT_EQ(box.itemData(1).value<NettlebeamDevice*>(), &rack);
}

// The typed name starts like the MAC address of the item: it must not be
// completed into the item's text.
TEST_F(DeviceSelector, RenamesTheCurrentDeviceInPlace) {
    rightClick();
    ASSERT_TRUE(box.isRenaming());
    ASSERT_NE(box.lineEdit(), nullptr);
    EXPECT_EQ(box.lineEdit()->text(), "Lab");
    box.lineEdit()->selectAll();
    QTest::keyClicks(box.lineEdit(), "Aa");
    enter();

    ASSERT_EQ(renamed.count(), 1);
    EXPECT_EQ(renamed[0][0].value<NettlebeamDevice*>(), &lab);
    EXPECT_EQ(lab.friendlyName, "Aa");
    EXPECT_EQ(box.itemText(0), "aa:bb:cc:dd:ee:ff - Aa");
    EXPECT_FALSE(box.isEditable());
    EXPECT_FALSE(box.isRenaming());
}

TEST_F(DeviceSelector, EnterWithoutChangeStillReportsTheName) {
    rightClick();
    enter();
    ASSERT_EQ(renamed.count(), 1);
    EXPECT_EQ(lab.friendlyName, "Lab");
    EXPECT_EQ(box.itemText(0), "aa:bb:cc:dd:ee:ff - Lab");
}

// The window removes a device's item when it leaves, and puts the
// placeholder in when none is left, even while its name is being edited.
TEST_F(DeviceSelector, RenameOfADeviceThatLeftChangesNothing) {
    rightClick();
    box.clear();
    box.addItem("No device connected");
    QTest::keyClicks(box.lineEdit(), "Gone");
    enter();
    EXPECT_EQ(renamed.count(), 0);
    EXPECT_EQ(box.itemText(0), "No device connected");
    EXPECT_FALSE(box.isRenaming());
    EXPECT_EQ(lab.friendlyName, "Lab");

    rightClick();  // the placeholder cannot be renamed
    EXPECT_FALSE(box.isRenaming());
    box.edited();
    EXPECT_EQ(renamed.count(), 0);
}

TEST(DeviceArtwork, EveryTypeHasItsFamilysPictures) {
    const QString disconnected = ":/images/disconnected.png", warning = ":/images/warning.png";
    const std::vector<std::vector<NettlebeamApiDeviceType>> families = {
        {DeviceTypeGigabitGen1, DeviceTypeGigabitGen1B, DeviceTypeGigabitGen3,
         DeviceTypeGigabitGen3Poe, DeviceTypeGigabitGen4},
        {DeviceTypeGigabitGen2, DeviceTypeGigabitGen2Poe, DeviceTypeGigabitGen2Gps,
         DeviceTypeGigabitGen2GpsPoe},
        {DeviceTypeTenGigabit},
        {DeviceTypeTenGigabitGps},
        {DeviceTypeFastEthernet}};
    QStringList images, icons;
    for (const auto& family : families) {
        images << deviceImagePath(family[0]);
        icons << deviceIconPath(family[0]);
        for (NettlebeamApiDeviceType type : family) {
            EXPECT_EQ(deviceImagePath(type), images.last()) << type;
            EXPECT_EQ(deviceIconPath(type), icons.last()) << type;
        }
    }
    images << disconnected << warning;
    icons << disconnected << warning;
    EXPECT_EQ(images.removeDuplicates(), 0) << images.join(' ').toStdString();
    EXPECT_EQ(icons.removeDuplicates(), 0) << icons.join(' ').toStdString();

    EXPECT_EQ(deviceImagePath(DeviceTypeNone), disconnected);
    EXPECT_EQ(deviceIconPath(DeviceTypeNone), disconnected);
    for (NettlebeamApiDeviceType type : {1u, 2u, 15u, 255u, 0xffffffffu}) {
        EXPECT_EQ(deviceImagePath(type), warning) << type;
        EXPECT_EQ(deviceIconPath(type), warning) << type;
    }
    for (NettlebeamApiDeviceType type = 0; type <= 15; ++type) {
        EXPECT_EQ(QPixmap(deviceImagePath(type)).size(), QSize(128, 128)) << type;
        EXPECT_FALSE(deviceIcon(type).pixmap(24).isNull()) << type;
    }
}

// Linking the widgets is enough for the images to be there.
TEST(Artwork, EveryNamedImageLoads) {
    const QSize bullet(24, 24);
    const std::vector<std::pair<QString, QSize>> expected = {
        {":/images/cloudshark.png", QSize(64, 64)},
        {":/icons/NettlebeamIco.png", QSize(256, 256)},
        {":/gps/green.png", bullet},
        {":/gps/yellow.png", bullet},
        {":/gps/red.png", bullet},
        {":/gps/grey.png", bullet}};
    for (const auto& [name, size] : expected)
        EXPECT_EQ(QPixmap(name).size(), size) << name.toStdString();

    const QImage dial(":/gauge/img/gauge.png"), needle(":/gauge/img/needle.png");
    ASSERT_FALSE(dial.isNull());
    EXPECT_EQ(needle.size(), dial.size());
    EXPECT_TRUE(dial.rect().contains(287, 299));
    EXPECT_GT(qAlpha(needle.pixel(287, 299)), 200);  // the hub sits on the pivot
}

TEST(WidgetHelpers, CheckWithoutSignalsKeepsTheBlocking) {
    QCheckBox box;
    QSignalSpy toggled(&box, &QCheckBox::toggled);
    checkWithoutSignals(&box, true);
    EXPECT_TRUE(box.isChecked());
    EXPECT_FALSE(box.signalsBlocked());
    box.blockSignals(true);
    checkWithoutSignals(&box, false);
    EXPECT_FALSE(box.isChecked());
    EXPECT_TRUE(box.signalsBlocked());
    EXPECT_EQ(toggled.count(), 0);
}

TEST(WidgetHelpers, SmallConversions) {
    QLineEdit edit;
    setTextColour(&edit, Qt::red);
    EXPECT_EQ(edit.palette().color(QPalette::Disabled, edit.foregroundRole()), QColor(Qt::red));

    const QMetaObject& combo = QComboBox::staticMetaObject;
    EXPECT_EQ(enumerationName(combo, "InsertPolicy", QComboBox::NoInsert), "NoInsert");
    EXPECT_EQ(enumerationName(combo, "InsertPolicy", 99), "");
    EXPECT_EQ(enumerationName(combo, "NoSuchEnumeration", 0), "");

    EXPECT_EQ(expandHome("~/captures"), QDir::homePath() + "/captures");
    EXPECT_EQ(expandHome("~captures"), "~captures");
    EXPECT_EQ(expandHome("/data/~/x"), "/data/~/x");
}

}  // namespace
