// The Cloudshark upload: its address, progress and queue entries on their
// own, the panel against a stand-in appliance, then direct captures from the
// window whose files arrive at the appliance.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "cloudsharkcontrol.h"
#include "upload_server_fixture.h"
#include "uploadaddress.h"
#include "uploadentry.h"
#include "uploadmeter.h"
#include "window_fixture.h"

namespace {

const QString kToken = QStringLiteral("s3cr3t-T0ken");

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
    for (const char* base : {"", "cs.example", "http://", "/local/path", "http://exa mple"})
        EXPECT_FALSE(UploadAddress::uploadUrl(QString::fromLatin1(base), kToken, "f").isValid())
            << base;
}

TEST(UploadAddress, TheTokenIsMaskedInEachSpellingOfTheUrl) {
    for (const QString& token : {kToken, QStringLiteral("a b%c\u00e9")}) {
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
    void makePanel(const QString& tsharkPath, const QString& url) {
        settings_ = std::make_unique<QSettings>(folder_.filePath(QStringLiteral("manager.conf")),
                                                QSettings::IniFormat);
        settings_->setValue(QStringLiteral("Cloudshark/Url"), url);
        settings_->setValue(QStringLiteral("Cloudshark/Token"), kToken);
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
    QString errorText() { return find<QLabel>("error")->text(); }

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

TEST_F(CloudsharkPanelTest, AnErrorAnswerShowsTheErrorWithoutTheTokenAndDropsTheQueue) {
    for (const QStringList& options :
         {QStringList{"--answer", "500", "--hold"}, QStringList{"--drop", "--hold"}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        UploadServer server(options);
        ASSERT_TRUE(server.started());
        makePanel(QString(), server.url());
        captureFiles(4, 100000);  // the first is held at the appliance, three wait
        EXPECT_EQ(linksIn(folder_.path()).size(), 4);
        server.release();
        ASSERT_TRUE(waitFor([&] { return !find<QFrame>("errorPanel")->isHidden(); }, 30000));
        EXPECT_TRUE(errorText().startsWith(QStringLiteral("<b>Error : </b>")))
            << errorText().toStdString();
        EXPECT_FALSE(errorText().contains(kToken)) << errorText().toStdString();
        EXPECT_TRUE(errorText().contains(QStringLiteral("****")) ||
                    !errorText().contains(QStringLiteral("/api/v1/")))
            << errorText().toStdString();
        EXPECT_FALSE(find<QCheckBox>("enabled")->isChecked());
        EXPECT_EQ(linksIn(folder_.path()), QStringList());
        EXPECT_EQ(find<QLabel>("remaining")->text(), QStringLiteral("0 B"));
        EXPECT_LE(server.puts().size(), 1);
        panel_.reset();
    }
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
        openWindow();
        daemon_->attach(withCurrentFirmware({"--type", "9", "--traffic", "rate=4000,mix=imix"}));
        EXPECT_TRUE(selectorShows(1));
        EXPECT_TRUE(openPage(QStringLiteral("Capture")));
        auto* start = find<QPushButton>("capture_start_btn");
        EXPECT_TRUE(waitFor([&] { return start->isEnabled(); }));
        folder_ = config_.filePath(QStringLiteral("captures"));
        EXPECT_TRUE(QDir().mkpath(folder_));
        find<QLineEdit>("capture_filename")->setText(folder_ + QStringLiteral("/run.pcapng"));
        find<QSpinBox>("capture_size")->setValue(1);
        find<QSpinBox>("capture_count")->setValue(100);
        QTest::mouseClick(find<QCheckBox>("enabled"), Qt::LeftButton);
        find<QLineEdit>("url")->setText(url);
        find<QLineEdit>("token")->setText(kToken);
        find<QLineEdit>("filter")->setText(filter);

        QTest::mouseClick(start, Qt::LeftButton);
        EXPECT_TRUE(waitFor(
            [&] { return start->text() == QStringLiteral("Stop Capture") && start->isEnabled(); },
            30000));
        EXPECT_TRUE(waitFor([&] { return written().size() >= files; }, 60000))
            << written().join(' ').toStdString() << " "
            << find<QLabel>("capture_written_label")->text().toStdString();
        QTest::mouseClick(start, Qt::LeftButton);
        EXPECT_TRUE(waitFor(
            [&] { return start->text() == QStringLiteral("Start Capture") && start->isEnabled(); },
            30000));
        return written();
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
    const QList<UploadServer::Put> puts = server.puts();
    ASSERT_EQ(puts.size(), files.size());
    for (int n = 0; n < files.size(); ++n) {
        EXPECT_EQ(puts[n].query, QStringLiteral("filename=") + files[n]);
        EXPECT_EQ(puts[n].sha256, sha256Hex(readFile(folder_ + "/" + files[n]))) << n;
    }
    EXPECT_EQ(linksIn(folder_), QStringList());
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
