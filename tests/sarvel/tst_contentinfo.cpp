#include "contentinfo.h"
#include "testenvironment.h"

#include <QUrl>

class tst_ContentInfo : public QObject
{
    Q_OBJECT

private slots:
    void forMime_data();
    void forMime();
    void forFile_data();
    void forFile();
};

void tst_ContentInfo::forMime_data()
{
    QTest::addColumn<QString>("mime");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("icon");
    QTest::newRow("audio") << QStringLiteral("audio/mpeg") << true << QStringLiteral("audio-mpeg");
    QTest::newRow("image") << QStringLiteral("image/png") << true << QStringLiteral("image-png");
    QTest::newRow("unknown") << QStringLiteral("application/x-no-such-type") << false << QString();
    QTest::newRow("empty") << QString() << false << QString();
}

void tst_ContentInfo::forMime()
{
    QFETCH(QString, mime);
    QFETCH(bool, valid);
    QFETCH(QString, icon);
    const ContentInfo info = ContentInfo::forMime(mime);
    QCOMPARE(info.isValid(), valid);
    QCOMPARE(info.typeIcon(), icon);
    QCOMPARE(info.mimeType(), valid ? mime : QString());
}

void tst_ContentInfo::forFile_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("mime");
    QTest::newRow("jpeg not yet downloaded") << QUrl::fromLocalFile(QStringLiteral("/nonexistent/x.jpg"))
                                             << QStringLiteral("image/jpeg");
    QTest::newRow("plain name") << QUrl(QStringLiteral("x.mp3")) << QStringLiteral("audio/mpeg");
    QTest::newRow("unknown suffix") << QUrl::fromLocalFile(QStringLiteral("/nonexistent/x.qqqzz")) << QString();
}

void tst_ContentInfo::forFile()
{
    QFETCH(QUrl, url);
    QFETCH(QString, mime);
    const ContentInfo info = ContentInfo::forFile(url);
    QCOMPARE(info.isValid(), !mime.isEmpty());
    QCOMPARE(info.mimeType(), mime);
}

VIRELON_TEST_MAIN(tst_ContentInfo)
#include "tst_contentinfo.moc"
