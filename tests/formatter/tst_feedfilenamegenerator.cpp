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
    void emptyUrlIsLoggedAndStillNamed();
    void longNames_data();
    void longNames();

private:
    QString _directory;
};

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
    const auto row = [](const char* name, const char* url, const char* base, const char* extension) {
        QTest::newRow(name) << QString::fromUtf8(url) << QString::fromUtf8(base) << QString::fromUtf8(extension);
    };
    row("file in a folder", "http://example.com/dir/photo.jpg?id=1", "photo", ".jpg");
    row("two dots", "http://example.com/archive.tar.gz", "archive.tar", ".gz");
    row("trailing slash", "http://example.com/dir/", "dir", "");
    row("dot before the last slash", "http://example.com/a.b/c", "c", "");
    row("hidden name", "http://example.com/.hidden", ".hidden", "");
    row("ending in a dot", "http://example.com/file.", "file", ".");
    row("root path", "http://example.com/", "example.com", "");
    row("relative", "x.jpg", " ", ".jpg");
    row("encoded blank", "http://example.com/my%20photo.png", "my photo", ".png");
    // The hash is over UTF-8: outside Latin-1 every character once hashed as "?".
    row("cyrillic", "http://example.com/фото/Привет.jpg?q=日本", "Привет", ".jpg");
    row("emoji", "http://example.com/%F0%9F%98%80.gif", "\xF0\x9F\x98\x80", ".gif");
    row("dot segments", "http://example.com/../../../etc/passwd", "passwd", "");
    row("encoded slashes", "http://example.com/..%2F..%2F..%2Fetc%2Fpasswd", "passwd", "");
    row("only dots", "http://example.com/..", ".", ".");
    row("nul", "http://example.com/a%00b.jpg", "a_b", ".jpg");
    row("c1 control", "http://example.com/a%C2%85b.png", "a_b", ".png");
}

void tst_FeedFilenameGenerator::names()
{
    QFETCH(QString, url);
    QFETCH(QString, base);
    QFETCH(QString, extension);
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Md5).toHex().left(6));
    const QString path = FeedFilenameGenerator().generateFileName(url);
    QCOMPARE(path, _directory + base + QLatin1Char('_') + hash + extension);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    file.remove();
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
    const QString site = QStringLiteral("http://example.com/");
    QTest::newRow("ascii") << site + QString(300, QLatin1Char('a')) + ".png" << ".png" << true;
    QTest::newRow("two-byte characters") << site + QString(200, QChar(0xE9)) + ".png" << ".png" << false;
    QTest::newRow("four-byte characters") << site + QString::fromUtf8("\xF0\x9F\x98\x80").repeated(80) + ".gif"
                                          << ".gif" << false;
    QTest::newRow("endless extension") << site + "a." + QString(400, QLatin1Char('x')) << "" << true;
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
    QCOMPARE(QString::fromUtf8(bytes), name);
    QVERIFY2(fillsTheLimit ? bytes.size() == 250 : bytes.size() > 245 && bytes.size() <= 250, bytes);
    QVERIFY(name.endsWith(extension));
    // Fault guarded: a name of 255 bytes left no room for the download's ".part" name.
    QFile file(path + ".part");
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    file.remove();
}

VIRELON_TEST_MAIN(tst_FeedFilenameGenerator)
#include "tst_feedfilenamegenerator.moc"
