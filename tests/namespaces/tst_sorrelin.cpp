#include "domdump.h"
#include "feednamespaceplugininterface.h"
#include "loadedplugin.h"
#include "logcapture.h"
#include "testenvironment.h"

class tst_Sorrelin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void convert_data();
    void convert();

private:
    LoadedPlugin _loaded{QStringLiteral(SORRELIN_LIBRARY)};
    FeedNamespacePluginInterface* _plugin = nullptr;
};

namespace {

const QString Source = QStringLiteral(" sourcenamespaceuri=\"http://search.yahoo.com/mrss/\"");

// The dump of an enclosure with a url and nothing else but its children.
QString enclosure(const QString& url, const QString& children = QString())
{
    const QString start = QStringLiteral("<enclosure") + Source + " url=\"" + url + '"';
    return children.isEmpty() ? start + QStringLiteral("/>")
                              : start + QLatin1Char('>') + children + QStringLiteral("</enclosure>");
}

} // namespace

void tst_Sorrelin::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    _plugin = _loaded.plugin();
    QVERIFY2(_plugin, qPrintable(_loaded.errorString()));
}

void tst_Sorrelin::convert_data()
{
    // media: is the namespace with the trailing slash, mrss: the one without, x: another.
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected"); // empty: a null element
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<QStringList>("notLogged");

    QTest::newRow("content with url only")
        << "<media:content url=\"http://h/a.mp3\"/>"
        << enclosure("http://h/a.mp3") << QStringList() << QStringList{"fileSize: "};
    QTest::newRow("content attributes kept, renamed, dropped")
        << "<mrss:content url=\"u\" type=\"audio/mpeg\" fileSize=\"1234\" isDefault=\"true\""
           " medium=\"audio\" duration=\"3\" x:size=\"9\"/>"
        << "<enclosure isDefault=\"true\" size=\"1234\"" + Source + " type=\"audio/mpeg\" url=\"u\"/>"
        << QStringList{"fileSize:  \"1234\""} << QStringList();
    QTest::newRow("content children")
        << "<media:content url=\"u\"><media:thumbnail url=\"t\" width=\"10\"/>"
           "<media:title>T</media:title><x:extra/>text<mrss:thumbnail/></media:content>"
        << enclosure("u", "<enclosurethumbnail url=\"t\"/><enclosurethumbnail/>")
        << QStringList{"content child is :  \"thumbnail\" Prefix is :  \"media\"",
                       "Unhandled namespace node :  \"extra\" Namespace :  \"urn:other\""}
        << QStringList{"Tag not found"};
    QTest::newRow("group keeps foreign children in order")
        << "<media:group><x:a k=\"1\">one<x:b>two</x:b></x:a><media:content url=\"u1\"/><x:c/>"
           "<mrss:content url=\"u2\"/><media:title>t</media:title><x:d>d</x:d></media:group>"
        << "<enclosuregroup><{urn:other}a k=\"1\">\"one\"<{urn:other}b>\"two\"</{urn:other}b>"
           "</{urn:other}a>"
               + enclosure("u1") + "<{urn:other}c/>" + enclosure("u2")
               + "<{urn:other}d>\"d\"</{urn:other}d></enclosuregroup>"
        << QStringList{"group child is :  \"content\" Prefix is :  \"mrss\"",
                       "Ignoring node :  \"a\" Namespace :  \"urn:other\"",
                       "Appending the unknown child as it is"}
        << QStringList{"Tag not found"};
    QTest::newRow("group of unqualified children")
        << "<media:group><content url=\"u\"/><!-- note --><media:content url=\"v\"/></media:group>"
        << "<enclosuregroup><content url=\"u\"/>" + enclosure("v") + "</enclosuregroup>"
        << QStringList{"Ignoring node :  \"content\" Namespace :  \"\""} << QStringList();
    QTest::newRow("nesting kept")
        << "<media:group><mrss:group><media:content url=\"u\"><media:thumbnail url=\"t\"/>"
           "<media:content url=\"inner\"/></media:content></mrss:group></media:group>"
        << "<enclosuregroup><enclosuregroup>"
               + enclosure("u", "<enclosurethumbnail url=\"t\"/>" + enclosure("inner"))
               + "</enclosuregroup></enclosuregroup>"
        << QStringList() << QStringList();
    QTest::newRow("empty group")
        << "<media:group/>" << "<enclosuregroup/>" << QStringList() << QStringList();
    QTest::newRow("thumbnail without url")
        << "<media:thumbnail width=\"5\"/>" << "<enclosurethumbnail/>" << QStringList()
        << QStringList();
    QTest::newRow("thumbnail keeps only url")
        << "<mrss:thumbnail url=\"t\" height=\"4\" time=\"1\"/>" << "<enclosurethumbnail url=\"t\"/>"
        << QStringList() << QStringList();
    QTest::newRow("media tag without a conversion")
        << "<media:title>x</media:title>" << QString() << QStringList{"Tag not found"}
        << QStringList();
    QTest::newRow("namespace spelled otherwise")
        << "<y:content xmlns:y=\"http://search.yahoo.com/mrss//\" url=\"u\"/>" << QString()
        << QStringList{"Namespace does not match!! Returning"} << QStringList{"Tag not found"};
}

void tst_Sorrelin::convert()
{
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QFETCH(QStringList, logged);
    QFETCH(QStringList, notLogged);

    QDomDocument document;
    const QDomElement element = DomDump::itemChild(document, source);
    QVERIFY(!element.isNull());
    const QString before = DomDump::dump(element);
    LogCapture log;
    const QDomElement output = _plugin->convertNode(element);
    QCOMPARE(DomDump::dump(output), expected);
    QCOMPARE(output.isNull(), expected.isEmpty());
    // The source is read, never changed: foreign children are copied, not moved.
    QCOMPARE(DomDump::dump(element), before);
    const QString messages = log.messages().join(QLatin1Char('|'));
    for (const QString& line : logged)
        QVERIFY2(log.logged(line), qPrintable(line + " not in " + messages));
    for (const QString& line : notLogged)
        QVERIFY2(!log.logged(line), qPrintable(line + " in " + messages));
}

VIRELON_TEST_MAIN(tst_Sorrelin)
#include "tst_sorrelin.moc"
