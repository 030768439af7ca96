// The analysis add-on: its named pipe, the monitor running shell stand-ins
// of the three programs (one of which can ignore the request to end), the
// configuration file editor, and the add-on page driven through the window.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextCursor>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "addonpipe.h"
#include "configfileeditor.h"
#include "configfilestore.h"
#include "glintfieldmonitor.h"
#include "log_capture.h"
#include "managermetatypes.h"
#include "managersettings.h"
#include "window_fixture.h"

namespace {

using Monitor = GlintfieldMonitor;
using Report = QPair<Monitor::glintfieldmonitor_target, Monitor::glintfieldmonitor_status>;

constexpr int kKillDeadlineMs = 60000;

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_) {
            qputenv(name_, old_);
        } else {
            qunsetenv(name_);
        }
    }

  private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// The add-on installed as the manager expects it, with <root>/bin as the
// application folder. Each stand-in notes where and how it was started and
// its pid, then sleeps (away from the test's output, which a stand-in left
// behind by a failing test must not hold open). The parts named by
// `stubborn` ignore SIGTERM.
class AddonTree {
  public:
    enum class Stubborn { None, Engine, All };
    explicit AddonTree(Stubborn stubborn = Stubborn::None) {
        EXPECT_TRUE(root_.isValid());
        const bool all = stubborn == Stubborn::All;
        standIn(QStringLiteral("httpserveres/HTTPServerES"), "server", all);
        standIn(QStringLiteral("bin/elasticsearch.sh"), "elasticsearch", all);
        standIn(QStringLiteral("glintfield/bin/glintfield"), "engine", stubborn != Stubborn::None);
    }
    QString applicationDirectory() const { return root_.filePath(QStringLiteral("bin")); }
    QString root() const { return root_.path(); }
    // The stand-in's pid once it has started, else 0.
    pid_t pid(const char* name) const {
        QFile file(root_.filePath(QLatin1String(name) + QStringLiteral(".pid")));
        if (!file.open(QIODevice::ReadOnly)) return 0;
        return pid_t(file.readAll().trimmed().toLongLong());
    }
    // "<working folder>|<arguments>" of the stand-in's start.
    QString startLine(const char* name) const {
        QFile file(root_.filePath(QLatin1String(name) + QStringLiteral(".start")));
        if (!file.open(QIODevice::ReadOnly)) return QString();
        return QString::fromUtf8(file.readAll()).trimmed();
    }
    void remove(const QString& relative) { QFile::remove(root_.filePath(relative)); }

  private:
    void standIn(const QString& relative, const char* name, bool ignoreTerm) {
        const QString path = root_.filePath(relative);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        const QString note = root_.filePath(QLatin1String(name));
        QFile script(path);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        // The pid is written once TERM is ignored, so a stop that follows
        // its appearance meets a stubborn part.
        script.write(QStringLiteral("#!/bin/sh\n"
                                    "%2"
                                    "echo \"$(pwd -P)|$*\" > '%1.start'\n"
                                    "echo $$ > '%1.tmp' && mv '%1.tmp' '%1.pid'\n"
                                    "exec sleep 600 </dev/null >/dev/null 2>&1\n")
                         .arg(note, ignoreTerm ? QStringLiteral("trap '' TERM\n") : QString())
                         .toUtf8());
        ASSERT_TRUE(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QTemporaryDir root_;
};

bool processGone(pid_t pid) {
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

// The monitors' server pipe goes to a private runtime folder, away from a
// real add-on's.
class MonitorTest : public ::testing::Test {
  protected:
    void SetUp() override { registerManagerMetaTypes(); }
    void record(Monitor& monitor) {
        QObject::connect(&monitor, &Monitor::StatusChanged, &context_,
                         [this](Monitor::glintfieldmonitor_target target,
                                Monitor::glintfieldmonitor_status status) {
                             reports.append({target, status});
                         });
    }
    QList<Monitor::glintfieldmonitor_status> reportsOf(Monitor::glintfieldmonitor_target target) {
        QList<Monitor::glintfieldmonitor_status> statuses;
        for (const Report& report : reports)
            if (report.first == target) statuses.append(report.second);
        return statuses;
    }
    bool reported(Monitor::glintfieldmonitor_target target,
                  Monitor::glintfieldmonitor_status status, int timeoutMs = 10000) {
        return waitFor([&] { return reports.contains({target, status}); }, timeoutMs);
    }

    QList<Report> reports;
    QObject context_;
    QTemporaryDir runtime_;
    ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path())};
};

const Monitor::glintfieldmonitor_target kParts[] = {
    Monitor::Target_HTTPServer, Monitor::Target_ElasticSearch, Monitor::Target_Glintfield};

}  // namespace

TEST(AddonPipeTest, LivesInThePrivateRuntimeFolderAndOnlyTheUsersOwnEntryIsRemoved) {
    QTemporaryDir runtime;  // created 0700
    QTemporaryDir temporary;
    ScopedEnv tmpdir("TMPDIR", QFile::encodeName(temporary.path()));
    const QString fallback =
        temporary.filePath(QStringLiteral("nettlebeam-manager-%1/HTTPServerES").arg(geteuid()));
    {
        ScopedEnv env("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        EXPECT_EQ(AddonPipe::path(), runtime.filePath(QStringLiteral("HTTPServerES")));
    }
    {
        QTemporaryDir open;
        QFile::setPermissions(open.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther);
        ScopedEnv env("XDG_RUNTIME_DIR", QFile::encodeName(open.path()));
        LogCapture log;
        EXPECT_EQ(AddonPipe::path(), fallback);
        EXPECT_TRUE(log.lines().contains(
            QStringLiteral("Add-on pipe: refusing XDG_RUNTIME_DIR %1: others have access to it "
                           "(mode 0705; it must be 0700)")
                .arg(open.path())))
            << log.lines().join(QLatin1Char('\n')).toStdString();
    }
    {
        ScopedEnv env("XDG_RUNTIME_DIR", "relative/folder");
        LogCapture log;
        EXPECT_EQ(AddonPipe::path(), fallback);
        EXPECT_TRUE(log.lines().contains(QStringLiteral(
            "Add-on pipe: refusing XDG_RUNTIME_DIR relative/folder: it is not an absolute path")));
    }

    const QString fifo = runtime.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(AddonPipe::remove(fifo), AddonPipe::Removal::Removed);
    EXPECT_FALSE(QFileInfo::exists(fifo));

    const QString file = runtime.filePath(QStringLiteral("file"));
    QFile(file).open(QIODevice::WriteOnly);
    const QString link = runtime.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(file, link));
    LogCapture log;
    EXPECT_EQ(AddonPipe::remove(link), AddonPipe::Removal::Refused);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_EQ(AddonPipe::remove(runtime.path()), AddonPipe::Removal::Refused);
    EXPECT_TRUE(QFileInfo(runtime.path()).isDir());
    EXPECT_EQ(log.lines(),
              (QStringList{
                  QStringLiteral("Add-on pipe: leaving %1 alone: it is a symbolic link").arg(link),
                  QStringLiteral("Add-on pipe: leaving %1 alone: it is neither a FIFO nor a file")
                      .arg(runtime.path())}));
    EXPECT_EQ(AddonPipe::remove(file), AddonPipe::Removal::Removed);
    EXPECT_EQ(AddonPipe::remove(file), AddonPipe::Removal::Absent);
}

// Without a runtime folder the pipe goes to a folder of the user's own in
// the temporary folder, made 0700 whatever the umask; a folder planted
// there, or a temporary folder others may rename things in, is refused with
// a log line and no pipe place at all.
TEST(AddonPipeTest, WithoutARuntimeFolderThePipeLivesInAPrivateFolderOfItsOwn) {
    ScopedEnv noRuntime("XDG_RUNTIME_DIR", "");
    QTemporaryDir temporary;
    ScopedEnv tmpdir("TMPDIR", QFile::encodeName(temporary.path()));
    const QString folder =
        temporary.filePath(QStringLiteral("nettlebeam-manager-%1").arg(geteuid()));
    const QByteArray native = QFile::encodeName(folder);

    const mode_t umaskBefore = umask(0);
    const QString made = AddonPipe::path();
    umask(umaskBefore);
    EXPECT_EQ(made, folder + QStringLiteral("/HTTPServerES"));
    struct stat info {};
    ASSERT_EQ(lstat(native.constData(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(AddonPipe::path(), made);  // found again as it is

    const QString elsewhere = temporary.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkdir(elsewhere));
    ASSERT_EQ(chmod(QFile::encodeName(elsewhere).constData(), 0700), 0);
    ASSERT_TRUE(QDir().rmdir(folder));
    ASSERT_TRUE(QFile::link(elsewhere, folder));
    {
        LogCapture log;
        EXPECT_TRUE(AddonPipe::path().isEmpty());
        EXPECT_EQ(
            log.lines(),
            QStringList(QStringLiteral("Add-on pipe: refusing the folder %1: it is a symbolic link")
                            .arg(folder)));
    }
    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_EQ(mkdir(native.constData(), 0700), 0);
    ASSERT_EQ(chmod(native.constData(), 0777), 0);
    {
        LogCapture log;
        EXPECT_TRUE(AddonPipe::path().isEmpty());
        EXPECT_EQ(log.lines(), QStringList(QStringLiteral("Add-on pipe: refusing the folder %1: "
                                                          "others have access to it (mode "
                                                          "0777; it must be 0700)")
                                               .arg(folder)));
    }
    ASSERT_TRUE(QDir().rmdir(folder));
    ASSERT_EQ(chmod(QFile::encodeName(temporary.path()).constData(), 0777), 0);
    {
        LogCapture log;
        EXPECT_TRUE(AddonPipe::path().isEmpty());
        EXPECT_EQ(log.lines(),
                  QStringList(QStringLiteral("Add-on pipe: refusing the temporary folder %1: "
                                             "everybody may write it (mode 0777) and it has no "
                                             "sticky bit")
                                  .arg(temporary.path())));
        EXPECT_FALSE(QFileInfo::exists(folder));
    }
    ASSERT_EQ(chmod(QFile::encodeName(temporary.path()).constData(), 01777), 0);
    EXPECT_EQ(AddonPipe::path(), made);
}

// Each mode runs its parts in their places with their arguments, reports
// the parts it leaves out as disabled, and the stop ends with the monitor's
// own report once the last part has stopped.
TEST_F(MonitorTest, EachModeStartsItsPartsAndTheStopEndsThem) {
    const struct {
        Monitor::glintfieldmonitor_command command;
        QList<Monitor::glintfieldmonitor_target> used;
    } modes[] = {
        {Monitor::Command_StartListening, {Monitor::Target_HTTPServer}},
        {Monitor::Command_StartLocal,
         {Monitor::Target_HTTPServer, Monitor::Target_ElasticSearch, Monitor::Target_Glintfield}},
        {Monitor::Command_StartRemote, {Monitor::Target_ElasticSearch, Monitor::Target_Glintfield}},
    };
    const char* names[] = {"", "server", "elasticsearch", "engine"};
    for (const auto& mode : modes) {
        SCOPED_TRACE(int(mode.command));
        AddonTree tree;
        Monitor monitor(tree.applicationDirectory(), nullptr);
        // A pipe left by an earlier run goes before the server starts.
        ASSERT_EQ(mkfifo(QFile::encodeName(monitor.pipePath()).constData(), 0600), 0);
        record(monitor);
        reports.clear();
        monitor.Command(Monitor::Target_Monitor, mode.command);
        for (auto target : mode.used) ASSERT_TRUE(reported(target, Monitor::Status_Started));
        ASSERT_TRUE(waitFor([&] {
            for (auto target : mode.used)
                if (tree.pid(names[target]) == 0) return false;
            return true;
        }));
        for (auto target : kParts) {
            const QList<Monitor::glintfieldmonitor_status> expected =
                mode.used.contains(target)
                    ? QList<Monitor::glintfieldmonitor_status>{Monitor::Status_Starting,
                                                               Monitor::Status_Started}
                    : QList<Monitor::glintfieldmonitor_status>{Monitor::Status_Disabled};
            EXPECT_EQ(reportsOf(target), expected) << names[target];
            EXPECT_EQ(tree.pid(names[target]) != 0, mode.used.contains(target)) << names[target];
        }
        EXPECT_TRUE(reportsOf(Monitor::Target_Monitor).isEmpty());
        EXPECT_EQ(QFileInfo::exists(monitor.pipePath()),
                  !mode.used.contains(Monitor::Target_HTTPServer));
        QFile::remove(monitor.pipePath());

        if (mode.command == Monitor::Command_StartLocal) {
            const QString root = QDir(tree.root()).canonicalPath();
            EXPECT_EQ(
                tree.startLine("server"),
                root + QStringLiteral("/httpserveres|") + QDir::homePath() +
                    QStringLiteral("/.config/glintfield/glintfield_server_config.ini daemon"));
            EXPECT_EQ(tree.startLine("elasticsearch"),
                      root + QStringLiteral("/bin|-Edefault.path.conf=/etc/elasticsearch"));
            EXPECT_EQ(
                tree.startLine("engine"),
                root + QStringLiteral("/glintfield/bin|--config /etc/glintfield/glintfield.yml"));

            // Starting again changes nothing, also not the running server's pipe.
            ASSERT_EQ(mkfifo(QFile::encodeName(monitor.pipePath()).constData(), 0600), 0);
            const int before = reports.size();
            LogCapture log;
            monitor.Command(Monitor::Target_Monitor, Monitor::Command_StartLocal);
            QCoreApplication::processEvents();
            EXPECT_EQ(log.lines().count(QStringLiteral(
                          "GlintfieldMonitor::Command : Process is already running")),
                      3);
            EXPECT_EQ(reports.size(), before);
            EXPECT_TRUE(QFileInfo::exists(monitor.pipePath()));
            QFile::remove(monitor.pipePath());
        }

        reports.clear();
        monitor.Command(Monitor::Target_Monitor, Monitor::Command_Stop);
        ASSERT_TRUE(reported(Monitor::Target_Monitor, Monitor::Status_Stopped));
        QList<Monitor::glintfieldmonitor_target> stopping;
        for (const Report& report : reports)
            if (report.second == Monitor::Status_Stopping) stopping.append(report.first);
        QList<Monitor::glintfieldmonitor_target> order;  // server, engine, Elasticsearch
        for (auto target : {Monitor::Target_HTTPServer, Monitor::Target_Glintfield,
                            Monitor::Target_ElasticSearch})
            if (mode.used.contains(target)) order.append(target);
        EXPECT_EQ(stopping, order);
        for (auto target : mode.used) {
            EXPECT_EQ(reportsOf(target), (QList<Monitor::glintfieldmonitor_status>{
                                             Monitor::Status_Stopping, Monitor::Status_Stopped}));
            EXPECT_TRUE(processGone(tree.pid(names[target]))) << names[target];
        }
        EXPECT_EQ(reports.last(), Report(Monitor::Target_Monitor, Monitor::Status_Stopped));
        EXPECT_EQ(reportsOf(Monitor::Target_Monitor).size(), 1);
    }
}

TEST_F(MonitorTest, APartThatCannotStartIsReportedStoppedWhileTheOthersRun) {
    AddonTree tree;
    tree.remove(QStringLiteral("glintfield/bin/glintfield"));
    Monitor monitor(tree.applicationDirectory(), nullptr);
    record(monitor);
    LogCapture log;
    monitor.Command(Monitor::Target_Monitor, Monitor::Command_StartLocal);
    ASSERT_TRUE(reported(Monitor::Target_Glintfield, Monitor::Status_Stopped));
    ASSERT_TRUE(reported(Monitor::Target_HTTPServer, Monitor::Status_Started));
    ASSERT_TRUE(reported(Monitor::Target_ElasticSearch, Monitor::Status_Started));
    EXPECT_TRUE(log.lines().contains(
        QStringLiteral("GlintfieldMonitor::GlintfieldError : Process failed to start")));
    EXPECT_TRUE(reportsOf(Monitor::Target_Monitor).isEmpty());
    monitor.Command(Monitor::Target_Monitor, Monitor::Command_Stop);
    EXPECT_TRUE(reported(Monitor::Target_Monitor, Monitor::Status_Stopped));
}

// Both ways a stubborn part ends share the 10 s: a second monitor, all of
// whose parts ignore the request to end, is destroyed while the first one's
// kill timer runs. The three are asked together and get 10 s together, not
// 10 s each in turn.
TEST_F(MonitorTest, APartIgnoringTheRequestToEndIsKilledByTimerAndOnDestruction) {
    AddonTree stopped(AddonTree::Stubborn::Engine);
    Monitor monitor(stopped.applicationDirectory(), nullptr);
    record(monitor);
    monitor.Command(Monitor::Target_Monitor, Monitor::Command_StartLocal);
    for (auto target : kParts) ASSERT_TRUE(reported(target, Monitor::Status_Started));
    ASSERT_TRUE(waitFor([&] { return stopped.pid("engine") != 0; }));

    AddonTree destroyed(AddonTree::Stubborn::All);
    auto doomed = std::make_unique<Monitor>(destroyed.applicationDirectory(), nullptr);
    doomed->Command(Monitor::Target_Monitor, Monitor::Command_StartLocal);
    ASSERT_TRUE(waitFor([&] {
        return destroyed.pid("server") != 0 && destroyed.pid("elasticsearch") != 0 &&
               destroyed.pid("engine") != 0;
    }));

    reports.clear();
    monitor.Command(Monitor::Target_Monitor, Monitor::Command_Stop);
    QElapsedTimer destruction;
    destruction.start();
    doomed.reset();
    // One shared wait ends before a second one could have begun.
    EXPECT_LT(destruction.elapsed(), 2 * Monitor::kKillDelayMs);
    for (const char* name : {"server", "elasticsearch", "engine"})
        EXPECT_TRUE(processGone(destroyed.pid(name))) << name;

    ASSERT_TRUE(reported(Monitor::Target_Monitor, Monitor::Status_Stopped, kKillDeadlineMs));
    EXPECT_EQ(reportsOf(Monitor::Target_Glintfield),
              (QList<Monitor::glintfieldmonitor_status>{Monitor::Status_Stopping,
                                                        Monitor::Status_Stopped}));
    EXPECT_TRUE(processGone(stopped.pid("engine")));
}

TEST(ConfigFileEditorTest, LoadsTheFileAndSavesItOnOkOnly) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("glintfield.yml"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("listen: 0.0.0.0\nport: 9200\n");
    }
    auto contents = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    {
        ConfigFileEditor editor(path);
        auto* text = editor.findChild<QPlainTextEdit*>(QStringLiteral("TextEditor"));
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->toPlainText(), QStringLiteral("listen: 0.0.0.0\nport: 9200\n"));
        text->setPlainText(QStringLiteral("port: 9300\n"));
        editor.reject();
        EXPECT_EQ(editor.result(), QDialog::Rejected);
    }
    EXPECT_EQ(contents(), QByteArray("listen: 0.0.0.0\nport: 9200\n"));
    {
        ConfigFileEditor editor(path);
        editor.findChild<QPlainTextEdit*>(QStringLiteral("TextEditor"))
            ->setPlainText(QStringLiteral("port: 9300\n"));
        editor.findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))
            ->button(QDialogButtonBox::Ok)
            ->click();
        EXPECT_EQ(editor.result(), QDialog::Accepted);
    }
    EXPECT_EQ(contents(), QByteArray("port: 9300\n"));
}

namespace {

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct stat lstatOf(const QString& path) {
    struct stat info {};
    EXPECT_EQ(lstat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info;
}

QPlainTextEdit* textOf(ConfigFileEditor& editor) {
    return editor.findChild<QPlainTextEdit*>(QStringLiteral("TextEditor"));
}

void typeAtEnd(ConfigFileEditor& editor, const QString& text) {
    QTextCursor cursor = textOf(editor)->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

// Ends the test program loudly when a read blocks (a FIFO opened as a file)
// instead of leaving it to the test runner's timeout.
class HangWatchdog {
  public:
    explicit HangWatchdog(const char* what)
        : thread_([this, what] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::seconds(60), [this] { return finished_; })) {
                  std::fprintf(stderr, "hung: %s\n", what);
                  std::abort();
              }
          }) {}
    ~HangWatchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace

// Nothing but a regular file of sane size is read: the editor opens empty,
// read-only, with the reason, and writes nothing on OK.
TEST(ConfigFileEditorTest, ReadsOnlyRegularFilesOfSaneSize) {
    QTemporaryDir folder;
    const QString victim = folder.filePath(QStringLiteral("victim"));
    {
        QFile file(victim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("untouched\n");
    }
    const QString fifo = folder.filePath(QStringLiteral("fifo.yml"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString zeroLink = folder.filePath(QStringLiteral("zero.yml"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zeroLink));
    const QString victimLink = folder.filePath(QStringLiteral("link.yml"));
    ASSERT_TRUE(QFile::link(victim, victimLink));
    const QString large = folder.filePath(QStringLiteral("large.yml"));
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(ConfigFileStore::kMaxBytes + 1));
    }
    const struct {
        QString path;
        QString reason;
    } cases[] = {
        {fifo, QStringLiteral("it is not a regular file")},
        {QStringLiteral("/dev/zero"), QStringLiteral("it is not a regular file")},
        {zeroLink, QStringLiteral("it is a symbolic link")},
        {victimLink, QStringLiteral("it is a symbolic link")},
        {folder.path(), QStringLiteral("it is a folder")},
        {large, QStringLiteral("it is larger than 4 MiB")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        BoxAnswerer boxes(QMessageBox::Ok);
        std::optional<ConfigFileEditor> editor;
        {
            HangWatchdog watchdog("the configuration file editor reading a FIFO");
            editor.emplace(c.path);
        }
        ASSERT_EQ(boxes.seen.size(), 1);
        EXPECT_EQ(boxes.seen[0].title, QStringLiteral("Edit file"));
        EXPECT_EQ(
            boxes.seen[0].text,
            QStringLiteral("Failed to open configuration file '%1' : %2").arg(c.path, c.reason));
        EXPECT_TRUE(textOf(*editor)->toPlainText().isEmpty());
        EXPECT_TRUE(textOf(*editor)->isReadOnly());
        typeAtEnd(*editor, QStringLiteral("planted: yes\n"));
        editor->accept();
        EXPECT_EQ(editor->result(), QDialog::Accepted);
        EXPECT_EQ(boxes.seen.size(), 1);
    }
    EXPECT_EQ(fileBytes(victim), QByteArray("untouched\n"));
    EXPECT_EQ(QFileInfo(large).size(), ConfigFileStore::kMaxBytes + 1);
    EXPECT_TRUE(QFileInfo(zeroLink).isSymLink());
    EXPECT_TRUE(QFileInfo(victimLink).isSymLink());
    EXPECT_EQ(lstatOf(fifo).st_mode & S_IFMT, mode_t(S_IFIFO));
}

// What takes the file's place while the editor is open is never written
// into: a link to another file, a FIFO, a folder.
TEST(ConfigFileEditorTest, SavesNothingThroughWhatReplacedTheFile) {
    QTemporaryDir folder;
    const QString victim = folder.filePath(QStringLiteral("victim"));
    {
        QFile file(victim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("untouched\n");
    }
    const QString path = folder.filePath(QStringLiteral("glintfield.yml"));
    const std::function<void()> plants[] = {
        [&] { ASSERT_TRUE(QFile::link(victim, path)); },
        [&] { ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0); },
        [&] { ASSERT_TRUE(QDir().mkdir(path)); },
    };
    const QString reasons[] = {QStringLiteral("it is a symbolic link"),
                               QStringLiteral("it is not a regular file"),
                               QStringLiteral("it is a folder")};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("port: 1\n");
        }
        BoxAnswerer boxes(QMessageBox::Ok);
        ConfigFileEditor editor(path);
        EXPECT_EQ(textOf(editor)->toPlainText(), QStringLiteral("port: 1\n"));
        ASSERT_TRUE(QFile::remove(path));
        plants[i]();
        typeAtEnd(editor, QStringLiteral("planted: yes\n"));
        editor.accept();
        ASSERT_EQ(boxes.seen.size(), 1);
        EXPECT_EQ(
            boxes.seen[0].text,
            QStringLiteral("Failed to save configuration to '%1' : %2").arg(path, reasons[i]));
        EXPECT_EQ(fileBytes(victim), QByteArray("untouched\n"));
        // Nothing was left beside it.
        EXPECT_EQ(
            QDir(folder.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("glintfield.yml"), QStringLiteral("victim")}));
        if (i == 2) {
            ASSERT_TRUE(QDir().rmdir(path));
        } else {
            ASSERT_TRUE(QFile::remove(path));
        }
    }
}

TEST(ConfigFileEditorTest, ReadsUpToTheLimit) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("limit.yml"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(ConfigFileStore::kMaxBytes));
    }
    QByteArray bytes;
    QString error;
    EXPECT_EQ(ConfigFileStore::read(path, &bytes, &error), ConfigFileStore::ReadResult::Read)
        << error.toStdString();
    EXPECT_EQ(bytes.size(), ConfigFileStore::kMaxBytes);
}

// Cancel and an OK without a change write nothing, a missing file is made
// only by an OK after typing, and a save replaces the file (a second name
// of the old file keeps the old text) with its mode kept.
TEST(ConfigFileEditorTest, WritesOnlyOnOkAfterAnEditAndReplacesTheFileWhole) {
    QTemporaryDir folder;
    const QString missing = folder.filePath(QStringLiteral("new.ini"));
    for (bool ok : {false, true}) {
        BoxAnswerer boxes(QMessageBox::Ok);
        ConfigFileEditor editor(missing);
        EXPECT_TRUE(boxes.seen.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(missing));
        if (ok) {
            editor.accept();
        } else {
            typeAtEnd(editor, QStringLiteral("typed"));
            editor.reject();
        }
        EXPECT_FALSE(QFileInfo::exists(missing)) << ok;
        EXPECT_TRUE(boxes.seen.isEmpty());
    }
    {
        ConfigFileEditor editor(missing);
        typeAtEnd(editor, QStringLiteral("port=1\n"));
        editor.accept();
    }
    EXPECT_EQ(fileBytes(missing), QByteArray("port=1\n"));
    EXPECT_EQ(lstatOf(missing).st_mode & 0777, 0600u);

    const QString path = folder.filePath(QStringLiteral("server.ini"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[server]\nport=8080\n");
    }
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0640), 0);
    const QString secondName = folder.filePath(QStringLiteral("second-name"));
    ASSERT_EQ(link(QFile::encodeName(path).constData(), QFile::encodeName(secondName).constData()),
              0);
    const struct stat before = lstatOf(path);
    {
        ConfigFileEditor editor(path);
        editor.accept();
    }
    EXPECT_EQ(lstatOf(path).st_ino, before.st_ino);  // not rewritten
    EXPECT_EQ(lstatOf(path).st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    {
        ConfigFileEditor editor(path);
        typeAtEnd(editor, QStringLiteral("host=a\n"));
        editor.accept();
    }
    EXPECT_EQ(fileBytes(path), QByteArray("[server]\nport=8080\nhost=a\n"));
    EXPECT_EQ(fileBytes(secondName), QByteArray("[server]\nport=8080\n"));
    EXPECT_EQ(lstatOf(path).st_mode & 07777, 0640u);
    EXPECT_EQ(QDir(folder.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("new.ini"), QStringLiteral("second-name"),
                           QStringLiteral("server.ini")}));
}

// A Latin-1 file with CR LF line ends and a no-break space: shown readably,
// unchanged on an OK without edits, and after an edit in one line every
// other byte is as it was; the new text follows the file's encoding and
// line ends.
TEST(ConfigFileEditorTest, KeepsTheBytesTheUserDidNotTouch) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("latin1.yml"));
    const QByteArray original("name: caf\xe9\r\nspace:\xa0x\r\nport: 9200\r\nlast: \xfc");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(original);
    }
    {
        ConfigFileEditor editor(path);
        EXPECT_EQ(textOf(editor)->toPlainText(),
                  QString::fromLatin1("name: caf\xe9\nspace: x\nport: 9200\nlast: \xfc"));
        editor.accept();
    }
    EXPECT_EQ(fileBytes(path), original);
    {
        ConfigFileEditor editor(path);
        QTextCursor cursor(textOf(editor)->document()->findBlockByNumber(2));
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor, 4);
        cursor.insertText(QString::fromLatin1("9300\nuser: j\xfcrg"));
        editor.accept();
    }
    EXPECT_EQ(fileBytes(path),
              QByteArray("name: caf\xe9\r\nspace:\xa0x\r\nport: 9300\r\nuser: j\xfcrg\r\n"
                         "last: \xfc"));

    // A UTF-8 file takes new text as UTF-8 and keeps its own line ends.
    const QString utf8 = folder.filePath(QStringLiteral("utf8.yml"));
    {
        QFile file(utf8);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("a: \xc3\xa9\nb: \xf0\x9f\x98\x80\n");
    }
    {
        ConfigFileEditor editor(utf8);
        typeAtEnd(editor, QString::fromUtf8("c: \xc3\xbc\n"));
        editor.accept();
    }
    EXPECT_EQ(fileBytes(utf8), QByteArray("a: \xc3\xa9\nb: \xf0\x9f\x98\x80\nc: \xc3\xbc\n"));
}

namespace {

class AddonWindowTest : public WindowTest {
  protected:
    bool shows(const char* bullet, const char* image) {
        const QPixmap pixmap = find<QLabel>(bullet)->pixmap(Qt::ReturnByValue);
        return !pixmap.isNull() && pixmap.toImage() == QPixmap(QLatin1String(image)).toImage();
    }
    bool showsAll(std::initializer_list<const char*> bullets, const char* image) {
        for (const char* bullet : bullets)
            if (!shows(bullet, image)) return false;
        return true;
    }
    bool modesEnabled() {
        return find<QRadioButton>("GlintfieldModeListening")->isEnabled() &&
               find<QRadioButton>("GlintfieldModeLocal")->isEnabled() &&
               find<QRadioButton>("GlintfieldModeRemote")->isEnabled();
    }
};

const char kGreen[] = ":/gps/green.png";
const char kRed[] = ":/gps/red.png";
const char kGrey[] = ":/gps/grey.png";

}  // namespace

// The page as a user drives it, and a manager closed while a part of the
// add-on ignores the request to end still closes.
TEST_F(AddonWindowTest, StartsAndStopsTheSelectedModeAndClosesWhileAPartIgnoresTheEnd) {
    QTemporaryDir runtime;  // the server's pipe
    ScopedEnv env("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    openWindow();
    AddonTree tree;
    window_->glintfieldMonitor().setApplicationDirectory(tree.applicationDirectory());
    auto* start = find<QPushButton>("GlintfieldStart");
    EXPECT_EQ(start->text(), QStringLiteral("Start"));
    EXPECT_TRUE(showsAll({"GlintfieldMonitorBullet", "GlintfieldHTTPServerBullet",
                          "GlintfieldElasticSearchBullet", "GlintfieldEngineBullet"},
                         kRed));

    find<QRadioButton>("GlintfieldModeRemote")->click();
    EXPECT_TRUE(shows("GlintfieldHTTPServerBullet", kGrey));
    start->click();
    EXPECT_EQ(start->text(), QStringLiteral("Stop"));
    EXPECT_FALSE(modesEnabled());
    ASSERT_TRUE(waitFor([&] {
        return showsAll(
            {"GlintfieldMonitorBullet", "GlintfieldElasticSearchBullet", "GlintfieldEngineBullet"},
            kGreen);
    }));
    EXPECT_TRUE(shows("GlintfieldHTTPServerBullet", kGrey));
    ASSERT_TRUE(waitFor([&] { return tree.pid("engine") != 0 && tree.pid("elasticsearch") != 0; }));
    EXPECT_EQ(tree.pid("server"), 0);

    start->click();
    ASSERT_TRUE(
        waitFor([&] { return start->text() == QStringLiteral("Start") && start->isEnabled(); }));
    EXPECT_TRUE(modesEnabled());
    EXPECT_TRUE(showsAll(
        {"GlintfieldMonitorBullet", "GlintfieldElasticSearchBullet", "GlintfieldEngineBullet"},
        kRed));
    EXPECT_TRUE(shows("GlintfieldHTTPServerBullet", kGrey));
    EXPECT_TRUE(processGone(tree.pid("engine")));
    EXPECT_TRUE(processGone(tree.pid("elasticsearch")));

    find<QRadioButton>("GlintfieldModeLocal")->click();
    EXPECT_TRUE(shows("GlintfieldHTTPServerBullet", kRed));

    AddonTree stubborn(AddonTree::Stubborn::Engine);
    window_->glintfieldMonitor().setApplicationDirectory(stubborn.applicationDirectory());
    start->click();
    ASSERT_TRUE(waitFor([&] {
        return showsAll({"GlintfieldHTTPServerBullet", "GlintfieldElasticSearchBullet",
                         "GlintfieldEngineBullet"},
                        kGreen);
    }));
    ASSERT_TRUE(waitFor([&] {
        return stubborn.pid("server") != 0 && stubborn.pid("elasticsearch") != 0 &&
               stubborn.pid("engine") != 0;
    }));
    window_->close();
    window_.reset();
    for (const char* name : {"server", "elasticsearch", "engine"})
        EXPECT_TRUE(processGone(stubborn.pid(name))) << name;
}

TEST_F(AddonWindowTest, EditsTheServerConfigurationAndKeepsTheCaptureFolder) {
    QTemporaryDir home;
    ScopedEnv env("HOME", QFile::encodeName(home.path()));
    const QString config =
        home.filePath(QStringLiteral(".config/glintfield/glintfield_server_config.ini"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(config).absolutePath()));
    {
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[server]\nport=8080\n");
    }
    openWindow();

    QString seenPath, seenText;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* editor = qobject_cast<ConfigFileEditor*>(QApplication::activeModalWidget());
        if (editor == nullptr || !editor->isVisible()) return;
        seenPath = editor->path();
        auto* text = editor->findChild<QPlainTextEdit*>(QStringLiteral("TextEditor"));
        seenText = text->toPlainText();
        text->setPlainText(QStringLiteral("[server]\nport=9090\n"));
        editor->findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))
            ->button(QDialogButtonBox::Ok)
            ->click();
    });
    poll.start(20);
    find<QPushButton>("GlintfieldEditServer")->click();
    poll.stop();
    EXPECT_EQ(seenPath, config);
    EXPECT_EQ(seenText, QStringLiteral("[server]\nport=8080\n"));
    QFile saved(config);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("[server]\nport=9090\n"));

    auto* path = find<QLineEdit>("GlintfieldCapturePath");
    EXPECT_EQ(path->text(), home.path());  // the default: the home folder
    const QString typed = home.filePath(QStringLiteral("typed"));
    path->setText(typed);
    EXPECT_EQ(ManagerSettings().addonCaptureFolder(), typed);

    const QString browsed = home.filePath(QStringLiteral("browsed"));
    ASSERT_TRUE(QDir().mkpath(browsed));
    QString startedIn;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) return;
        startedIn = dialog->directory().absolutePath();
        dialog->setDirectory(browsed);
        static_cast<QDialog*>(dialog)->accept();  // the file dialog's own accept
    });
    ASSERT_TRUE(QDir().mkpath(typed));
    poll.start(20);
    find<QPushButton>("GlintfieldBrowse")->click();
    poll.stop();
    EXPECT_EQ(startedIn, typed);
    EXPECT_EQ(path->text(), browsed);
    EXPECT_EQ(ManagerSettings().addonCaptureFolder(), browsed);
}
