// The Cloudshark upload: its address, progress and queue entries on their
// own, the panel against a stand-in appliance, then direct captures from the
// window whose files arrive at the appliance.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

#include "cloudsharkcontrol.h"
#include "upload_server_fixture.h"
#include "uploadaddress.h"
#include "uploadentry.h"
#include "uploadmeter.h"
#include "window_fixture.h"

namespace {

const QString kToken = QStringLiteral("s3cr3t-T0ken");
// A token with what ends a path segment, the path or the query, a space and an escape.
const QString kOddToken = QStringLiteral("k/y?s#e cr%t");
const QString kOddSegment = QStringLiteral("k%2Fy%3Fs%23e%20cr%25t");

QByteArray randomBytes(int size) {
    QByteArray data(size, Qt::Uninitialized);
    for (char& byte : data) byte = char(QRandomGenerator::global()->bounded(256));
    return data;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList linksIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.cloudshark*")}, QDir::Files);
}

ino_t inode(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

}  // namespace

TEST(UploadAddress, TheUploadPathTheEncodedNameAndTheAddressesRefused) {
    const QUrl url = UploadAddress::uploadUrl(QStringLiteral(" http://cs.example:8080/ "), kToken,
                                              QStringLiteral("/data/run_00001.pcapng"));
    EXPECT_EQ(url.toString(QUrl::FullyEncoded),
              QStringLiteral("http://cs.example:8080/api/v1/s3cr3t-T0ken/upload?filename=run_00001."
                             "pcapng"));
    // Characters that would end the name or the query stay in the name.
    EXPECT_EQ(UploadAddress::uploadUrl(QStringLiteral("https://cs"), kToken,
                                       QStringLiteral("/d/a&b #1+.pcapng"))
                  .query(QUrl::FullyEncoded),
              QStringLiteral("filename=a%26b%20%231%2B.pcapng"));
    // A token holding what ends a segment, the path, or the query stays one segment.
    const QUrl odd = UploadAddress::uploadUrl(QStringLiteral("http://cs"), kOddToken, "x.pcapng");
    EXPECT_EQ(odd.path(QUrl::FullyEncoded), QStringLiteral("/api/v1/") + kOddSegment + "/upload");
    EXPECT_EQ(odd.query(QUrl::FullyEncoded), QStringLiteral("filename=x.pcapng"));
    EXPECT_EQ(odd.fragment(), QString());
    for (const char* base : {"", "cs.example", "http://", "/local/path", "http://exa mple"})
        EXPECT_FALSE(UploadAddress::uploadUrl(QString::fromLatin1(base), kToken, "f").isValid())
            << base;
}

TEST(UploadAddress, TheTokenIsMaskedInEachSpellingOfTheUrl) {
    for (const QString& token : {kToken, QStringLiteral("a b%c\u00e9"), kOddToken}) {
        const QUrl url = UploadAddress::uploadUrl(QStringLiteral("http://cs"), token, "x.pcapng");
        ASSERT_TRUE(url.isValid()) << token.toStdString();
        for (const QString& quoted :
             {url.toString(), url.toString(QUrl::FullyEncoded), url.toDisplayString()}) {
            const QString text = QStringLiteral("Error transferring ") + quoted +
                                 QStringLiteral(" - server replied: Internal Server Error");
            const QString masked = UploadAddress::maskToken(text, token);
            EXPECT_EQ(masked, QStringLiteral("Error transferring http://cs/api/v1/****/upload?"
                                             "filename=x.pcapng - server replied: Internal "
                                             "Server Error"))
                << text.toStdString();
        }
    }
    // Decoded by hand, or encoded in lower case, by whoever quotes it.
    for (const QString& spelling : {kOddToken, kOddSegment.toLower()})
        EXPECT_EQ(UploadAddress::maskToken("[" + spelling + "]", kOddToken),
                  QStringLiteral("[****]"))
            << spelling.toStdString();
    EXPECT_EQ(UploadAddress::maskToken(QStringLiteral("as is"), QString()),
              QStringLiteral("as is"));
}

TEST(UploadMeter, TheBarOnEverySampleTheSpeedAtMostOncePerSecond) {
    UploadMeter meter;
    meter.restart(10000);
    EXPECT_FALSE(meter.sample(100, 0, 10100));  // size not known yet
    EXPECT_FALSE(meter.sample(100, -1, 10100));
    auto early = meter.sample(250, 1000, 10999);
    ASSERT_TRUE(early);
    EXPECT_EQ(early->percent, 25);
    EXPECT_FALSE(early->speed);  // within a second of the start
    auto first = meter.sample(500, 1000, 12000);
    ASSERT_TRUE(first && first->speed);
    EXPECT_EQ(*first->speed, 250);  // 500 bytes over 2 s
    EXPECT_FALSE(meter.sample(900, 1000, 12999)->speed);
    // A smaller count than the last sample (the layer restarted) reads 0, not negative.
    EXPECT_EQ(*meter.sample(100, 1000, 13000)->speed, 0);
    // Sizes far beyond 64-bit percent arithmetic.
    const qint64 huge = qint64(1) << 62;
    EXPECT_EQ(meter.sample(huge / 2, huge, 14000)->percent, 50);
    EXPECT_EQ(meter.sample(huge, huge, 14001)->percent, 100);
}

TEST(UploadEntry, AHardLinkKeepsTheDataAndGoesWithTheEntry) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("run_00001.pcapng"));
    ASSERT_TRUE(writeFile(path, "0123456789"));
    auto entry = UploadEntry::create(7, path);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->size(), 10);
    EXPECT_TRUE(entry->linked());
    EXPECT_EQ(entry->uploadPath(), path + QStringLiteral(".cloudshark"));
    EXPECT_EQ(inode(entry->uploadPath()), inode(path));  // a hard link, not a symbolic one
    ASSERT_TRUE(QFile::remove(path));                    // the device moves on
    EXPECT_EQ(readFile(entry->uploadPath()), QByteArray("0123456789"));

    auto filtered = entry->createFilteredCopy();
    ASSERT_TRUE(filtered);
    QFileInfo copy(entry->filteredPath());
    EXPECT_EQ(copy.absolutePath(), folder.path());
    EXPECT_EQ(copy.permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    filtered.reset();
    entry.reset();
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST(UploadEntry, NothingToSendAndANameAlreadyTaken) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString empty = folder.filePath(QStringLiteral("empty.pcapng"));
    const QString data = folder.filePath(QStringLiteral("data.pcapng"));
    const QString symlink = folder.filePath(QStringLiteral("symlink.pcapng"));
    ASSERT_TRUE(writeFile(empty, QByteArray()));
    ASSERT_TRUE(writeFile(data, "x"));
    ASSERT_TRUE(QFile::link(data, symlink));
    for (const QString& path : {empty, symlink, folder.path(), folder.filePath("missing")})
        EXPECT_FALSE(UploadEntry::create(1, path)) << path.toStdString();
    EXPECT_FALSE(UploadEntry::openForReading(symlink));

    // A file of that name that is not ours: not linked, not removed.
    const QString taken = data + QStringLiteral(".cloudshark");
    ASSERT_TRUE(writeFile(taken, "someone else's"));
    auto entry = UploadEntry::create(1, data);
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->linked());
    EXPECT_EQ(entry->uploadPath(), data);
    entry.reset();
    EXPECT_EQ(readFile(taken), QByteArray("someone else's"));
}

// The panel on its own, with one known device, against a stand-in appliance.
class CloudsharkPanelTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }
    void makePanel(const QString& tsharkPath, const QString& url, const QString& token = kToken) {
        settings_ = std::make_unique<QSettings>(folder_.filePath(QStringLiteral("manager.conf")),
                                                QSettings::IniFormat);
        settings_->setValue(QStringLiteral("Cloudshark/Url"), url);
        settings_->setValue(QStringLiteral("Cloudshark/Token"), token);
        settings_->setValue(QStringLiteral("Cloudshark/Filter"), QStringLiteral("frame.len > 1"));
        panel_ = std::make_unique<CloudsharkControl>(tsharkPath, nullptr);
        panel_->setSettings(settings_.get());
        panel_->setDeviceLookup([this](NettlebeamApiDeviceHandle handle) {
            return handle == device_.handle ? &device_ : &placeholder_;
        });
        panel_->show();
        find<QCheckBox>("enabled")->setChecked(true);
    }
    template <typename T>
    T* find(const char* name) {
        T* widget = panel_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString capture(int number) const {
        return folder_.filePath(QStringLiteral("run_%1.pcapng").arg(number));
    }
    // A capture writing `count` files of `size` bytes, each announced while
    // still empty, as the device does.
    QList<QByteArray> captureFiles(int count, int size) {
        QList<QByteArray> contents;
        panel_->captureStatusChanged(device_.handle, {1, 0});
        for (int n = 1; n <= count; ++n) {
            EXPECT_TRUE(writeFile(capture(n), QByteArray()));
            panel_->newFileAvailable(device_.handle, capture(n));
            contents << randomBytes(size);
            EXPECT_TRUE(writeFile(capture(n), contents.last()));
        }
        panel_->captureStatusChanged(device_.handle, {0, 0});
        return contents;
    }
    bool idle() {
        return waitFor([&] { return find<QFrame>("progressPanel")->isHidden(); }, 30000);
    }
    // The text as read, without the break hints the panel puts in paths.
    QString errorText() { return find<QLabel>("error")->text().remove(QChar(0x200b)); }

    QTemporaryDir folder_;
    std::unique_ptr<QSettings> settings_;
    NettlebeamDevice device_ = [] {
        NettlebeamDevice device;
        device.handle = 3;
        return device;
    }();
    NettlebeamDevice placeholder_;
    std::unique_ptr<CloudsharkControl> panel_;
};

TEST_F(CloudsharkPanelTest, FinishedFilesArriveWholeInOrderAndWithoutTSharkUnfiltered) {
    UploadServer server;
    ASSERT_TRUE(server.started());
    makePanel(QString(), server.url());
    auto* filter = find<QLineEdit>("filter");
    EXPECT_FALSE(filter->isEnabled());
    EXPECT_EQ(filter->text(), QStringLiteral("TShark not available"));

    const QList<QByteArray> contents = captureFiles(3, 200000);
    ASSERT_TRUE(idle());
    const QList<UploadServer::Put> puts = server.puts();
    ASSERT_EQ(puts.size(), 3);
    for (int n = 0; n < 3; ++n) {
        EXPECT_EQ(puts[n].path, QStringLiteral("/api/v1/s3cr3t-T0ken/upload"));
        EXPECT_EQ(puts[n].query, QStringLiteral("filename=run_%1.pcapng").arg(n + 1));
        EXPECT_TRUE(server.body(n + 1) == contents[n]) << n;  // whole, although announced empty
    }
    EXPECT_EQ(linksIn(folder_.path()), QStringList());
    EXPECT_EQ(find<QLabel>("remaining")->text(), QStringLiteral("0 B"));
    EXPECT_TRUE(find<QCheckBox>("enabled")->isEnabled());
    EXPECT_TRUE(find<QFrame>("errorPanel")->isHidden());

    // Saving keeps the stored filter: the edit only says TShark is missing.
    find<QLineEdit>("url")->setText(QStringLiteral("http://elsewhere"));
    panel_->SaveConfig();
    QSettings onDisk(settings_->fileName(), QSettings::IniFormat);
    EXPECT_EQ(onDisk.value(QStringLiteral("Cloudshark/Url")).toString(), "http://elsewhere");
    EXPECT_EQ(onDisk.value(QStringLiteral("Cloudshark/Filter")).toString(), "frame.len > 1");
}

// A refusal, a redirection (an http:// address of an appliance that moved to
// https) and a connection closed under the body: each is an error that
// names neither spelling of the token, reached the appliance once, and
// keeps the refused file at its link while the rest of the queue goes.
TEST_F(CloudsharkPanelTest, AnErrorAnswerShowsTheErrorWithoutTheTokenAndDropsTheQueue) {
    for (const QStringList& options :
         {QStringList{"--answer", "500", "--hold"}, QStringList{"--answer", "302", "--hold"},
          QStringList{"--drop", "--hold"}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        UploadServer server(options);
        ASSERT_TRUE(server.started());
        makePanel(QString(), server.url(), kOddToken);
        // The first is held at the appliance, three wait.
        const QList<QByteArray> contents = captureFiles(4, 100000);
        EXPECT_EQ(linksIn(folder_.path()).size(), 4);
        server.release();
        ASSERT_TRUE(waitFor([&] { return !find<QFrame>("errorPanel")->isHidden(); }, 30000));
        EXPECT_TRUE(errorText().startsWith(QStringLiteral("<b>Error : </b>")))
            << errorText().toStdString();
        for (const QString& spelling :
             {kOddToken, kOddSegment, QStringLiteral("k/y"), QStringLiteral("cr%t")})
            EXPECT_FALSE(errorText().contains(spelling, Qt::CaseInsensitive))
                << errorText().toStdString();
        EXPECT_TRUE(errorText().contains(QStringLiteral("/api/v1/****/upload")))
            << errorText().toStdString();
        EXPECT_FALSE(find<QCheckBox>("enabled")->isChecked());
        const QString kept = QStringLiteral("run_1.pcapng.cloudshark");
        EXPECT_EQ(linksIn(folder_.path()), QStringList{kept});
        EXPECT_TRUE(errorText().contains(folder_.filePath(kept))) << errorText().toStdString();
        EXPECT_TRUE(readFile(folder_.filePath(kept)) == contents[0]);
        EXPECT_EQ(find<QLabel>("remaining")->text(), QStringLiteral("0 B"));
        EXPECT_LE(server.puts().size(), 1);
        // The file went out once: no second request, whole or empty, behind the panel's back.
        const QList<UploadServer::Request> requests = server.requests();
        ASSERT_EQ(requests.size(), 1);
        EXPECT_EQ(requests[0].path, QStringLiteral("/api/v1/") + kOddSegment + "/upload");
        EXPECT_EQ(requests[0].declared, contents[0].size());
        panel_.reset();
        QFile::remove(folder_.filePath(kept));
    }
}

// A capture folder deep in a tree gives names far wider than the panel:
// the error wraps inside it, the whole name readable.
TEST_F(CloudsharkPanelTest, ALongPathInAnErrorWrapsInsideThePanel) {
    UploadServer server;
    ASSERT_TRUE(server.started());
    makePanel(QString(), server.url());
    QString deep = folder_.path();
    for (int level = 0; level < 4; ++level)
        deep += QStringLiteral("/captures_of_the_uplink_rack_%1").arg(level);
    const QString missing = deep + QStringLiteral("/run_2026_12_08_the_long_one.pcapng");
    panel_->captureStatusChanged(device_.handle, {1, 0});
    panel_->newFileAvailable(device_.handle, missing);
    auto* panel = find<QFrame>("errorPanel");
    ASSERT_TRUE(waitFor([&] { return !panel->isHidden(); }));
    EXPECT_TRUE(errorText().contains(missing)) << errorText().toStdString();
    auto* error = find<QLabel>("error");
    EXPECT_GT(error->fontMetrics().horizontalAdvance(missing), panel->width());
    EXPECT_LE(error->minimumSizeHint().width(), panel->contentsRect().width());
}

// A looping capture that keeps two files removes the oldest as it starts a
// new one, and its announcements reach the panel late: each file is named
// while the device already writes the next and has removed the one before.
// Every file is kept from its announcement, and one removed before its
// announcement arrived is reported, not skipped unnoticed.
TEST_F(CloudsharkPanelTest, ALoopingCaptureWithTwoFilesSendsEveryFile) {
    UploadServer server;
    ASSERT_TRUE(server.started());
    makePanel(QString(), server.url());
    constexpr int kFiles = 6;
    constexpr int kLate = 4;  // its announcement comes after the device removed it
    QList<QByteArray> contents;
    auto writeUpTo = [&](int last) {
        for (int n = contents.size() + 1; n <= std::min(last, kFiles); ++n) {
            contents << randomBytes(50000);
            EXPECT_TRUE(writeFile(capture(n), contents.last()));
            if (n > 2) {
                EXPECT_TRUE(QFile::remove(capture(n - 2)));
            }
        }
    };
    panel_->captureStatusChanged(device_.handle, {1, 0});
    for (int n = 1; n <= kFiles; ++n) {
        writeUpTo(n == kLate ? n + 2 : n + 1);
        panel_->newFileAvailable(device_.handle, capture(n));
    }
    panel_->captureStatusChanged(device_.handle, {0, 0});
    ASSERT_TRUE(idle());
    const QList<UploadServer::Put> puts = server.puts();
    QStringList sent;
    for (const UploadServer::Put& put : puts) sent << put.query;
    QStringList expected;
    for (int n = 1; n <= kFiles; ++n)
        if (n != kLate) expected << QStringLiteral("filename=run_%1.pcapng").arg(n);
    ASSERT_EQ(sent, expected);
    for (int i = 0, n = 1; i < puts.size() && n <= kFiles; ++n) {
        if (n == kLate) continue;
        EXPECT_EQ(puts[i].sha256, sha256Hex(contents[n - 1])) << n;
        ++i;
    }
    EXPECT_FALSE(find<QFrame>("errorPanel")->isHidden());
    EXPECT_TRUE(errorText().contains(capture(kLate) + QStringLiteral(" was not sent: ")))
        << errorText().toStdString();
    EXPECT_EQ(linksIn(folder_.path()), QStringList());
    EXPECT_TRUE(find<QLineEdit>("url")->isEnabled());
}

TEST_F(CloudsharkPanelTest, AnEmptyTokenOrABadUrlMetLaterDropsEveryQueuedFile) {
    for (const char* edit : {"token", "url"}) {
        SCOPED_TRACE(edit);
        UploadServer server({QStringLiteral("--hold")});
        ASSERT_TRUE(server.started());
        makePanel(QString(), server.url());
        captureFiles(3, 1000);
        find<QLineEdit>(edit)->setText(edit == QByteArray("url") ? QStringLiteral("no url")
                                                                 : QString());
        server.release();  // the first goes through; the second meets the setting
        ASSERT_TRUE(waitFor([&] { return !find<QFrame>("errorPanel")->isHidden(); }, 30000));
        EXPECT_EQ(errorText(), edit == QByteArray("url")
                                   ? QStringLiteral("<b>Error : </b>Invalid URL")
                                   : QStringLiteral("<b>Error : </b>Invalid token"));
        EXPECT_EQ(server.puts().size(), 1);
        EXPECT_EQ(linksIn(folder_.path()), QStringList());
        EXPECT_FALSE(find<QCheckBox>("enabled")->isChecked());
        EXPECT_EQ(find<QLabel>("remaining")->text(), QStringLiteral("0 B"));
        panel_.reset();
    }
}

TEST_F(CloudsharkPanelTest, CancelMidUploadEmptiesTheQueueAndRemovesTheLinks) {
    UploadServer server({QStringLiteral("--hold")});
    ASSERT_TRUE(server.started());
    makePanel(QString(), server.url());
    captureFiles(3, 16 << 20);
    // The appliance reads nothing yet: the body waits in the socket's buffers.
    ASSERT_TRUE(waitFor([&] { return server.holding(); }, 30000));
    EXPECT_EQ(linksIn(folder_.path()).size(), 3);
    QTest::mouseClick(find<QPushButton>("cancel"), Qt::LeftButton);
    EXPECT_EQ(linksIn(folder_.path()), QStringList());
    EXPECT_FALSE(find<QCheckBox>("enabled")->isChecked());
    EXPECT_EQ(find<QLabel>("remaining")->text(), QStringLiteral("0 B"));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(find<QFrame>("errorPanel")->isHidden());
    EXPECT_TRUE(find<QLineEdit>("url")->isEnabled());
}

TEST_F(CloudsharkPanelTest, TSharkStillFilteringIsKilledOnCancelAndAtExit) {
    UploadServer server;
    ASSERT_TRUE(server.started());
    // A filter that never ends, telling who it is.
    const QString tshark = folder_.filePath(QStringLiteral("tshark"));
    const QString pidFile = folder_.filePath(QStringLiteral("tshark.pid"));
    ASSERT_TRUE(writeFile(tshark, QStringLiteral("#!/bin/sh\necho $$ > %1.new\nmv %1.new %1\n"
                                                 "exec sleep 60\n")
                                      .arg(pidFile)
                                      .toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(tshark, QFile::ReadOwner | QFile::ExeOwner));
    for (bool atExit : {false, true}) {
        SCOPED_TRACE(atExit ? "at exit" : "on cancel");
        QFile::remove(pidFile);
        makePanel(tshark, server.url());
        EXPECT_EQ(find<QLineEdit>("filter")->text(), QStringLiteral("frame.len > 1"));
        captureFiles(2, 1000);
        ASSERT_TRUE(waitFor([&] { return QFile::exists(pidFile); }, 30000));
        const pid_t pid = readFile(pidFile).trimmed().toInt();
        ASSERT_GT(pid, 0);
        if (atExit) {
            panel_.reset();
        } else {
            QTest::mouseClick(find<QPushButton>("cancel"), Qt::LeftButton);
            EXPECT_TRUE(find<QFrame>("progressPanel")->isHidden());
        }
        EXPECT_NE(::kill(pid, 0), 0);  // killed and reaped
        EXPECT_EQ(QDir(folder_.path()).entryList({QStringLiteral("run_*.*.*")}), QStringList());
        EXPECT_TRUE(server.puts().isEmpty());
    }
}

// Direct captures from the window, uploaded as their files are finished.
class CloudsharkWindowTest : public WindowTest {
  protected:
    // Captures until the device wrote `files` files of 1 MB, then stops.
    QStringList captureThroughTheWindow(const QString& url, const QString& filter, int files) {
        startCapture(url, filter);
        EXPECT_TRUE(waitForFiles(files));
        stopCapture();
        return written();
    }
    // Starts a capture of 1 MB files with uploading on; the device's handle.
    // A looping capture keeps only the newest `count` files.
    int startCapture(const QString& url, const QString& filter = QString(), int count = 100,
                     bool loop = false) {
        openWindow();
        const int handle = daemon_->attach(
            withCurrentFirmware({"--type", "9", "--traffic", "rate=4000,mix=imix"}));
        EXPECT_TRUE(selectorShows(1));
        EXPECT_TRUE(openPage(QStringLiteral("Capture")));
        auto* start = find<QPushButton>("capture_start_btn");
        EXPECT_TRUE(waitFor([&] { return start->isEnabled(); }));
        folder_ = config_.filePath(QStringLiteral("captures"));
        EXPECT_TRUE(QDir().mkpath(folder_));
        find<QLineEdit>("capture_filename")->setText(folder_ + QStringLiteral("/run.pcapng"));
        find<QSpinBox>("capture_size")->setValue(1);
        find<QSpinBox>("capture_count")->setValue(count);
        find<QCheckBox>("capture_loop")->setChecked(loop);
        QTest::mouseClick(find<QCheckBox>("enabled"), Qt::LeftButton);
        find<QLineEdit>("url")->setText(url);
        find<QLineEdit>("token")->setText(kToken);
        find<QLineEdit>("filter")->setText(filter);

        QTest::mouseClick(start, Qt::LeftButton);
        EXPECT_TRUE(waitFor(
            [&] { return start->text() == QStringLiteral("Stop Capture") && start->isEnabled(); },
            30000));
        return handle;
    }
    bool waitForFiles(int files) {
        const bool done = waitFor([&] { return written().size() >= files; }, 60000);
        EXPECT_TRUE(done) << written().join(' ').toStdString() << " "
                          << find<QLabel>("capture_written_label")->text().toStdString();
        return done;
    }
    void stopCapture() {
        auto* start = find<QPushButton>("capture_start_btn");
        QTest::mouseClick(start, Qt::LeftButton);
        EXPECT_TRUE(waitFor(
            [&] { return start->text() == QStringLiteral("Start Capture") && start->isEnabled(); },
            30000));
    }
    // Every file the device wrote reached the appliance once, in order, whole.
    void expectEveryFileSent(const UploadServer& server) {
        const QStringList files = written();
        const QList<UploadServer::Put> puts = server.puts();
        ASSERT_EQ(puts.size(), files.size()) << files.join(' ').toStdString();
        for (int n = 0; n < files.size(); ++n) {
            EXPECT_EQ(puts[n].query, QStringLiteral("filename=") + files[n]);
            EXPECT_EQ(puts[n].sha256, sha256Hex(readFile(folder_ + "/" + files[n]))) << n;
        }
        EXPECT_EQ(linksIn(folder_), QStringList());
    }
    // The number the device gave a capture file ("run_00007_<time>.pcapng"), 0 for another name.
    static int fileNumber(const QString& name) {
        static const QRegularExpression pattern(QStringLiteral("^run_(\\d{5})_"));
        const QRegularExpressionMatch match = pattern.match(name);
        return match.hasMatch() ? match.captured(1).toInt() : 0;
    }
    int newestFileNumber() const {
        int newest = 0;
        for (const QString& name : written()) newest = std::max(newest, fileNumber(name));
        return newest;
    }
    QStringList written() const {
        return QDir(folder_).entryList({QStringLiteral("*.pcapng")}, QDir::Files, QDir::Name);
    }
    bool uploadsDone() {
        return waitFor([&] { return find<QFrame>("progressPanel")->isHidden(); }, 60000);
    }
    QString folder_;
};

TEST_F(CloudsharkWindowTest, EachFinishedFileArrivesOnceInOrderByteForByte) {
    UploadServer server;
    ASSERT_TRUE(server.started());
    const QStringList files = captureThroughTheWindow(server.url(), QString(), 3);
    ASSERT_GE(files.size(), 3);
    ASSERT_TRUE(uploadsDone());
    expectEveryFileSent(server);
    EXPECT_TRUE(find<QFrame>("errorPanel")->isHidden());
}

// The device says again that its capture runs, as it does after a cache
// overflow: the file it is writing then is sent like the others.
TEST_F(CloudsharkWindowTest, ARunningStateAgainMidCaptureKeepsTheFileBeingWritten) {
    UploadServer server;
    ASSERT_TRUE(server.started());
    const int handle = startCapture(server.url());
    ASSERT_TRUE(waitForFiles(2));
    daemon_->event({"4", std::to_string(handle), "--word", "1", "--error", "16"});
    const int before = written().size();
    ASSERT_TRUE(waitForFiles(before + 2));
    stopCapture();
    ASSERT_TRUE(uploadsDone());
    expectEveryFileSent(server);
    EXPECT_TRUE(find<QFrame>("errorPanel")->isHidden());
}

// A device unplugged mid-capture sends no end of its capture: its last file,
// closed as it went, is sent, and the settings come back once the queue is empty.
TEST_F(CloudsharkWindowTest, ADeviceThatLeavesMidCaptureSendsItsLastFileAndFreesTheSettings) {
    UploadServer server;
    ASSERT_TRUE(server.started());
    const int handle = startCapture(server.url());
    ASSERT_TRUE(waitForFiles(3));
    EXPECT_FALSE(find<QLineEdit>("url")->isEnabled());
    daemon_->detach(handle);
    ASSERT_TRUE(showsNoDevice());
    ASSERT_TRUE(waitFor([&] { return find<QLineEdit>("url")->isEnabled(); }, 60000));
    EXPECT_TRUE(find<QFrame>("progressPanel")->isHidden());
    for (const char* name : {"enabled", "token"})
        EXPECT_TRUE(find<QWidget>(name)->isEnabled()) << name;
    expectEveryFileSent(server);
    EXPECT_TRUE(find<QFrame>("errorPanel")->isHidden());
}

TEST_F(CloudsharkWindowTest, WithADisplayFilterTheBodyIsWhatTSharkWrites) {
    UploadServer server;
    ASSERT_TRUE(server.started());
    const QString filter = QStringLiteral("frame.len > 600");
    const QStringList files = captureThroughTheWindow(server.url(), filter, 2);
    ASSERT_TRUE(uploadsDone());
    ASSERT_EQ(server.puts().size(), files.size());
    auto packets = [](const QString& path) {
        const auto counted = nettlebeam::testsupport::runProcess(
            {"/usr/bin/capinfos", "-T", "-r", "-c", path.toStdString()});
        EXPECT_EQ(counted.exitStatus, 0) << counted.err;
        return QString::fromStdString(counted.out).trimmed().section('\t', -1).toLongLong();
    };
    for (int n = 0; n < files.size(); ++n) {
        const QString capture = folder_ + "/" + files[n];
        const QString body = config_.filePath(QStringLiteral("body.pcapng"));
        const QString expected = config_.filePath(QStringLiteral("expected.pcapng"));
        ASSERT_TRUE(writeFile(body, server.body(n + 1)));
        const auto filtered = nettlebeam::testsupport::runProcess(
            {"/usr/bin/tshark", "-r", capture.toStdString(), "-R", filter.toStdString(), "-2", "-w",
             expected.toStdString()});
        ASSERT_EQ(filtered.exitStatus, 0) << filtered.err;
        const qint64 sent = packets(body);
        EXPECT_EQ(sent, packets(expected)) << n;
        EXPECT_GT(sent, 0);
        EXPECT_LT(sent, packets(capture));  // the small frames were left out
    }
    EXPECT_EQ(QDir(folder_).entryList(QDir::Files), files);  // no links, no filtered copies
}

// A looping capture keeping two files removes each file two files after
// announcing it, while the window may be busy far longer (a redraw, a box, a
// slow disk). Here the window's thread stalls while the device writes four
// files: each is linked where its announcement arrives, so every file the
// device wrote reaches the appliance, none reported lost.
TEST_F(CloudsharkWindowTest, ALoopingCaptureSendsEveryFileWhileTheWindowIsBusy) {
    UploadServer server;
    ASSERT_TRUE(server.started());
    startCapture(server.url(), QString(), 2, true);
    ASSERT_TRUE(waitFor([&] { return newestFileNumber() >= 2; }, 60000));
    // The stall: no event of this thread runs until the device is four files on.
    const int stalledAt = newestFileNumber();
    QDeadlineTimer deadline(60000);
    while (newestFileNumber() < stalledAt + 4 && !deadline.hasExpired()) QThread::msleep(10);
    ASSERT_GE(newestFileNumber(), stalledAt + 4);
    const int atLeast = newestFileNumber() + 2;
    ASSERT_TRUE(waitFor([&] { return newestFileNumber() >= atLeast; }, 60000));
    stopCapture();
    ASSERT_TRUE(waitFor([&] { return find<QLineEdit>("url")->isEnabled(); }, 60000));
    ASSERT_TRUE(uploadsDone());
    EXPECT_TRUE(find<QFrame>("errorPanel")->isHidden())
        << find<QLabel>("error")->text().toStdString();

    const QStringList kept = written();
    ASSERT_EQ(kept.size(), 2);  // the loop removed all but the newest two
    const QList<UploadServer::Put> puts = server.puts();
    QList<int> sent;
    for (const UploadServer::Put& put : puts)
        sent << fileNumber(put.query.section(QLatin1Char('='), 1));
    QList<int> expected;
    for (int n = 1; n <= fileNumber(kept.last()); ++n) expected << n;
    EXPECT_EQ(sent, expected);
    for (int n = 0; n < 2 && puts.size() >= 2; ++n) {
        const UploadServer::Put& put = puts[puts.size() - 2 + n];
        EXPECT_EQ(put.query, QStringLiteral("filename=") + kept[n]);
        EXPECT_EQ(put.sha256, sha256Hex(readFile(folder_ + "/" + kept[n]))) << n;
    }
    EXPECT_EQ(linksIn(folder_), QStringList());
}
