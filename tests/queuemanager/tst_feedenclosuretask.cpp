#include "feedenclosuretask.h"
#include "testenvironment.h"
#include "virelonpaths.h"

#include <QDir>
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
    // Where the files are ("inside" the enclosure folder, "outside" it, or inside with the
    // ".part" a "link" to a file outside), the files there before ("part", "final") and the
    // content of each after ("-" when gone).
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("rename");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("result");
    QTest::newRow("rename") << "inside" << true << "part" << "new -" << true;
    // Fault guarded: with a final file there already the ".part" stayed behind.
    QTest::newRow("rename, the final file appeared meanwhile") << "inside" << true << "part final" << "old -" << true;
    QTest::newRow("rename without either file") << "inside" << true << "" << "- -" << false;
    QTest::newRow("rename without part") << "inside" << true << "final" << "old -" << true;
    QTest::newRow("delete") << "inside" << false << "part final" << "old -" << true;
    QTest::newRow("delete without part") << "inside" << false << "final" << "old -" << true;
    // Fault guarded: a stored local path anywhere was renamed and deleted there.
    QTest::newRow("rename outside") << "outside" << true << "part" << "- new" << false;
    QTest::newRow("delete outside") << "outside" << false << "part final" << "old new" << true;
    QTest::newRow("rename of a linked part") << "link" << true << "part" << "- new" << false;
    QTest::newRow("delete of a linked part") << "link" << false << "part" << "- new" << true;
    QTest::newRow("delete of a dangling linked part") << "link" << false << "" << "- -" << true;
}

void tst_FeedEnclosureTask::tempFile()
{
    QFETCH(QString, where);
    QFETCH(bool, rename);
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, result);
    QVERIFY(QDir().mkpath(VirelonPaths::enclosureDir()));
    QTemporaryDir inside(VirelonPaths::enclosureDir() + "/XXXXXX");
    QTemporaryDir outside;
    FeedEnclosure enclosure;
    enclosure.setLocalUrl((where == "outside" ? outside.path() : inside.path()) + "/file.mp3");
    const QString partPath = where == "link" ? outside.path() + "/elsewhere" : enclosure.localUrl() + ".part";
    const QStringList paths = {enclosure.localUrl(), partPath};
    QCOMPARE(FeedEnclosureTask::tempFileEnclosure(enclosure).localUrl(), enclosure.localUrl() + ".part");
    if (where == "link")
        QVERIFY(QFile::link(partPath, enclosure.localUrl() + ".part"));
    for (int i = 0; i < 2; ++i) {
        QFile file(paths.at(i));
        if (before.contains(i ? "part" : "final"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(i ? "new" : "old") == 3);
    }
    if (where != "inside")
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Enclosure files left alone"));
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
