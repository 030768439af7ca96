// A 500 MB capture file sent through the Cloudshark panel streams from disk:
// the manager's resident memory does not grow with the file. Built only
// without the sanitizers, whose shadow memory would swamp the figure.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "upload_server_fixture.h"

TEST(CloudsharkMemory, A500MegabyteUploadGrowsTheResidentMemoryByLessThan30Megabytes) {
    UploadServer server({QStringLiteral("--discard")});
    ASSERT_TRUE(server.started());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(QStringLiteral(UPLOAD_PROBE), {server.url(), QStringLiteral("500"), folder.path()});
    ASSERT_TRUE(probe.waitForFinished(300000));
    ASSERT_EQ(probe.exitStatus(), QProcess::NormalExit);
    const QString out = QString::fromUtf8(probe.readAllStandardOutput());
    EXPECT_EQ(probe.exitCode(), 0) << out.toStdString();

    const QList<UploadServer::Put> puts = server.puts();
    ASSERT_EQ(puts.size(), 1);
    EXPECT_EQ(puts[0].length, qint64(500) << 20);
    EXPECT_TRUE(out.contains(QStringLiteral("remaining 0 B\n"))) << out.toStdString();
    ASSERT_TRUE(out.startsWith(QStringLiteral("rss_growth_kb "))) << out.toStdString();
    const long growthKb = out.section(' ', 1, 1).section('\n', 0, 0).toLong();
    EXPECT_LT(growthKb, 30 * 1024) << out.toStdString();
}
