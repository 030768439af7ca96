// The manager's window left open, as the idle benchmark measures it
// (bench/manager_idle.sh runs this under xvfb-run against the demo fleet).
// It builds the window as NettlebeamManager does, selects the first device
// of the given type, answers message boxes with "No", then shows each named
// page in turn for its number of seconds and prints the CPU time of the
// whole process (every thread) over that time as a percentage of one core.
// With --rss-at it finally shows the first page again until that many
// seconds since the start and prints the resident memory.
//
//   nettlebeam-idle-probe TYPE PAGE SECONDS [PAGE SECONDS...] [--rss-at SECONDS]
//
// Output lines: "cpu <page> <percent>", "rss <kilobytes>".
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <optional>

#include "devicecombobox.h"
#include "mainwindow.h"
#include "managermetatypes.h"
#include "nettlebeamdevice.h"

namespace {

// Runs the event loop, which sleeps while nothing happens.
void idle(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long residentKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void answerBoxesWithNo() {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        QAbstractButton* answer = box->button(QMessageBox::No);
        (answer ? answer : box->buttons().value(0))->click();
    });
    poll->start(500);
}

bool selectType(DeviceComboBox* selector, int type) {
    for (int i = 0; i < selector->count(); ++i) {
        auto* device = selector->itemData(i, Qt::UserRole).value<NettlebeamDevice*>();
        if (device != nullptr && static_cast<int>(device->type) == type) {
            selector->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

bool openPage(QTabWidget* tabs, const QString& title) {
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i) == title) {
            tabs->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

struct Step {
    QString page;
    int seconds = 0;
};

}  // namespace

int main(int argc, char** argv) {
    registerManagerMetaTypes();
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    const char* usage =
        "usage: nettlebeam-idle-probe TYPE PAGE SECONDS [PAGE SECONDS...] "
        "[--rss-at SECONDS]\n";
    bool typeOk = false;
    const int type = args.value(0).toInt(&typeOk);
    QList<Step> steps;
    std::optional<int> rssAt;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        bool ok = false;
        const int seconds = args[i + 1].toInt(&ok);
        if (!ok || seconds <= 0) {
            std::fputs(usage, stderr);
            return 2;
        }
        if (args[i] == QStringLiteral("--rss-at")) {
            rssAt = seconds;
        } else {
            steps.append({args[i], seconds});
        }
    }
    if (!typeOk || steps.isEmpty() || args.size() % 2 == 0) {
        std::fputs(usage, stderr);
        return 2;
    }
    QElapsedTimer sinceStart;
    sinceStart.start();
    QTemporaryDir settingsFolder;  // a first start, the user's settings left alone
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    answerBoxesWithNo();

    auto window = std::make_unique<MainWindow>();
    window->show();
    DeviceComboBox* selector = window->deviceSelector();
    for (int waited = 0; !selectType(selector, type); waited += 100) {
        if (waited > 30000) {
            std::fprintf(stderr, "no device of type %d appeared\n", type);
            return 1;
        }
        idle(100);
    }
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    idle(5000);  // the first answers, the pages filled once
    for (const Step& step : steps) {
        if (!openPage(tabs, step.page)) {
            std::fprintf(stderr, "the device has no page \"%s\"\n", qPrintable(step.page));
            return 1;
        }
        idle(1000);
        const double before = processCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        idle(step.seconds * 1000);
        const double percent = (processCpuSeconds() - before) * 100.0 /
                               (static_cast<double>(clock.elapsed()) / 1000.0);
        std::printf("cpu %s %.3f\n", qPrintable(step.page), percent);
        std::fflush(stdout);
    }
    if (rssAt) {
        openPage(tabs, steps.first().page);
        const qint64 remaining = *rssAt * 1000ll - sinceStart.elapsed();
        if (remaining > 0) idle(static_cast<int>(remaining));
        std::printf("rss %ld\n", residentKilobytes());
    }
    return 0;
}
