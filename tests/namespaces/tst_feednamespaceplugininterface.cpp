#include "domdump.h"
#include "feednamespaceplugininterface.h"
#include "loadedplugin.h"
#include "logcapture.h"
#include "testenvironment.h"

#include <QRegularExpression>
#include <memory>

// What the outside loader relies on, checked alike for the three libraries.
class tst_FeedNamespacePluginInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pluginObject_data() { libraries(); }
    void pluginObject();
    void foreignNamespaceGivesNull_data() { libraries(); }
    void foreignNamespaceGivesNull();
    void logLinesNameTheUnit_data() { libraries(); }
    void logLinesNameTheUnit();
    void outputOutlivesSourceAndPluginObject_data() { libraries(); }
    void outputOutlivesSourceAndPluginObject();
    void freshLibraryConvertsAtOnce_data() { libraries(); }
    void freshLibraryConvertsAtOnce();

private:
    void libraries();
};

namespace {

const char* const InterfaceId = "com.vorlane.feednamespaceplugininterface/1.0";

} // namespace

void tst_FeedNamespacePluginInterface::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
}

void tst_FeedNamespacePluginInterface::libraries()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QStringList>("uris");
    // An element the library converts, and the dump of what it makes of it.
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("converted");

    QTest::newRow("sorrelin")
        << SORRELIN_LIBRARY << "Sorrelin" << "sorrelin"
        << QStringList{"http://search.yahoo.com/mrss", "http://search.yahoo.com/mrss/"}
        << "<mrss:content url=\"http://h/a.ogg\"/>"
        << "<enclosure sourcenamespaceuri=\"http://search.yahoo.com/mrss/\" url=\"http://h/a.ogg\"/>";
    QTest::newRow("quenbry")
        << QUENBRY_LIBRARY << "Quenbry" << "quenbry"
        << QStringList{"http://purl.org/dc/elements/1.1/", "http://purl.org/rss/1.0/modules/content/"}
        << "<dc:date>2026-12-08</dc:date>"
        << "<pubDate sourcenamespaceuri=\"http://purl.org/dc/elements/1.1/\">\"2026-12-08\"</pubDate>";
    QTest::newRow("orlimb")
        << ORLIMB_LIBRARY << "Orlimb" << "orlimb"
        << QStringList{"http://rssnamespace.org/feedburner/ext/1.0"}
        << "<feedburner:origLink>http://h/post</feedburner:origLink>"
        << "<link sourcenamespaceuri=\"http://rssnamespace.org/feedburner/ext/1.0\">\"http://h/post\"</link>";
}

void tst_FeedNamespacePluginInterface::pluginObject()
{
    QFETCH(QString, path);
    QFETCH(QString, className);
    QFETCH(QStringList, uris);
    const QJsonObject metaData = QPluginLoader(path).metaData();
    QCOMPARE(metaData.value(QStringLiteral("IID")).toString(), QString::fromLatin1(InterfaceId));
    QCOMPARE(metaData.value(QStringLiteral("className")).toString(), className);

    LoadedPlugin loaded(path);
    QObject* object = loaded.object();
    QVERIFY2(object, qPrintable(loaded.errorString()));
    QVERIFY(!object->parent());
    QCOMPARE(loaded.object(), object);
    LoadedPlugin again(path);
    QCOMPARE(again.object(), object);

    void* const interfacePart = qobject_cast<FeedNamespacePluginInterface*>(object);
    QVERIFY(interfacePart);
    QCOMPARE(QString::fromLatin1(object->metaObject()->className()), className);
    QCOMPARE(object->qt_metacast(className.toLatin1().constData()), static_cast<void*>(object));
    QCOMPARE(object->qt_metacast("FeedNamespacePluginInterface"), interfacePart);
    QCOMPARE(object->qt_metacast(InterfaceId), interfacePart);
    QCOMPARE(object->qt_metacast("QObject"), static_cast<void*>(object));
    QCOMPARE(object->qt_metacast("FeedPluginInterface"), nullptr);
    QCOMPARE(loaded.plugin()->supportedURIList(), uris);

    // Deleted by its user, the object is made anew on the next request.
    delete object;
    QVERIFY(loaded.plugin());
    QCOMPARE(loaded.plugin()->supportedURIList(), uris);
}

void tst_FeedNamespacePluginInterface::foreignNamespaceGivesNull()
{
    QFETCH(QString, path);
    QFETCH(QString, sample);
    LoadedPlugin loaded(path);
    FeedNamespacePluginInterface* plugin = loaded.plugin();
    QVERIFY2(plugin, qPrintable(loaded.errorString()));
    // The same tag name in another namespace, in none, and no element at all.
    const QRegularExpression prefix(QStringLiteral("(</?)\\w+:"));
    QDomDocument foreign;
    QDomDocument unqualified;
    const QList<QDomElement> elements = {
        DomDump::itemChild(foreign, QString(sample).replace(prefix, QStringLiteral("\\1x:"))),
        DomDump::itemChild(unqualified, QString(sample).replace(prefix, QStringLiteral("\\1"))),
        QDomElement()};
    QVERIFY(!elements.at(0).isNull() && !elements.at(1).isNull());
    for (const QDomElement& element : elements) {
        LogCapture log;
        QVERIFY(plugin->convertNode(element).isNull());
        QCOMPARE(log.messages().last(), QStringLiteral("Namespace does not match!! Returning"));
    }
}

void tst_FeedNamespacePluginInterface::logLinesNameTheUnit()
{
    QFETCH(QString, path);
    QFETCH(QString, unit);
    QFETCH(QString, sample);
    LoadedPlugin loaded(path);
    FeedNamespacePluginInterface* plugin = loaded.plugin();
    QVERIFY2(plugin, qPrintable(loaded.errorString()));
    QDomDocument document;
    const QDomElement element = DomDump::itemChild(document, sample);
    LogCapture log;
    plugin->convertNode(element);
    const QList<LogCapture::Line> lines = log.lines();
    QVERIFY(!lines.isEmpty());
    for (const LogCapture::Line& line : lines) {
        QCOMPARE(line.category, QStringLiteral("Plugin"));
        QCOMPARE(line.source, unit);
    }
    const QString received = QStringLiteral("****** Received tag is :  \"%1\"   Parent is :  \"item\" "
                                            "Namespace URI :  \"%2\"")
                                 .arg(element.localName(), element.namespaceURI());
    QVERIFY2(log.messages().contains(received), qPrintable(log.messages().join(QLatin1Char('|'))));
}

// Regression: outputs were made in a document local to the conversion, so using one (its
// owner document, inserting it) read freed memory.
void tst_FeedNamespacePluginInterface::outputOutlivesSourceAndPluginObject()
{
    QFETCH(QString, path);
    QFETCH(QString, sample);
    QFETCH(QString, converted);
    LoadedPlugin loaded(path);
    FeedNamespacePluginInterface* plugin = loaded.plugin();
    QVERIFY(plugin);
    auto document = std::make_unique<QDomDocument>();
    QDomElement output = plugin->convertNode(DomDump::itemChild(*document, sample));
    document.reset();
    delete loaded.object();

    QVERIFY(output.parentNode().isNull());
    QVERIFY(!output.ownerDocument().isNull());
    QCOMPARE(DomDump::dump(output), converted);
    QDomDocument target;
    QDomElement item = target.createElement(QStringLiteral("item"));
    target.appendChild(item);
    item.appendChild(target.importNode(output, true));
    item.appendChild(output);
    QCOMPARE(DomDump::dump(target.documentElement()), "<item>" + converted + converted + "</item>");
    QCOMPARE(output.ownerDocument(), target);
}

void tst_FeedNamespacePluginInterface::freshLibraryConvertsAtOnce()
{
    QFETCH(QString, path);
    QFETCH(QString, sample);
    QFETCH(QString, converted);
    {
        LoadedPlugin earlier(path);
        QVERIFY(earlier.plugin());
        QVERIFY(earlier.unload());
    }
    // Without being asked for its namespaces first.
    LoadedPlugin loaded(path);
    FeedNamespacePluginInterface* plugin = loaded.plugin();
    QVERIFY2(plugin, qPrintable(loaded.errorString()));
    QDomDocument document;
    QCOMPARE(DomDump::dump(plugin->convertNode(DomDump::itemChild(document, sample))), converted);
}

VIRELON_TEST_MAIN(tst_FeedNamespacePluginInterface)
#include "tst_feednamespaceplugininterface.moc"
