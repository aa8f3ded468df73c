#include "feedbody.h"
#include "testenvironment.h"

class tst_FeedBody : public QObject
{
    Q_OBJECT

private slots:
    void depth_data();
    void depth();
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
}

// Depth is read from the bytes; what hides markup from a parser hides it from the count.
void tst_FeedBody::depth()
{
    QFETCH(QByteArray, body);
    QFETCH(int, depth);
    QCOMPARE(FeedBody(body).depth(), depth);
}

VIRELON_TEST_MAIN(tst_FeedBody)
#include "tst_feedbody.moc"
