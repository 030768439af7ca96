#include "window_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QSettings>

#include "managermetatypes.h"

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

std::vector<std::string> withCurrentFirmware(std::vector<std::string> args) {
    args.insert(args.end(), {"--sw-fw", "1.1.0.0", "--hw-fw", "310"});
    return args;
}

QStringList tabTitles(QTabWidget* tabs) {
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i) titles << tabs->tabText(i);
    return titles;
}

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton button) : button_(button) {
    connect(&poll_, &QTimer::timeout, this, &BoxAnswerer::answer);
    poll_.start(20);
}

void BoxAnswerer::answer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    seen.append({box->windowTitle(), box->text()});
    if (whileOpen) std::exchange(whileOpen, nullptr)();
    QAbstractButton* button = box->button(button_);
    if (button == nullptr) button = box->buttons().value(0);
    button->click();
}

void WindowTest::SetUp() {
    registerManagerMetaTypes();
    ASSERT_TRUE(config_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_.path());
    daemon_ = std::make_unique<nettlebeam::testsupport::Daemon>();
    daemon_->exportControlPath();
}

void WindowTest::TearDown() {
    window_.reset();
    daemon_.reset();
}

void WindowTest::openWindow() {
    window_ = std::make_unique<MainWindow>(nullptr, QStringLiteral(SHIPPED_FIRMWARE_DIR));
    window_->show();
}

bool WindowTest::selectorShows(int count) {
    return waitFor([&] {
        return window_->deviceSelector()->count() == count &&
               window_->deviceSelector()->isEnabled();
    });
}

bool WindowTest::showsNoDevice() {
    return waitFor([&] {
        DeviceComboBox* selector = window_->deviceSelector();
        return selector->count() == 1 && !selector->isEnabled() &&
               selector->itemText(0) == QStringLiteral("No device connected");
    });
}

bool WindowTest::openPage(const QString& title) {
    const int index = tabTitles(tabs()).indexOf(title);
    if (index < 0) return false;
    tabs()->setCurrentIndex(index);
    return true;
}

int WindowTest::attachWithPortsDisabled(const std::vector<std::string>& args) {
    EXPECT_EQ(window_, nullptr);
    const int first = daemon_->attach(args);
    EXPECT_EQ(NettlebeamAPIInitialize(), 0);
    EXPECT_TRUE(waitFor([&] { return NettlebeamAPIGetDeviceCapabilitiesEx(first) != 0; }));
    NettlebeamApiDeviceFeatures features{};
    EXPECT_EQ(NettlebeamAPIGetDeviceFeatures(first, &features), 0);
    features.disablePortA = 1;
    features.disablePortB = 1;
    EXPECT_EQ(NettlebeamAPISetDeviceFeatures(first, features), 0);
    EXPECT_EQ(NettlebeamAPISaveDeviceFeatures(first), 0);
    NettlebeamAPIUninitialize();
    daemon_->detach(first);
    return daemon_->attach(args);
}

void WindowTest::enablePorts(int handle) {
    NettlebeamApiDeviceFeatures features{};
    ASSERT_EQ(NettlebeamAPIGetDeviceFeatures(handle, &features), 0);
    features.disablePortA = 0;
    features.disablePortB = 0;
    ASSERT_EQ(NettlebeamAPISetDeviceFeatures(handle, features), 0);
}
