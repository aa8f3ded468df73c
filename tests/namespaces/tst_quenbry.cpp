#include "domdump.h"
#include "feednamespaceplugininterface.h"
#include "loadedplugin.h"
#include "logcapture.h"
#include "testenvironment.h"

#include <QTextStream>

class tst_Quenbry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void convert_data();
    void convert();
    void encodedMarkupStaysText();

private:
    LoadedPlugin _loaded{QStringLiteral(QUENBRY_LIBRARY)};
    FeedNamespacePluginInterface* _plugin = nullptr;
};

namespace {

const QString DublinCore = QStringLiteral(" sourcenamespaceuri=\"http://purl.org/dc/elements/1.1/\"");
const QString Content =
    QStringLiteral(" sourcenamespaceuri=\"http://purl.org/rss/1.0/modules/content/\"");

} // namespace

void tst_Quenbry::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    _plugin = _loaded.plugin();
    QVERIFY2(_plugin, qPrintable(_loaded.errorString()));
}

void tst_Quenbry::convert_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected"); // empty: a null element
    QTest::addColumn<QString>("logged");

    QTest::newRow("date text unchanged")
        << "<dc:date>2026-12-08T21:40:37+01:00</dc:date>"
        << "<pubDate" + DublinCore + ">\"2026-12-08T21:40:37+01:00\"</pubDate>" << "Found date node";
    QTest::newRow("date that is no date")
        << "<dc:date> yesterday </dc:date>" << "<pubDate" + DublinCore + ">\" yesterday \"</pubDate>"
        << "Found date node";
    QTest::newRow("empty date gives one empty text")
        << "<dc:date/>" << "<pubDate" + DublinCore + ">\"\"</pubDate>" << "Found date node";
    QTest::newRow("description text of all descendants")
        << "<dc:description>a<x:b>b<x:c>c</x:c></x:b>d</dc:description>"
        << "<description" + DublinCore + ">\"abcd\"</description>" << "Found description node";
    QTest::newRow("encoded from CDATA")
        << "<content:encoded><![CDATA[<p>Hi & bye</p>]]></content:encoded>"
        << "<description" + Content + ">\"<p>Hi & bye</p>\"</description>"
        << "Found description node";
    QTest::newRow("encoded escaped and mixed")
        << "<content:encoded>&lt;b&gt;x&lt;/b&gt;<![CDATA[<i>y</i>]]></content:encoded>"
        << "<description" + Content + ">\"<b>x</b><i>y</i>\"</description>"
        << "Found description node";
    QTest::newRow("date in the content namespace")
        << "<content:date>2026</content:date>" << QString() << "Tag not handled";
    QTest::newRow("description in the content namespace")
        << "<content:description>d</content:description>" << QString() << "Tag not handled";
    QTest::newRow("encoded in the Dublin Core namespace")
        << "<dc:encoded>e</dc:encoded>" << QString() << "Tag not handled";
    QTest::newRow("other Dublin Core tag")
        << "<dc:creator>someone</dc:creator>" << QString() << "Tag not handled";
    QTest::newRow("Dublin Core without the trailing slash")
        << "<d:date xmlns:d=\"http://purl.org/dc/elements/1.1\">2026</d:date>" << QString()
        << "Namespace does not match!! Returning";
}

void tst_Quenbry::convert()
{
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QFETCH(QString, logged);

    QDomDocument document;
    const QDomElement element = DomDump::itemChild(document, source);
    QVERIFY(!element.isNull());
    LogCapture log;
    const QDomElement output = _plugin->convertNode(element);
    QCOMPARE(DomDump::dump(output), expected);
    QCOMPARE(output.isNull(), expected.isEmpty());
    QVERIFY2(log.messages().contains(logged), qPrintable(log.messages().join(QLatin1Char('|'))));
}

void tst_Quenbry::encodedMarkupStaysText()
{
    QDomDocument document;
    const QDomElement output = _plugin->convertNode(
        DomDump::itemChild(document, "<content:encoded><![CDATA[<p>Hi</p>]]></content:encoded>"));
    QString written;
    QTextStream stream(&written);
    output.save(stream, -1);
    stream.flush();
    QVERIFY2(written.contains(QLatin1String("&lt;p>Hi&lt;/p>")), qPrintable(written));
}

VIRELON_TEST_MAIN(tst_Quenbry)
#include "tst_quenbry.moc"
