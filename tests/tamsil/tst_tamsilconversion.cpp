#include "feeddump.h"
#include "tamsil.h"
#include "tamsilconversion.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QTextCodec>

// Golden files: each feed in feeds/ is converted and dumped, and the dump must equal the
// feed's .expected file. VIRELON_UPDATE_GOLDEN=1 rewrites the .expected files instead.
class tst_TamsilConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void golden_data();
    void golden();
    void receiverAsText_data();
    void receiverAsText();
    void queryFileName_data();
    void queryFileName();
    void requestFieldsWin();
    void missingQueryFile();
    void compiledQueryReadsEachFeed();
    void deepMarkupStaysBounded();
    void deepNestingIsRefused_data();
    void deepNestingIsRefused();

private:
    static QString contentTypeFor(const QString& fileName);
    static FeedChannel request();
};

void tst_TamsilConversion::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    qputenv("VIRELON_TAMSIL_DATA_DIR", TAMSIL_QUERY_DIR);
}

// The name tells the format, so each row is served as its server would label it.
QString tst_TamsilConversion::contentTypeFor(const QString& fileName)
{
    if (fileName.startsWith(QLatin1String("atom")))
        return QStringLiteral("application/atom+xml");
    if (fileName.startsWith(QLatin1String("rss")) || fileName.startsWith(QLatin1String("rdf")))
        return QStringLiteral("application/rss+xml; charset=utf-8");
    return QStringLiteral("text/xml");
}

FeedChannel tst_TamsilConversion::request()
{
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:uuid:request"));
    channel.setLink(QStringLiteral("http://feeds.test/subscribed"));
    channel.setType(QStringLiteral("tamsil"));
    channel.setLastModifiedTime(QStringLiteral("kept"));
    return channel;
}

void tst_TamsilConversion::golden_data()
{
    QTest::addColumn<QString>("feed");
    const QDir feeds(QStringLiteral(TAMSIL_FEEDS_DIR));
    for (const QString& name : feeds.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(name)) << feeds.absoluteFilePath(name);
}

void tst_TamsilConversion::golden()
{
    QFETCH(QString, feed);
    QFile body(feed);
    QVERIFY(body.open(QIODevice::ReadOnly));
    Tamsil tamsil;
    const bool converted = TamsilConversion::convert(tamsil, body.readAll(),
                                                     contentTypeFor(QFileInfo(feed).fileName()), request());
    const QString dump = converted ? FeedDump::channel(tamsil.channel())
                                   : QStringLiteral("conversion failed\n");
    QFile expected(feed.left(feed.size() - 4) + QStringLiteral(".expected"));
    if (qEnvironmentVariableIntValue("VIRELON_UPDATE_GOLDEN") == 1) {
        QVERIFY(expected.open(QIODevice::WriteOnly | QIODevice::Truncate));
        expected.write(dump.toUtf8());
        return;
    }
    QVERIFY2(expected.open(QIODevice::ReadOnly), qPrintable(expected.fileName()));
    const QStringList want = QString::fromUtf8(expected.readAll()).split(QLatin1Char('\n'));
    const QStringList got = dump.split(QLatin1Char('\n'));
    for (int i = 0; i < qMax(want.size(), got.size()); ++i)
        QCOMPARE(got.value(i), want.value(i));
}

void tst_TamsilConversion::receiverAsText_data()
{
    golden_data();
}

// The query's output read as events must give what the same output gives as text.
void tst_TamsilConversion::receiverAsText()
{
    QFETCH(QString, feed);
    QFile file(feed);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray body = file.readAll();
    const QString contentType = contentTypeFor(QFileInfo(feed).fileName());
    Tamsil events;
    Tamsil text;
    const bool convertedFromEvents = TamsilConversion::convert(events, body, contentType, request());
    const bool convertedFromText = TamsilConversion::convertThroughText(text, body, contentType, request());
    QCOMPARE(convertedFromEvents, convertedFromText);
    QCOMPARE(FeedDump::channel(events.channel()), FeedDump::channel(text.channel()));
}

namespace {

QByteArray encoded(const char* codec, const QString& text)
{
    return QTextCodec::codecForName(codec)->fromUnicode(text);
}

} // namespace

void tst_TamsilConversion::queryFileName_data()
{
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("queryFile");
    const QByteArray rss = "<rss><channel/></rss>";
    const QByteArray rdf = "<rdf:RDF xmlns:rdf=\"x\"><channel/></rdf:RDF>";
    const QByteArray atom = "<feed/></feed>";
    QTest::newRow("rss type with charset") << "application/rss+xml; charset=UTF-8" << rss << "rss.xql";
    QTest::newRow("rss type, rdf body") << "application/rss+xml" << rdf << "rss1_0.xql";
    QTest::newRow("rss type, unknown body") << "application/rss+xml" << QByteArray("<html/>") << "rss.xql";
    QTest::newRow("rss type, rdf only inside") << "application/rss+xml"
                                               << QByteArray("<rss><![CDATA[</rdf:RDF>]]></rss>") << "rss.xql";
    QTest::newRow("capitals fall through to the body") << "APPLICATION/RSS+XML" << atom << "atom.xql";
    QTest::newRow("atom type, rss body") << "application/atom+xml" << rss << "atom.xql";
    QTest::newRow("text/xml, both markers") << "text/xml" << QByteArray("<rss><!-- </feed> --></rss>") << "rss.xql";
    QTest::newRow("application/xml, rdf only inside")
        << "application/xml" << QByteArray("<rss><![CDATA[</rdf:RDF>]]></rss>") << "rss.xql";
    QTest::newRow("atom embedding rdf")
        << "text/xml"
        << QByteArray("<feed xmlns=\"http://www.w3.org/2005/Atom\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/"
                      "02/22-rdf-syntax-ns#\"/></feed>") << "atom.xql";
    QTest::newRow("root after the prolog")
        << "text/xml"
        << QByteArray("<?xml version=\"1.0\"?>\n<!-- <rss> </rss> --><?style href=\"a.xsl\"?>\n"
                      "<!DOCTYPE feed [ <!ELEMENT feed ANY> ]>\n<!-- <rdf:RDF/> --><feed/>") << "atom.xql";
    QTest::newRow("no type, atom body") << "" << atom << "atom.xql";
    QTest::newRow("html") << "text/html" << QByteArray("<html><body/></html>") << "";
    QTest::newRow("html mentioning rss") << "text/html" << QByteArray("<html><!-- </rss> --></html>") << "";
    QTest::newRow("broken before the root") << "text/xml" << QByteArray("<?xml version=\"1.0\"?><<rss/>") << "";
    QTest::newRow("empty body") << "text/xml" << QByteArray() << "";
    const QString declared = QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?><feed></feed>");
    QTest::newRow("utf-16 with mark") << "text/xml" << encoded("UTF-16", QStringLiteral("<feed></feed>")) << "atom.xql";
    QTest::newRow("utf-16le without mark") << "text/xml" << encoded("UTF-16LE", declared.arg("UTF-16")) << "atom.xql";
    QTest::newRow("utf-16be without mark") << "text/xml" << encoded("UTF-16BE", declared.arg("UTF-16")) << "atom.xql";
    QTest::newRow("utf-16be, no declaration") << "text/xml" << encoded("UTF-16BE", QStringLiteral("<rss/>")) << "rss.xql";
    QTest::newRow("utf-32le without mark") << "text/xml" << encoded("UTF-32LE", declared.arg("UTF-32")) << "atom.xql";
    QTest::newRow("utf-32be without mark") << "text/xml" << encoded("UTF-32BE", declared.arg("UTF-32")) << "atom.xql";
    QTest::newRow("utf-32 with mark") << "text/xml" << encoded("UTF-32", declared.arg("UTF-32")) << "atom.xql";
}

void tst_TamsilConversion::queryFileName()
{
    QFETCH(QString, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, queryFile);
    Tamsil tamsil;
    QCOMPARE(TamsilConversion::queryFile(tamsil, body, contentType), queryFile);
}

void tst_TamsilConversion::requestFieldsWin()
{
    const QByteArray body = "<rss><channel><title>Feed's own</title><link>http://elsewhere.test/</link>"
                            "<item><title>one</title></item></channel></rss>";
    Tamsil tamsil;
    FeedChannel named = request();
    named.setTitle(QStringLiteral("Chosen by the user"));
    QVERIFY(TamsilConversion::convert(tamsil, body, QStringLiteral("text/xml"), named));
    QCOMPARE(tamsil.channel().title(), named.title()); // uri, link and type: see the golden files

    QVERIFY(TamsilConversion::convert(tamsil, body, QStringLiteral("text/xml"), request()));
    QCOMPARE(tamsil.channel().title(), QStringLiteral("Feed's own"));
}

void tst_TamsilConversion::missingQueryFile()
{
    QTemporaryDir empty;
    qputenv("VIRELON_TAMSIL_DATA_DIR", QFile::encodeName(empty.path()));
    Tamsil tamsil;
    const bool converted = TamsilConversion::convert(tamsil, "<rss><channel/></rss>",
                                                     QStringLiteral("text/xml"), request());
    qputenv("VIRELON_TAMSIL_DATA_DIR", TAMSIL_QUERY_DIR);
    QVERIFY(!converted);
    QCOMPARE(tamsil.channel().uri(), request().uri());
    QCOMPARE(tamsil.channel().lastModifiedTime(), request().lastModifiedTime());
}

// The compiled query is kept between conversions; each must still read its own feed.
void tst_TamsilConversion::compiledQueryReadsEachFeed()
{
    Tamsil tamsil;
    const QByteArray atom = "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>second</title></feed>";
    const QList<QPair<QByteArray, QString>> bodies = {{"<rss><channel><title>first</title></channel></rss>", "first"},
                                                      {atom, "second"},
                                                      {"<rss><channel><title>third</title></channel></rss>", "third"}};
    for (const auto& body : bodies) {
        QVERIFY(TamsilConversion::convert(tamsil, body.first, QStringLiteral("text/xml"), request()));
        QCOMPARE(tamsil.channel().title(), body.second);
    }
    QVERIFY(!TamsilConversion::convert(tamsil, "<feed/>", QStringLiteral("application/rss+xml"), request()));
}

// Deep xhtml nesting once overflowed the stack, and indenting made the form grow with the
// square of the depth.
void tst_TamsilConversion::deepMarkupStaysBounded()
{
    const int depth = 1000;
    const QByteArray body = "<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><title>deep</title>"
                            "<content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">"
                            + QByteArray("<i>").repeated(depth) + "end" + QByteArray("</i>").repeated(depth)
                            + "</div></content></entry></feed>";
    Tamsil tamsil;
    QVERIFY(TamsilConversion::convert(tamsil, body, QStringLiteral("application/atom+xml"), request()));
    const QString description = tamsil.channel().messages().value(0).description();
    QVERIFY(description.startsWith(QLatin1String("<i><i>")));
    QVERIFY(description.contains(QLatin1String("end")));
    QVERIFY2(description.size() < 4096, qPrintable(QString::number(description.size())));
}

void tst_TamsilConversion::deepNestingIsRefused_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("rss item") << QByteArray("<rss><channel><item><description>")
                              << QByteArray("</description></item></channel></rss>");
    QTest::newRow("rss channel title") << QByteArray("<rss><channel><title>") << QByteArray("</title></channel></rss>");
    QTest::newRow("atom extension") << QByteArray("<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><x:y xmlns:x=\"urn:x\">")
                                    << QByteArray("</x:y></entry></feed>");
}

// Copying a tree this deep exhausted the stack and killed the plug-in.
void tst_TamsilConversion::deepNestingIsRefused()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const int depth = 100000;
    const QByteArray body = before + QByteArray("<i>").repeated(depth) + "end" + QByteArray("</i>").repeated(depth) + after;
    Tamsil tamsil;
    QVERIFY(!TamsilConversion::convert(tamsil, body, QStringLiteral("text/xml"), request()));
    QCOMPARE(tamsil.channel().uri(), request().uri());
}

VIRELON_TEST_MAIN(tst_TamsilConversion)
#include "tst_tamsilconversion.moc"
