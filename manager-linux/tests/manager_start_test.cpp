// The manager program as a user starts it, against a private nettlebeamd and
// without a display: --list-devices shows the window, prints what its device
// list shows once every attached device is in it, and quits by itself.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <utility>

#include "nettlebeam_testsupport.h"

namespace {

// The manager's own wait is bounded (30 s); this only keeps a hang from
// lasting until the test's timeout.
constexpr int kManagerRunMs = 90000;

struct ManagerRun {
    bool finished = false;
    int exitCode = -1;
    QStringList lines;
    QString errors;
};

ManagerRun runManager(const QStringList& arguments, const QString& controlPath) {
    QTemporaryDir config;  // a first start: no settings, no names given
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NETTLEBEAM_CONTROL"), controlPath);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    QProcess manager;
    manager.setProcessEnvironment(environment);
    manager.start(QStringLiteral(MANAGER_PROGRAM), arguments);
    ManagerRun run;
    run.finished = manager.waitForFinished(kManagerRunMs);
    if (!run.finished) {
        manager.kill();
        manager.waitForFinished();
    }
    run.exitCode = manager.exitStatus() == QProcess::NormalExit ? manager.exitCode() : -1;
    run.lines = QString::fromLocal8Bit(manager.readAllStandardOutput())
                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    std::sort(run.lines.begin(), run.lines.end());
    run.errors = QString::fromLocal8Bit(manager.readAllStandardError());
    return run;
}

}  // namespace

TEST(ManagerStartTest, ListDevicesPrintsEveryAttachedDeviceAndQuits) {
    nettlebeam::testsupport::Daemon daemon;
    daemon.attach({"--type", "11", "--mac", "02:00:00:00:00:31"});
    daemon.attach({"--type", "12", "--mac", "02:00:00:00:00:32"});
    daemon.attach({"--type", "9", "--mac", "02:00:00:00:00:33"});

    const ManagerRun run = runManager({QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                       QStringLiteral("--list-devices")},
                                      QString::fromStdString(daemon.controlPath()));
    ASSERT_TRUE(run.finished) << "the manager did not quit by itself";
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    // Each line as the device list shows it: the MAC, then the default name.
    EXPECT_EQ(run.lines, (QStringList{QStringLiteral("02:00:00:00:00:31 - Nettlebeam"),
                                      QStringLiteral("02:00:00:00:00:32 - Nettlebeam"),
                                      QStringLiteral("02:00:00:00:00:33 - Nettlebeam")}))
        << run.errors.toStdString();
}

TEST(ManagerStartTest, AnArgumentItDoesNotTakeEndsItAtOnceNamingIt) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("--list-device"), QStringLiteral("list-device")},
        {QStringLiteral("capture.pcap"), QStringLiteral("capture.pcap")},
    };
    for (const auto& [argument, named] : cases) {
        const ManagerRun run =
            runManager({QStringLiteral("-platform"), QStringLiteral("offscreen"), argument},
                       QStringLiteral("/nonexistent/KV7Control"));
        ASSERT_TRUE(run.finished) << argument.toStdString();
        EXPECT_EQ(run.exitCode, 2) << argument.toStdString();
        EXPECT_TRUE(run.lines.isEmpty()) << argument.toStdString();
        EXPECT_TRUE(run.errors.contains(named)) << run.errors.toStdString();
    }
}
