#include "feedbody.h"
#include "testenvironment.h"

#include <QTextCodec>

class tst_FeedBody : public QObject
{
    Q_OBJECT

private slots:
    void depth_data();
    void depth();
    void forQuery_data();
    void forQuery();
};

void tst_FeedBody::depth_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("depth");
    QTest::newRow("flat") << QByteArray("<rss/>") << 1;
    QTest::newRow("nested, with a self-closing child") << QByteArray("<a><b><c/></b><b>t</b></a>") << 3;
    QTest::newRow("markup in character data")
        << QByteArray("<a><d><![CDATA[<p><br><img src=x>]]></d><d><![CDATA[<i>]]></d></a>") << 2;
    QTest::newRow("markup in a comment") << QByteArray("<a><!-- <b><c><d> --></a>") << 1;
    QTest::newRow("brackets in quotes") << QByteArray("<a t=\"x/>y\" u='>'><b s=\"<c>\">t</b></a>") << 2;
    QTest::newRow("processing instruction and prolog")
        << QByteArray("<?xml version=\"1.0\"?><?pi <x> ?><!DOCTYPE a [ <!ELEMENT a ANY> ]><a><b/></a>") << 2;
    QTest::newRow("cut off") << QByteArray("<a><b><c") << 2;
    QTest::newRow("unclosed comment") << QByteArray("<a><!-- <b>") << 1;
    QTest::newRow("utf-16 with mark") << QTextCodec::codecForName("UTF-16")->fromUnicode(
                                             QStringLiteral("<a><b/></a><c></c>").repeated(10)) << 2;
}

// Depth is read from the bytes; what hides markup from a parser hides it from the count.
void tst_FeedBody::depth()
{
    QFETCH(QByteArray, body);
    QFETCH(int, depth);
    QCOMPARE(FeedBody(body).depth(), depth);
}

void tst_FeedBody::forQuery_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("utf8");
    const QString text = QStringLiteral("<rss>\u041d\u043e\u0432\u043e\u0441\u0442\u0438 \u201cq\u201d</rss>");
    const QString declared = QStringLiteral("<?xml version='1.0' encoding='%1'?>") + text;
    const QByteArray inUtf8 = declared.arg(QStringLiteral("UTF-8")).toUtf8();
    QTest::newRow("utf-8 as it is") << inUtf8 << inUtf8;
    QTest::newRow("no declaration") << text.toUtf8() << text.toUtf8();
    QTest::newRow("windows-1251") << QTextCodec::codecForName("windows-1251")->fromUnicode(declared.arg("windows-1251"))
                                  << inUtf8;
    QTest::newRow("utf-16 with mark") << QTextCodec::codecForName("UTF-16")->fromUnicode(declared.arg("UTF-16"))
                                      << inUtf8;
    QTest::newRow("utf-32le without mark")
        << QTextCodec::codecForName("UTF-32LE")->fromUnicode(declared.arg("UTF-32")) << inUtf8;
    const QByteArray latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rss>\x93\xe9\x94</rss>";
    QTest::newRow("latin-1 holding windows-1252")
        << latin1 << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss>\u201c\u00e9\u201d</rss>");
    const QByteArray ascii = "<?xml version=\"1.0\" encoding=\"us-ascii\"?><rss>plain</rss>";
    QTest::newRow("ascii as it is") << ascii << ascii;
    const QByteArray unknown = "<?xml version=\"1.0\" encoding=\"x-no-such\"?><rss>\xff</rss>";
    QTest::newRow("unknown encoding left to the engine") << unknown << unknown;
    const QByteArray belied = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><rss/>";
    QTest::newRow("wide name, narrow bytes") << belied << belied;
    QTest::newRow("blank lines before the declaration")
        << QByteArray("\r\n \t\n") + QTextCodec::codecForName("windows-1251")->fromUnicode(declared.arg("windows-1251"))
        << inUtf8;
    QTest::newRow("blanks after a mark") << QByteArray("\xef\xbb\xbf\n") + inUtf8 << QByteArray("\xef\xbb\xbf") + inUtf8;
    const QByteArray blankBeforeRoot = "\n\n" + text.toUtf8();
    QTest::newRow("blanks before a root, no declaration") << blankBeforeRoot << blankBeforeRoot;
}

// What the query reads is UTF-8, whatever the feed was written in.
void tst_FeedBody::forQuery()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, utf8);
    QCOMPARE(FeedBody(body).forQuery(), utf8);
}

VIRELON_TEST_MAIN(tst_FeedBody)
#include "tst_feedbody.moc"
