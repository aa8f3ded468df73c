#include "feedenclosuretask.h"
#include "testenvironment.h"

#include <QFile>
#include <QTemporaryDir>

class tst_FeedEnclosureTask : public QObject
{
    Q_OBJECT

private slots:
    void matchesOnlyItsChannel_data();
    void matchesOnlyItsChannel();
    void tempFile_data();
    void tempFile();
};

void tst_FeedEnclosureTask::matchesOnlyItsChannel_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<bool>("matches");
    QTest::newRow("same") << "urn:channel:1" << true;
    QTest::newRow("trailing slash") << "urn:channel:1/" << false;
    QTest::newRow("letter case") << "URN:channel:1" << false;
    QTest::newRow("enclosure's own URI") << "urn:enclosure:1" << false;
}

void tst_FeedEnclosureTask::matchesOnlyItsChannel()
{
    QFETCH(QString, uri);
    QFETCH(bool, matches);
    FeedEnclosure enclosure;
    enclosure.setUri("urn:enclosure:1");
    FeedEnclosureTask enclosureTask(FeedTask::ManualEnclosurePriority, "urn:channel:1", enclosure);
    QScopedPointer<FeedTask> channelTask(FeedChannelTask::create(FeedTask::EssentialEnclosurePriority, "urn:channel:1"));
    QCOMPARE(enclosureTask.matchesChannel(uri), matches);
    QCOMPARE(channelTask->matchesChannel(uri), matches);
    // A channel task keeps its kind whatever priority it was given.
    QCOMPARE(channelTask->type(), FeedTask::ChannelTaskType);
    QCOMPARE(channelTask->priority(), FeedTask::EssentialEnclosurePriority);
}

void tst_FeedEnclosureTask::tempFile_data()
{
    // The files there before ("part", "final") and the content of each after ("-" when gone).
    QTest::addColumn<bool>("rename");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("result");
    QTest::newRow("rename") << true << "part" << "new -" << true;
    QTest::newRow("rename over an existing file") << true << "part final" << "old new" << true;
    QTest::newRow("rename without either file") << true << "" << "- -" << false;
    QTest::newRow("rename without part") << true << "final" << "old -" << true;
    QTest::newRow("delete") << false << "part final" << "old -" << true;
    QTest::newRow("delete without part") << false << "final" << "old -" << true;
}

// Fault guarded: renameTempFile did not say whether the final file exists afterwards.
void tst_FeedEnclosureTask::tempFile()
{
    QFETCH(bool, rename);
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, result);
    QTemporaryDir dir;
    FeedEnclosure enclosure;
    enclosure.setLocalUrl(dir.path() + "/file.mp3");
    const QStringList paths = {enclosure.localUrl(), dir.path() + "/file.mp3.part"};
    QCOMPARE(FeedEnclosureTask::tempFileEnclosure(enclosure).localUrl(), paths.at(1));
    for (int i = 0; i < 2; ++i) {
        QFile file(paths.at(i));
        if (before.contains(i ? "part" : "final"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(i ? "new" : "old") == 3);
    }
    if (rename) {
        QCOMPARE(FeedEnclosureTask::renameTempFile(enclosure), result);
    } else {
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Removing the local file created for enclosure"));
        FeedEnclosureTask::deleteTempFile(enclosure);
    }
    QStringList contents;
    for (const QString& path : paths) {
        QFile file(path);
        contents << (file.open(QIODevice::ReadOnly) ? QString(file.readAll()) : QString("-"));
    }
    QCOMPARE(contents.join(' '), after);
}

VIRELON_TEST_MAIN(tst_FeedEnclosureTask)

#include "tst_feedenclosuretask.moc"
