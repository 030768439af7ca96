// The real main window against a private nettlebeamd, for tests that drive
// it as a user would: widgets found by object name, message boxes answered
// from the test, devices attached and detached through the daemon.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devicecombobox.h"
#include "mainwindow.h"
#include "worker_fixture.h"

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out);

// Attach options of a device whose firmware the shipped catalogue does not
// supersede, so that no update is offered.
std::vector<std::string> withCurrentFirmware(std::vector<std::string> args);

QStringList tabTitles(QTabWidget* tabs);

struct SeenBox {
    QString title;
    QString text;
};

// Answers every message box that opens with `button`, keeping what it said.
class BoxAnswerer : public QObject {
  public:
    explicit BoxAnswerer(QMessageBox::StandardButton button);
    // Runs once, while the next box is open, before it is answered.
    std::function<void()> whileOpen;
    QList<SeenBox> seen;

  private:
    void answer();

    QMessageBox::StandardButton button_;
    QTimer poll_;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    void openWindow();
    template <typename T>
    T* find(const char* name) {
        T* widget = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QTabWidget* tabs() { return find<QTabWidget>("tabWidget"); }
    QString statusText() { return find<QLabel>("features_status_label")->text(); }
    // Waits until the selector lists `count` devices and can be used.
    bool selectorShows(int count);
    bool showsNoDevice();
    // Shows the page with that title; false when the device has no such page.
    bool openPage(const QString& title);
    // Attaches a device (`args` name its MAC address) whose ports come up
    // disabled, so that its traffic waits for enablePorts: a device with the
    // same address saves them disabled, then leaves. Call before opening the
    // window, which would otherwise see that first device.
    int attachWithPortsDisabled(const std::vector<std::string>& args);
    // Turns both ports on: the links come up once negotiated, and a replay
    // starts then.
    static void enablePorts(int handle);

    QTemporaryDir config_;
    std::unique_ptr<nettlebeam::testsupport::Daemon> daemon_;
    std::unique_ptr<MainWindow> window_;
};
