#include "feednamespaceplugininterface.h"
#include "testenvironment.h"

#include <QDomDocument>
#include <QPluginLoader>
#include <algorithm>
#include <memory>

// The three namespace libraries, loaded as the outside loader loads them.
class tst_FeedNamespacePluginInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pluginObject_data() { libraries(); }
    void pluginObject();
    void outputOutlivesSourceAndPluginObject_data() { libraries(); }
    void outputOutlivesSourceAndPluginObject();
    void convert_data();
    void convert();

private:
    void libraries();
};

namespace {

const QString Mrss = QStringLiteral(" sourcenamespaceuri=\"http://search.yahoo.com/mrss/\"");
const QString DublinCore = QStringLiteral(" sourcenamespaceuri=\"http://purl.org/dc/elements/1.1/\"");
const QString Content = QStringLiteral(" sourcenamespaceuri=\"http://purl.org/rss/1.0/modules/content/\"");
const QString FeedProxy = QStringLiteral(" sourcenamespaceuri=\"http://rssnamespace.org/feedburner/ext/1.0\"");

// Without the pinning QPluginLoader does by default, as an outside loader may; unloaded at the
// end, so that a later load starts from a fresh library.
struct Library
{
    explicit Library(const QString& path)
        : loader(path)
    {
        loader.setLoadHints(QLibrary::LoadHints());
    }
    ~Library() { loader.unload(); }
    FeedNamespacePluginInterface* plugin() { return qobject_cast<FeedNamespacePluginInterface*>(loader.instance()); }

    QPluginLoader loader;
};

// Log lines split into category, source, line, signature, function and message.
QList<QStringList> logged;

void capture(QtMsgType, const QMessageLogContext&, const QString& text)
{
    logged << text.split(QLatin1Char('\n'));
}

// A stable text of a node and everything below it: attributes sorted, namespaced elements as
// {uri}name, text quoted (an empty one shows as ""), CDATA as [[...]].
QString dump(const QDomNode& node)
{
    if (node.isCDATASection())
        return QLatin1String("[[") + node.nodeValue() + QLatin1String("]]");
    if (node.isText())
        return QLatin1Char('"') + node.nodeValue() + QLatin1Char('"');
    if (!node.isElement())
        return QString();
    const QDomElement element = node.toElement();
    QString name = element.tagName();
    if (!element.namespaceURI().isEmpty())
        name = QLatin1Char('{') + element.namespaceURI() + QLatin1Char('}') + element.localName();
    QMap<QString, QString> sorted;
    for (int i = 0; i < element.attributes().count(); ++i)
        sorted.insert(element.attributes().item(i).nodeName(), element.attributes().item(i).nodeValue());
    QString start = QLatin1Char('<') + name;
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it)
        start += QLatin1Char(' ') + it.key() + QLatin1String("=\"") + it.value() + QLatin1Char('"');
    QString children;
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling())
        children += dump(child);
    if (children.isEmpty())
        return start + QLatin1String("/>");
    return start + QLatin1Char('>') + children + QLatin1String("</") + name + QLatin1Char('>');
}

// The first element of an <item> declaring the test prefixes, read with namespace processing as
// the loader reads feeds: media: and mrss: are the two Media RSS spellings, x: another namespace.
QDomElement itemChild(QDomDocument& document, const QString& body)
{
    const QString xml = QLatin1String("<item xmlns:media=\"http://search.yahoo.com/mrss/\""
                                      " xmlns:mrss=\"http://search.yahoo.com/mrss\""
                                      " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
                                      " xmlns:content=\"http://purl.org/rss/1.0/modules/content/\""
                                      " xmlns:feedburner=\"http://rssnamespace.org/feedburner/ext/1.0\""
                                      " xmlns:x=\"urn:other\">")
        + body + QLatin1String("</item>");
    document.setContent(xml, true);
    return document.documentElement().firstChildElement();
}

QString enclosure(const QString& url, const QString& children = QString())
{
    const QString start = QStringLiteral("<enclosure") + Mrss + " url=\"" + url + '"';
    return children.isEmpty() ? start + QStringLiteral("/>") : start + '>' + children + "</enclosure>";
}

} // namespace

void tst_FeedNamespacePluginInterface::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
}

void tst_FeedNamespacePluginInterface::libraries()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QStringList>("uris");
    // An element the library converts, and what it makes of it.
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("converted");

    QTest::newRow("sorrelin") << SORRELIN_LIBRARY << "Sorrelin"
                              << QStringList{"http://search.yahoo.com/mrss", "http://search.yahoo.com/mrss/"}
                              << "<mrss:content url=\"http://h/a.ogg\"/>" << enclosure("http://h/a.ogg");
    QTest::newRow("quenbry") << QUENBRY_LIBRARY << "Quenbry"
                             << QStringList{"http://purl.org/dc/elements/1.1/",
                                            "http://purl.org/rss/1.0/modules/content/"}
                             << "<dc:date>2026-12-08</dc:date>"
                             << "<pubDate" + DublinCore + ">\"2026-12-08\"</pubDate>";
    QTest::newRow("orlimb") << ORLIMB_LIBRARY << "Orlimb"
                            << QStringList{"http://rssnamespace.org/feedburner/ext/1.0"}
                            << "<feedburner:origLink>http://h/post</feedburner:origLink>"
                            << "<link" + FeedProxy + ">\"http://h/post\"</link>";
}

void tst_FeedNamespacePluginInterface::pluginObject()
{
    QFETCH(QString, path);
    QFETCH(QString, className);
    QFETCH(QStringList, uris);
    const QJsonObject metaData = QPluginLoader(path).metaData();
    QCOMPARE(metaData.value(QStringLiteral("IID")).toString(), QStringLiteral(FeedNamespacePluginInterface_iid));
    QCOMPARE(metaData.value(QStringLiteral("className")).toString(), className);

    // One parentless object per library, made anew once its user deleted it.
    Library loaded(path);
    QObject* object = loaded.loader.instance();
    QVERIFY2(loaded.plugin(), qPrintable(loaded.loader.errorString()));
    QVERIFY(!object->parent());
    QCOMPARE(Library(path).loader.instance(), object);
    QCOMPARE(loaded.plugin()->supportedURIList(), uris);
    QVERIFY(loaded.plugin()->convertNode(QDomElement()).isNull());
    delete object;
    QVERIFY(loaded.plugin());
    QCOMPARE(loaded.plugin()->supportedURIList(), uris);
}

// Regression: outputs were made in a document local to the conversion, so using one (its owner
// document, inserting it) read freed memory. A fresh library converts at once, without being
// asked for its namespaces first.
void tst_FeedNamespacePluginInterface::outputOutlivesSourceAndPluginObject()
{
    QFETCH(QString, path);
    QFETCH(QString, sample);
    QFETCH(QString, converted);
    {
        Library earlier(path);
        QVERIFY(earlier.plugin());
        QVERIFY(earlier.loader.unload());
    }
    Library loaded(path);
    QVERIFY2(loaded.plugin(), qPrintable(loaded.loader.errorString()));
    auto document = std::make_unique<QDomDocument>();
    QDomElement output = loaded.plugin()->convertNode(itemChild(*document, sample));
    document.reset();
    delete loaded.loader.instance();

    QVERIFY(output.parentNode().isNull());
    QVERIFY(!output.ownerDocument().isNull());
    QCOMPARE(dump(output), converted);
    QDomDocument target;
    QDomElement item = target.createElement(QStringLiteral("item"));
    target.appendChild(item);
    item.appendChild(target.importNode(output, true));
    item.appendChild(output);
    QCOMPARE(dump(target.documentElement()), "<item>" + converted + converted + "</item>");
    QCOMPARE(output.ownerDocument(), target);
}

void tst_FeedNamespacePluginInterface::convert_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected"); // empty: a null element
    QTest::addColumn<QStringList>("logged"); // beginnings of messages that must be there
    const auto sorrelin = [](const char* name, const QString& source, const QString& expected,
                             const QStringList& logged = QStringList()) {
        QTest::newRow(name) << SORRELIN_LIBRARY << "sorrelin" << source << expected << logged;
    };
    const auto quenbry = [](const char* name, const QString& source, const QString& expected, const QString& logged) {
        QTest::newRow(name) << QUENBRY_LIBRARY << "quenbry" << source << expected << QStringList{logged};
    };
    const auto orlimb = [](const char* name, const QString& source, const QString& expected,
                           const QStringList& logged = QStringList()) {
        QTest::newRow(name) << ORLIMB_LIBRARY << "orlimb" << source << expected << logged;
    };

    sorrelin("content attributes kept, renamed, dropped",
             "<mrss:content url=\"u\" type=\"audio/mpeg\" fileSize=\"1234\" isDefault=\"true\""
             " medium=\"audio\" duration=\"3\" x:size=\"9\"/>",
             "<enclosure isDefault=\"true\" size=\"1234\"" + Mrss + " type=\"audio/mpeg\" url=\"u\"/>",
             {"fileSize:  \"1234\""});
    sorrelin("content children",
             "<media:content url=\"u\"><media:thumbnail url=\"t\" width=\"10\"/>"
             "<media:title>T</media:title><x:extra/>text<mrss:thumbnail/></media:content>",
             enclosure("u", "<enclosurethumbnail url=\"t\"/><enclosurethumbnail/>"),
             {"content child is :  \"thumbnail\" Prefix is :  \"media\"",
              "Unhandled namespace node :  \"extra\" Namespace :  \"urn:other\""});
    // Regression: foreign children were moved out of the source, ending the loop over them early.
    sorrelin("group keeps foreign children in order",
             "<media:group><x:a k=\"1\">one<x:b>two</x:b></x:a><media:content url=\"u1\"/><x:c/>"
             "<mrss:content url=\"u2\"/><media:title>t</media:title><x:d>d</x:d></media:group>",
             "<enclosuregroup><{urn:other}a k=\"1\">\"one\"<{urn:other}b>\"two\"</{urn:other}b></{urn:other}a>"
                 + enclosure("u1") + "<{urn:other}c/>" + enclosure("u2")
                 + "<{urn:other}d>\"d\"</{urn:other}d></enclosuregroup>",
             {"group child is :  \"content\" Prefix is :  \"mrss\"", "Ignoring node :  \"a\" Namespace :  \"urn:other\"",
              "Appending the unknown child as it is"});
    sorrelin("group of unqualified children",
             "<media:group><content url=\"u\"/><!-- note --><media:content url=\"v\"/></media:group>",
             "<enclosuregroup><content url=\"u\"/>" + enclosure("v") + "</enclosuregroup>",
             {"Ignoring node :  \"content\" Namespace :  \"\""});
    sorrelin("nesting kept",
             "<media:group><mrss:group><media:content url=\"u\"><media:thumbnail url=\"t\"/>"
             "<media:content url=\"inner\"/></media:content></mrss:group></media:group>",
             "<enclosuregroup><enclosuregroup>"
                 + enclosure("u", "<enclosurethumbnail url=\"t\"/>" + enclosure("inner"))
                 + "</enclosuregroup></enclosuregroup>");
    sorrelin("thumbnail keeps only url", "<mrss:thumbnail url=\"t\" height=\"4\" time=\"1\"/>",
             "<enclosurethumbnail url=\"t\"/>");
    sorrelin("media tag without a conversion", "<media:title>x</media:title>", QString(), {"Tag not found"});
    sorrelin("namespace spelled otherwise", "<y:content xmlns:y=\"http://search.yahoo.com/mrss//\" url=\"u\"/>",
             QString(), {"Namespace does not match!! Returning"});

    quenbry("date text unchanged", "<dc:date>2026-12-08T21:40:37+01:00</dc:date>",
            "<pubDate" + DublinCore + ">\"2026-12-08T21:40:37+01:00\"</pubDate>", "Found date node");
    quenbry("empty date gives one empty text", "<dc:date/>", "<pubDate" + DublinCore + ">\"\"</pubDate>",
            "Found date node");
    quenbry("description text of all descendants", "<dc:description>a<x:b>b<x:c>c</x:c></x:b>d</dc:description>",
            "<description" + DublinCore + ">\"abcd\"</description>", "Found description node");
    // CDATA and escaped markup alike become one text node, written out escaped.
    quenbry("encoded escaped and CDATA", "<content:encoded>&lt;b&gt;x&lt;/b&gt;<![CDATA[<i>y</i>]]></content:encoded>",
            "<description" + Content + ">\"<b>x</b><i>y</i>\"</description>", "Found description node");
    quenbry("date in the content namespace", "<content:date>2026</content:date>", QString(), "Tag not handled");
    quenbry("encoded in the Dublin Core namespace", "<dc:encoded>e</dc:encoded>", QString(), "Tag not handled");
    quenbry("date in no namespace", "<date>2026</date>", QString(), "Namespace does not match!! Returning");
    quenbry("Dublin Core without the trailing slash", "<d:date xmlns:d=\"http://purl.org/dc/elements/1.1\">2026</d:date>",
            QString(), "Namespace does not match!! Returning");

    orlimb("origLink", "<feedburner:origLink>http://site/post?id=1&amp;p=2</feedburner:origLink>",
           "<link" + FeedProxy + ">\"http://site/post?id=1&p=2\"</link>", {"Found origLink node"});
    orlimb("origEnclosureLink", "<feedburner:origEnclosureLink>http://site/a.mp3</feedburner:origEnclosureLink>",
           "<originalenclosurelink" + FeedProxy + ">\"http://site/a.mp3\"</originalenclosurelink>",
           {"Found origEnclosureLink node"});
    orlimb("other tag of the namespace", "<feedburner:info uri=\"x\"/>", QString());
    orlimb("tag name compared exactly", "<feedburner:origlink>http://site/</feedburner:origlink>", QString());
    orlimb("origLink of another namespace", "<x:origLink>http://site/</x:origLink>", QString(),
           {"Namespace does not match!! Returning"});
}

void tst_FeedNamespacePluginInterface::convert()
{
    QFETCH(QString, path);
    QFETCH(QString, unit);
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QFETCH(QStringList, logged);

    Library loaded(path);
    QVERIFY2(loaded.plugin(), qPrintable(loaded.loader.errorString()));
    QDomDocument document;
    const QDomElement element = itemChild(document, source);
    QVERIFY(!element.isNull());
    const QString before = dump(element);
    ::logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    const QDomElement output = loaded.plugin()->convertNode(element);
    qInstallMessageHandler(previous);
    QCOMPARE(dump(output), expected);
    QCOMPARE(output.isNull(), expected.isEmpty());
    // The source is read, never changed: foreign children are copied, not moved.
    QCOMPARE(dump(element), before);

    QStringList messages;
    for (const QStringList& line : qAsConst(::logged)) {
        QCOMPARE(line.mid(0, 2), (QStringList{QStringLiteral("Plugin"), unit}));
        messages << line.mid(5).join(QLatin1Char('\n'));
    }
    QCOMPARE(messages.value(0), QStringLiteral("****** Received tag is :  \"%1\"   Parent is :  \"item\" "
                                               "Namespace URI :  \"%2\"")
                                    .arg(element.localName(), element.namespaceURI()));
    for (const QString& start : logged) {
        const bool found = std::any_of(messages.cbegin(), messages.cend(),
                                       [&start](const QString& message) { return message.startsWith(start); });
        QVERIFY2(found, qPrintable(start + QStringLiteral(" not in ") + messages.join(QLatin1Char('|'))));
    }
}

VIRELON_TEST_MAIN(tst_FeedNamespacePluginInterface)
#include "tst_feednamespaceplugininterface.moc"
