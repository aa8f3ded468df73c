#include "domdump.h"
#include "feednamespaceplugininterface.h"
#include "loadedplugin.h"
#include "logcapture.h"
#include "testenvironment.h"

class tst_Orlimb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void convert_data();
    void convert();

private:
    LoadedPlugin _loaded{QStringLiteral(ORLIMB_LIBRARY)};
    FeedNamespacePluginInterface* _plugin = nullptr;
};

namespace {

const QString Source =
    QStringLiteral(" sourcenamespaceuri=\"http://rssnamespace.org/feedburner/ext/1.0\"");

} // namespace

void tst_Orlimb::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    _plugin = _loaded.plugin();
    QVERIFY2(_plugin, qPrintable(_loaded.errorString()));
}

void tst_Orlimb::convert_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected"); // empty: a null element
    QTest::addColumn<QStringList>("logged"); // every message after the received line

    QTest::newRow("origLink")
        << "<feedburner:origLink>http://site/post?id=1&amp;p=2</feedburner:origLink>"
        << "<link" + Source + ">\"http://site/post?id=1&p=2\"</link>"
        << QStringList{"Found origLink node"};
    QTest::newRow("origEnclosureLink")
        << "<feedburner:origEnclosureLink>http://site/a.mp3</feedburner:origEnclosureLink>"
        << "<originalenclosurelink" + Source + ">\"http://site/a.mp3\"</originalenclosurelink>"
        << QStringList{"Found origEnclosureLink node"};
    QTest::newRow("empty origLink")
        << "<feedburner:origLink/>" << "<link" + Source + ">\"\"</link>"
        << QStringList{"Found origLink node"};
    QTest::newRow("other tag of the namespace, silently")
        << "<feedburner:info uri=\"x\"/>" << QString() << QStringList();
    QTest::newRow("tag name compared exactly")
        << "<feedburner:origlink>http://site/</feedburner:origlink>" << QString() << QStringList();
    QTest::newRow("origLink of another namespace")
        << "<x:origLink>http://site/</x:origLink>" << QString()
        << QStringList{"Namespace does not match!! Returning"};
}

void tst_Orlimb::convert()
{
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QFETCH(QStringList, logged);

    QDomDocument document;
    const QDomElement element = DomDump::itemChild(document, source);
    QVERIFY(!element.isNull());
    LogCapture log;
    const QDomElement output = _plugin->convertNode(element);
    QCOMPARE(DomDump::dump(output), expected);
    QCOMPARE(output.isNull(), expected.isEmpty());
    const QStringList messages = log.messages();
    QVERIFY(!messages.isEmpty());
    QVERIFY(messages.first().startsWith(QLatin1String("****** Received tag is : ")));
    QCOMPARE(messages.mid(1), logged);
}

VIRELON_TEST_MAIN(tst_Orlimb)
#include "tst_orlimb.moc"
