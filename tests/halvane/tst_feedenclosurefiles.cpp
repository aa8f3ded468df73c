#include "feedenclosurefiles.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <virelonpaths.h>

// Paths in the rows: {in} is the enclosure directory, {out} a folder beside it that is no part of it.
class tst_FeedEnclosureFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void remove_data();
    void remove();
    void removeList();

private:
    QString place(QString path) const;
    void make(const QString& path) const;

    QString _in;
    QString _out;
};

QString tst_FeedEnclosureFiles::place(QString path) const
{
    return path.replace(QStringLiteral("{in}"), _in).replace(QStringLiteral("{out}"), _out);
}

void tst_FeedEnclosureFiles::make(const QString& path) const
{
    QFile file(place(path));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.fileName()));
}

void tst_FeedEnclosureFiles::init()
{
    _in = VirelonPaths::enclosureDir();
    _out = QDir::homePath() + QStringLiteral("/outside");
    QVERIFY(QDir(QDir::homePath()).removeRecursively());
    QVERIFY(QDir().mkpath(_in));
    QVERIFY(QDir().mkpath(_out));
}

void tst_FeedEnclosureFiles::remove_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("links"); // "link>target"
    QTest::addColumn<bool>("removed");
    QTest::addColumn<QStringList>("gone");
    QTest::addColumn<QStringList>("kept");

    const QStringList none;
    QTest::newRow("file inside") << "{in}/a.mp3" << QStringList{"{in}/a.mp3", "{in}/b.mp3"} << none << true
                                 << QStringList{"{in}/a.mp3"} << QStringList{"{in}/b.mp3"};
    QTest::newRow("file and its partial download")
        << "{in}/a.mp3" << QStringList{"{in}/a.mp3", "{in}/a.mp3.part"} << none << true
        << QStringList{"{in}/a.mp3", "{in}/a.mp3.part"} << none;
    QTest::newRow("partial download alone") << "{in}/a.mp3" << QStringList{"{in}/a.mp3.part"} << none << true
                                            << QStringList{"{in}/a.mp3.part"} << none;
    QTest::newRow("nothing downloaded") << "{in}/a.mp3" << none << none << true << none << none;
    QTest::newRow("file URL") << "file://{in}/a.mp3" << QStringList{"{in}/a.mp3"} << none << true
                              << QStringList{"{in}/a.mp3"} << none;
    QTest::newRow("in a folder below") << "{in}/sub/a.mp3" << QStringList{"{in}/sub/a.mp3"} << none << true
                                       << QStringList{"{in}/sub/a.mp3"} << none;
    QTest::newRow("link inside goes, its target stays")
        << "{in}/alias" << QStringList{"{out}/doc.odt"} << QStringList{"{in}/alias>{out}/doc.odt"} << true
        << QStringList{"{in}/alias"} << QStringList{"{out}/doc.odt"};

    QTest::newRow("outside") << "{out}/doc.odt" << QStringList{"{out}/doc.odt", "{out}/doc.odt.part"} << none
                             << false << none << QStringList{"{out}/doc.odt", "{out}/doc.odt.part"};
    QTest::newRow("climbing out") << "{in}/../../../outside/doc.odt" << QStringList{"{out}/doc.odt"} << none
                                  << false << none << QStringList{"{out}/doc.odt"};
    QTest::newRow("through a linked folder")
        << "{in}/door/doc.odt" << QStringList{"{out}/doc.odt"} << QStringList{"{in}/door>{out}"} << false << none
        << QStringList{"{out}/doc.odt"};
    QTest::newRow("a sibling of the same prefix")
        << "{in}-old/a.mp3" << QStringList{"{in}-old/a.mp3"} << none << false << none << QStringList{"{in}-old/a.mp3"};
    QTest::newRow("the folder itself") << "{in}" << QStringList{"{in}/a.mp3"} << none << false << none
                                       << QStringList{"{in}/a.mp3"};
    QTest::newRow("relative") << "a.mp3" << QStringList{"{in}/a.mp3"} << none << false << none
                              << QStringList{"{in}/a.mp3"};
    QTest::newRow("empty") << "" << none << none << false << none << none;
}

void tst_FeedEnclosureFiles::remove()
{
    QFETCH(QString, path);
    QFETCH(QStringList, files);
    QFETCH(QStringList, links);
    QFETCH(bool, removed);
    QFETCH(QStringList, gone);
    QFETCH(QStringList, kept);

    QDir::setCurrent(_in);
    for (const QString& file : files) {
        QVERIFY(QDir().mkpath(QFileInfo(place(file)).path()));
        make(file);
    }
    for (const QString& link : links)
        QVERIFY(QFile::link(place(link.section(QLatin1Char('>'), 1)), place(link.section(QLatin1Char('>'), 0, 0))));

    QCOMPARE(FeedEnclosureFiles::remove(place(path)), removed);
    for (const QString& file : gone)
        QVERIFY2(!QFileInfo(place(file)).exists() && !QFileInfo(place(file)).isSymLink(), qPrintable(file));
    for (const QString& file : kept)
        QVERIFY2(QFileInfo::exists(place(file)), qPrintable(file));
    QVERIFY(QFileInfo(_in).isDir());
}

// A list goes file by file: one path refused costs the others nothing.
void tst_FeedEnclosureFiles::removeList()
{
    make(QStringLiteral("{in}/a.mp3"));
    make(QStringLiteral("{out}/b.mp3"));
    FeedEnclosure inside;
    inside.setLocalUrl(place(QStringLiteral("{in}/a.mp3")));
    FeedEnclosure outside;
    outside.setLocalUrl(place(QStringLiteral("{out}/b.mp3")));
    FeedEnclosureFiles::remove({outside, FeedEnclosure(), inside});
    QVERIFY(!QFile::exists(inside.localUrl()));
    QVERIFY(QFile::exists(outside.localUrl()));
}

VIRELON_TEST_MAIN(tst_FeedEnclosureFiles)
#include "tst_feedenclosurefiles.moc"
