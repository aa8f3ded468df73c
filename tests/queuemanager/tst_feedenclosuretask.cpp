#include "feedenclosuretask.h"
#include "testenvironment.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

} // namespace

class tst_FeedEnclosureTask : public QObject
{
    Q_OBJECT

private slots:
    void matchesOnlyItsChannel_data();
    void matchesOnlyItsChannel();
    void tempFileEnclosure_data();
    void tempFileEnclosure();
    void renameTempFile_data();
    void renameTempFile();
    void deleteTempFile_data();
    void deleteTempFile();
};

void tst_FeedEnclosureTask::matchesOnlyItsChannel_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<bool>("matches");
    QTest::newRow("same") << "urn:channel:1" << true;
    QTest::newRow("trailing slash") << "urn:channel:1/" << false;
    QTest::newRow("letter case") << "URN:channel:1" << false;
    QTest::newRow("enclosure's own URI") << "urn:enclosure:1" << false;
    QTest::newRow("enclosure's remote URL") << "http://127.0.0.1/a.mp3" << false;
}

void tst_FeedEnclosureTask::matchesOnlyItsChannel()
{
    QFETCH(QString, uri);
    QFETCH(bool, matches);
    FeedEnclosure enclosure;
    enclosure.setUri("urn:enclosure:1");
    enclosure.setRemoteUrl("http://127.0.0.1/a.mp3");
    FeedEnclosureTask enclosureTask(FeedTask::ManualEnclosurePriority, "urn:channel:1", enclosure);
    QScopedPointer<FeedTask> channelTask(FeedChannelTask::create(FeedTask::EssentialEnclosurePriority, "urn:channel:1"));
    QCOMPARE(enclosureTask.matchesChannel(uri), matches);
    QCOMPARE(channelTask->matchesChannel(uri), matches);
    QCOMPARE(enclosureTask.type(), FeedTask::EnclosureTaskType);
    // A channel task keeps its kind whatever priority it was given.
    QCOMPARE(channelTask->type(), FeedTask::ChannelTaskType);
    QCOMPARE(channelTask->priority(), FeedTask::EssentialEnclosurePriority);
}

void tst_FeedEnclosureTask::tempFileEnclosure_data()
{
    QTest::addColumn<QString>("localUrl");
    QTest::addColumn<QString>("target");
    QTest::newRow("path") << "/a/b.mp3" << "/a/b.mp3.part";
    QTest::newRow("empty") << "" << ".part";
}

void tst_FeedEnclosureTask::tempFileEnclosure()
{
    QFETCH(QString, localUrl);
    QFETCH(QString, target);
    FeedEnclosure enclosure;
    enclosure.setLocalUrl(localUrl);
    enclosure.setRemoteUrl("http://127.0.0.1/b.mp3");
    const FeedEnclosure temp = FeedEnclosureTask::tempFileEnclosure(enclosure);
    QCOMPARE(temp.localUrl(), target);
    QCOMPARE(temp.remoteUrl(), enclosure.remoteUrl());
}

void tst_FeedEnclosureTask::renameTempFile_data()
{
    QTest::addColumn<bool>("part");
    QTest::addColumn<bool>("final");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("finalContent");
    QTest::addColumn<QByteArray>("partContent");
    QTest::newRow("part only") << true << false << true << QByteArray("new") << QByteArray("<none>");
    QTest::newRow("final exists") << true << true << true << QByteArray("old") << QByteArray("new");
    QTest::newRow("neither") << false << false << false << QByteArray("<none>") << QByteArray("<none>");
    QTest::newRow("final only") << false << true << true << QByteArray("old") << QByteArray("<none>");
}

void tst_FeedEnclosureTask::renameTempFile()
{
    QFETCH(bool, part);
    QFETCH(bool, final);
    QFETCH(bool, result);
    QFETCH(QByteArray, finalContent);
    QFETCH(QByteArray, partContent);
    QTemporaryDir dir;
    FeedEnclosure enclosure;
    enclosure.setLocalUrl(dir.path() + "/file.mp3");
    if (part)
        writeFile(enclosure.localUrl() + ".part", "new");
    if (final)
        writeFile(enclosure.localUrl(), "old");
    QCOMPARE(FeedEnclosureTask::renameTempFile(enclosure), result);
    QCOMPARE(contentOf(enclosure.localUrl()), finalContent);
    QCOMPARE(contentOf(enclosure.localUrl() + ".part"), partContent);
}

void tst_FeedEnclosureTask::deleteTempFile_data()
{
    QTest::addColumn<bool>("part");
    QTest::newRow("part exists") << true;
    QTest::newRow("no part") << false;
}

void tst_FeedEnclosureTask::deleteTempFile()
{
    QFETCH(bool, part);
    QTemporaryDir dir;
    FeedEnclosure enclosure;
    enclosure.setLocalUrl(dir.path() + "/file.mp3");
    writeFile(enclosure.localUrl(), "final");
    if (part)
        writeFile(enclosure.localUrl() + ".part", "partial");
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Removing the local file created for enclosure"));
    FeedEnclosureTask::deleteTempFile(enclosure);
    QVERIFY(!QFile::exists(enclosure.localUrl() + ".part"));
    QCOMPARE(contentOf(enclosure.localUrl()), QByteArray("final"));
}

VIRELON_TEST_MAIN(tst_FeedEnclosureTask)

#include "tst_feedenclosuretask.moc"
