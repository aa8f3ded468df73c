#include "feedfilenamegenerator.h"
#include "testenvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

class tst_FeedFilenameGenerator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void names_data();
    void names();
    void hashOverUtf8();
    void queryChangesOnlyTheHash();
    void emptyUrlIsLoggedAndStillNamed();
    void longNames_data();
    void longNames();
    void hostileUrls_data();
    void hostileUrls();

private:
    static QString hash(const QString& url);
    QString _directory;
};

QString tst_FeedFilenameGenerator::hash(const QString& url)
{
    return QString::fromLatin1(QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Md5).toHex().left(6));
}

void tst_FeedFilenameGenerator::initTestCase()
{
    qunsetenv("VIRELON_ENCLOSURE_DIR");
    _directory = QDir::homePath() + QStringLiteral("/MyDocs/.feed/enclosures/");
    QVERIFY(QDir().mkpath(_directory));
}

void tst_FeedFilenameGenerator::names_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("extension");
    const auto row = [](const char* name, const char* url, const QString& base, const char* extension) {
        QTest::newRow(name) << QString::fromUtf8(url) << base << QString::fromUtf8(extension);
    };
    row("file in a folder", "http://example.com/dir/photo.jpg", QStringLiteral("photo"), ".jpg");
    row("two dots", "http://example.com/archive.tar.gz", QStringLiteral("archive.tar"), ".gz");
    row("trailing slash", "http://example.com/dir/", QStringLiteral("dir"), "");
    row("dot before the last slash", "http://example.com/a.b/c", QStringLiteral("c"), "");
    row("hidden name", "http://example.com/.hidden", QStringLiteral(".hidden"), "");
    row("ending in a dot", "http://example.com/file.", QStringLiteral("file"), ".");
    row("root path", "http://example.com/", QStringLiteral("example.com"), "");
    row("relative with extension", "x.jpg", QStringLiteral(" "), ".jpg");
    row("relative without extension", "x", QStringLiteral(" "), "");
    row("encoded blank", "http://example.com/my%20photo.png", QStringLiteral("my photo"), ".png");
    row("cyrillic", "http://example.com/фото/Привет.jpg", QStringLiteral("Привет"), ".jpg");
    row("emoji", "http://example.com/%F0%9F%98%80.gif", QString::fromUtf8("\xF0\x9F\x98\x80"), ".gif");
}

void tst_FeedFilenameGenerator::names()
{
    QFETCH(QString, url);
    QFETCH(QString, base);
    QFETCH(QString, extension);
    const QString path = FeedFilenameGenerator().generateFileName(url);
    QCOMPARE(path, _directory + base + QLatin1Char('_') + hash(url) + extension);
    QCOMPARE(FeedFilenameGenerator().generateFileName(url), path);
}

void tst_FeedFilenameGenerator::hashOverUtf8()
{
    // Regression: characters outside Latin-1 all became "?", so these two shared one file.
    const FeedFilenameGenerator generator;
    QVERIFY(generator.generateFileName(QStringLiteral("http://example.com/a.jpg?q=日本"))
            != generator.generateFileName(QStringLiteral("http://example.com/a.jpg?q=中国")));
}

void tst_FeedFilenameGenerator::queryChangesOnlyTheHash()
{
    const FeedFilenameGenerator generator;
    const QString first = generator.generateFileName(QStringLiteral("http://example.com/a/img.png?id=1"));
    const QString second = generator.generateFileName(QStringLiteral("http://example.com/a/img.png?id=2"));
    QVERIFY(first != second);
    QCOMPARE(first.left(first.size() - 10), second.left(second.size() - 10));
    QVERIFY(first.endsWith(QLatin1String(".png")));
}

void tst_FeedFilenameGenerator::emptyUrlIsLoggedAndStillNamed()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Url is not valid! Url: \"\"$")));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("Could not parse suitable file name from : \"\"$")));
    QCOMPARE(FeedFilenameGenerator().generateFileName(QString()), _directory + QStringLiteral(" _d41d8c"));
}

void tst_FeedFilenameGenerator::longNames_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("fillsTheLimit");
    QTest::newRow("ascii") << QStringLiteral("http://example.com/") + QString(300, QLatin1Char('a')) + QStringLiteral(".png")
                           << QStringLiteral(".png") << true;
    QTest::newRow("two-byte characters") << QStringLiteral("http://example.com/") + QString(200, QChar(0xE9)) + QStringLiteral(".png")
                                         << QStringLiteral(".png") << false;
    QString emoji;
    for (int i = 0; i < 80; ++i)
        emoji += QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("four-byte characters") << QStringLiteral("http://example.com/") + emoji + QStringLiteral(".gif")
                                          << QStringLiteral(".gif") << false;
    QTest::newRow("endless extension") << QStringLiteral("http://example.com/a.") + QString(400, QLatin1Char('x'))
                                       << QString() << true;
}

void tst_FeedFilenameGenerator::longNames()
{
    QFETCH(QString, url);
    QFETCH(QString, extension);
    QFETCH(bool, fillsTheLimit);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Filename base too long, truncating to:")));
    if (extension.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Filename extension too long")));
    const QString path = FeedFilenameGenerator().generateFileName(url);
    const QString name = QFileInfo(path).fileName();
    const QByteArray bytes = QFile::encodeName(name);
    // Counted in the file system's unit, and never half a character.
    QVERIFY2(bytes.size() <= 255, bytes);
    QCOMPARE(QString::fromUtf8(bytes), name);
    if (fillsTheLimit)
        QCOMPARE(bytes.size(), 255);
    else
        QVERIFY(bytes.size() > 250);
    QVERIFY(name.endsWith(extension));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    file.remove();
}

void tst_FeedFilenameGenerator::hostileUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("base");
    QTest::newRow("dot segments") << QStringLiteral("http://example.com/../../../etc/passwd") << QStringLiteral("passwd");
    QTest::newRow("encoded slashes") << QStringLiteral("http://example.com/..%2F..%2F..%2Fetc%2Fpasswd") << QStringLiteral("passwd");
    QTest::newRow("only dots") << QStringLiteral("http://example.com/..") << QStringLiteral(".");
    QTest::newRow("nul") << QStringLiteral("http://example.com/a%00b.jpg") << QStringLiteral("a_b");
    QTest::newRow("c1 control") << QStringLiteral("http://example.com/a%C2%85b.png") << QStringLiteral("a_b");
}

void tst_FeedFilenameGenerator::hostileUrls()
{
    QFETCH(QString, url);
    QFETCH(QString, base);
    const QString path = FeedFilenameGenerator().generateFileName(url);
    const QFileInfo info(path);
    QVERIFY2(info.fileName().startsWith(base + QLatin1Char('_') + hash(url)), qPrintable(path));
    QCOMPARE(info.absolutePath() + QLatin1Char('/'), _directory);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    file.remove();
}

VIRELON_TEST_MAIN(tst_FeedFilenameGenerator)
#include "tst_feedfilenamegenerator.moc"
