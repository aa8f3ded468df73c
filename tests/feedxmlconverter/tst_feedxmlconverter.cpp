#include "feeddate.h"
#include "feedxmlconverter.h"
#include "testenvironment.h"

class tst_FeedXmlConverter : public QObject
{
    Q_OBJECT

private slots:
    void dates_data();
    void dates();
    void directReadingAgreesWithPatterns_data();
    void directReadingAgreesWithPatterns();
    void unreadable_data();
    void unreadable();
    void enclosuresAndLinks();
    void textKinds_data();
    void textKinds();
    void choices_data();
    void choices();
    void ownEnclosuresFirst();
    void messageLinks_data();
    void messageLinks();
};

void tst_FeedXmlConverter::dates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("utc");
    const QString invalid;
    QTest::newRow("rfc822 GMT") << "Tue, 08 Dec 2026 21:40:37 GMT" << "2026-12-08T21:40:37Z";
    // Qt alone would read the named zones as UTC.
    QTest::newRow("rfc822 EST") << "Tue, 08 Dec 2026 21:40:37 EST" << "2026-12-09T02:40:37Z";
    QTest::newRow("rfc822 PDT, no seconds") << "Tue, 08 Dec 2026 01:00 PDT" << "2026-12-08T08:00:00Z";
    QTest::newRow("rfc822 MST lower case") << "8 dec 2026 12:00:00 mst" << "2026-12-08T19:00:00Z";
    QTest::newRow("rfc822 offset") << "Tue, 08 Dec 2026 21:40:37 +0530" << "2026-12-08T16:10:37Z";
    QTest::newRow("rfc822 two-digit year") << "Tue, 08 Dec 26 21:40:37 +0000" << "2026-12-08T21:40:37Z";
    QTest::newRow("rfc822 no zone") << "Tue, 08 Dec 2026 21:40:37" << "2026-12-08T21:40:37Z";
    QTest::newRow("rfc822 military letter") << "Tue, 08 Dec 2026 21:40:37 A" << "2026-12-08T21:40:37Z";
    QTest::newRow("rfc822 unknown zone") << "Tue, 08 Dec 2026 21:40:37 XYZ" << invalid;
    QTest::newRow("rfc822 bad month") << "Tue, 08 Foo 2026 21:40:37 GMT" << invalid;
    QTest::newRow("rfc822 day 31 of november") << "31 Nov 2026 10:00:00 GMT" << invalid;
    QTest::newRow("iso offset") << "2026-12-08T21:40:37-05:00" << "2026-12-09T02:40:37Z";
    QTest::newRow("iso fraction") << "2026-12-08T21:40:37.25+01:00" << "2026-12-08T20:40:37.250Z";
    QTest::newRow("iso no seconds") << "2026-12-08T21:40Z" << "2026-12-08T21:40:00Z";
    QTest::newRow("iso date only") << "2026-12-08" << "2026-12-08T00:00:00Z";
    QTest::newRow("iso month only") << "2026-12" << "2026-12-01T00:00:00Z";
    QTest::newRow("iso basic") << "20261208T214037Z" << "2026-12-08T21:40:37Z";
    QTest::newRow("iso hour offset") << "2026-12-08T21:40:37+02" << "2026-12-08T19:40:37Z";
    QTest::newRow("iso month 13") << "2026-13-08" << invalid;
    QTest::newRow("words") << "yesterday" << invalid;
    QTest::newRow("blanks") << "   " << invalid;
    QTest::newRow("rfc822 without day name") << "08 Dec 2026 21:40:37 +0100" << "2026-12-08T20:40:37Z";
    QTest::newRow("rfc822 one-digit day") << "Tue, 8 Dec 2026 21:40:37 -0330" << "2026-12-09T01:10:37Z";
    QTest::newRow("rfc822 full names") << "Tuesday, 08 December 2026 21:40:37 GMT" << "2026-12-08T21:40:37Z";
    QTest::newRow("rfc822 day 29 of a common February") << "Sun, 29 Feb 2026 10:00:00 GMT" << invalid;
    QTest::newRow("rfc822 hour 24") << "Tue, 08 Dec 2026 24:00:00 GMT" << invalid;
    QTest::newRow("iso lower-case zone") << "2026-12-08t21:40:37z" << "2026-12-08T21:40:37Z";
    QTest::newRow("iso long fraction") << "2026-12-08T21:40:37.123456Z" << "2026-12-08T21:40:37.123Z";
    QTest::newRow("iso across the year") << "2027-01-01T01:00:00+02:00" << "2026-12-31T23:00:00Z";
    QTest::newRow("iso no zone") << "2026-12-08T21:40:37" << "2026-12-08T21:40:37Z";
    QTest::newRow("iso day 0") << "2026-12-00" << invalid;
}

void tst_FeedXmlConverter::directReadingAgreesWithPatterns_data()
{
    dates_data();
}

// Common forms are read without the patterns; whatever they read, the patterns read the same.
void tst_FeedXmlConverter::directReadingAgreesWithPatterns()
{
    QFETCH(QString, text);
    const QString trimmed = text.trimmed();
    QDateTime pattern = FeedDate::parseIso8601(trimmed);
    if (!pattern.isValid())
        pattern = FeedDate::parseRfc822(trimmed);
    const QDateTime parsed = FeedDate::parse(text);
    QCOMPARE(parsed.isValid(), pattern.isValid());
    if (parsed.isValid()) {
        QCOMPARE(parsed, pattern);
        QCOMPARE(parsed.timeSpec(), pattern.timeSpec());
    }
}

void tst_FeedXmlConverter::dates()
{
    QFETCH(QString, text);
    QFETCH(QString, utc);
    const QDateTime parsed = FeedDate::parse(text);
    if (utc.isEmpty()) {
        QVERIFY2(!parsed.isValid(), qPrintable(parsed.toString(Qt::ISODate)));
        return;
    }
    QCOMPARE(parsed.timeSpec(), Qt::UTC);
    QCOMPARE(parsed, QDateTime::fromString(utc, Qt::ISODateWithMs));
}

void tst_FeedXmlConverter::unreadable_data()
{
    QTest::addColumn<QString>("form");
    QTest::newRow("empty") << "";
    QTest::newRow("other root") << "<feed><title>x</title></feed>";
    QTest::newRow("cut off") << "<channel><title>x</title><item>";
    QTest::newRow("two roots") << "<channel/><channel/>";
}

// An unreadable form is a failure, never an empty channel passed off as a result.
void tst_FeedXmlConverter::unreadable()
{
    QFETCH(QString, form);
    FeedXmlConverter converter;
    converter.setSourceFeed(form);
    QVERIFY(!converter.isValid());
    QVERIFY(!converter.errorString().isEmpty());
    QVERIFY(converter.channel().messages().isEmpty());
    QVERIFY(converter.channel().title().isEmpty());
}

// Enclosures: duplicates and ones without a URL dropped, each group numbered; links resolved
// against the innermost base.
void tst_FeedXmlConverter::enclosuresAndLinks()
{
    FeedXmlConverter converter;
    converter.setSourceFeed(QStringLiteral(
        "<channel><base>http://x.test/feed/</base><image>icon.png</image><item>"
        "<base>http://x.test/feed/</base><base>../posts/</base><link>one.html</link>"
        "<enclosure url='one.mp3' size='5'/><enclosure url='one.mp3' size='6'/><enclosure/>"
        "<enclosuregroup><enclosure url='http://x.test/b'/><other/></enclosuregroup>"
        "<enclosuregroup><enclosure url='http://x.test/c' isDefault='true'/></enclosuregroup>"
        "</item></channel>"));
    QVERIFY(converter.isValid());
    QCOMPARE(converter.channel().icon().remoteUrl(), QStringLiteral("http://x.test/feed/icon.png"));
    const FeedMessage message = converter.channel().messages().value(0);
    QCOMPARE(message.baseUrl(), QStringLiteral("http://x.test/posts/"));
    QCOMPARE(message.link(), QStringLiteral("http://x.test/posts/one.html"));
    const QList<FeedEnclosure> enclosures = message.enclosures();
    QCOMPARE(enclosures.size(), 3);
    QCOMPARE(enclosures.at(0).remoteUrl(), QStringLiteral("http://x.test/posts/one.mp3"));
    QCOMPARE(enclosures.at(0).length(), 5u);
    QCOMPARE(enclosures.at(0).groupId(), 0u);
    QCOMPARE(enclosures.at(1).groupId(), 1u);
    QCOMPARE(enclosures.at(2).groupId(), 2u);
    QVERIFY(enclosures.at(2).isDefault());
    QCOMPARE(enclosures.at(2).type(), FeedEnclosure::Optional);
}

void tst_FeedXmlConverter::textKinds_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("description");
    QTest::newRow("plain text is escaped") << "<description type='text'>a &lt;b&gt; c &amp; d</description>"
                                           << "" << "a &lt;b&gt; c &amp; d";
    QTest::newRow("html passes") << "<description type='html'>a &lt;b&gt;c&lt;/b&gt;</description>"
                                 << "" << "a <b>c</b>";
    QTest::newRow("no type is html") << "<description>&lt;p&gt;x&lt;/p&gt;</description>" << "" << "<p>x</p>";
    QTest::newRow("plain title keeps brackets") << "<title>a &lt;b&gt; c</title>" << "a <b> c" << "";
    QTest::newRow("html title loses its markup")
        << "<title type='html'> &lt;b&gt;Bold&lt;/b&gt;\n &amp;amp; &amp;#x2014; &amp;nbsp;x&amp;unknown; </title>"
        << QString::fromUtf8("Bold & \u2014 x&unknown;") << "";
    QTest::newRow("html title, bad character reference") << "<title type='html'>a &amp;#0; &amp;#xd800; b</title>"
                                                         << QString::fromUtf8("a \uFFFD \uFFFD b") << "";
    // Regression: the first ">" ended the tag, and the rest of the attribute showed as title.
    QTest::newRow("html title, bracket inside an attribute value")
        << "<title type='html'>&lt;a title=\"x&gt;y\" href='/p'&gt;Link&lt;/a&gt; text</title>" << "Link text" << "";
    QTest::newRow("html title, bracket inside an unquoted value, a script, a comment")
        << "<title type='html'>&lt;img alt=a&gt;b&gt;c&lt;script&gt;x('&lt;b&gt;')&lt;/script&gt;d&lt;!-- &lt;i&gt; --&gt;e</title>"
        << "b>cde" << "";
    QTest::newRow("html title, stray brackets stay") << "<title type='html'>a &amp;lt; b &lt; c &lt;d</title>"
                                                     << "a < b < c <d" << "";
    QTest::newRow("base64 text is decoded, then escaped")
        << "<description type='text' encoding='base64'>MSA8IDIg\n4oCTIDM=</description>" << ""
        << QString::fromUtf8("1 &lt; 2 \u2013 3");
    QTest::newRow("base64 html") << "<description type='html' encoding='base64'>PGI+eDwvYj4=</description>" << ""
                                 << "<b>x</b>";
    QTest::newRow("base64 that is no text") << "<description encoding='base64'>iVBORw0KGgr/2A==</description>" << ""
                                            << "";
    QTest::newRow("base64 html title") << "<title type='html' encoding='base64'>PGI+QTwvYj4gJmFtcDsgQg==</title>"
                                       << "A & B" << "";
    QTest::newRow("xhtml written out as markup")
        << "<description type='xhtml'> <p class='a &quot;b&quot;&#10;'>x &amp; \"y\"<br/><i></i></p> </description>"
        << "" << "<p class=\"a &quot;b&quot;&#10;\">x &amp; &quot;y&quot;<br/><i/></p>";
}

// Descriptions are HTML and titles plain text, whatever kind of text the feed gave.
void tst_FeedXmlConverter::textKinds()
{
    QFETCH(QString, item);
    QFETCH(QString, title);
    QFETCH(QString, description);
    FeedXmlConverter converter;
    converter.setSourceFeed(QStringLiteral("<channel><item>%1</item></channel>").arg(item));
    QVERIFY2(converter.isValid(), qPrintable(converter.errorString()));
    const FeedMessage message = converter.channel().messages().value(0);
    QCOMPARE(message.title(), title);
    QCOMPARE(message.description(), description);
}

void tst_FeedXmlConverter::choices_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::newRow("own description before Dublin Core's") << "<dc:description>dc</dc:description>"
                                                             "<description>own</description>"
                                                          << "description" << "own";
    QTest::newRow("summary stands in") << "<summary>short</summary>" << "description" << "short";
    QTest::newRow("encoded content wins, the rest summarises")
        << "<description>short</description><content:encoded>full</content:encoded>" << "summary" << "short";
    QTest::newRow("blank title, Dublin Core's") << "<media:title>media</media:title><title> </title>"
                                                   "<dc:title>dc</dc:title>" << "title" << "dc";
    QTest::newRow("Media RSS title last") << "<media:title>media</media:title>" << "title" << "media";
    QTest::newRow("plug-in date after the own one") << "<pubDate sourcenamespaceuri='http://purl.org/dc/elements/1.1/'>"
                                                       "2026-01-01</pubDate><pubDate>2026-02-02</pubDate>"
                                                    << "published" << "2026-02-02T00:00:00Z";
    QTest::newRow("terms by rank, not by place") << "<dcterms:modified>2026-12-03</dcterms:modified>"
                                                    "<dc:date>unreadable</dc:date>"
                                                    "<dcterms:issued>2026-12-01</dcterms:issued>"
                                                    "<dcterms:created>2026-12-02</dcterms:created>"
                                                 << "published" << "2026-12-01T00:00:00Z";
    QTest::newRow("Dublin Core date over the terms") << "<dcterms:issued>2026-12-01</dcterms:issued>"
                                                        "<dc:date>2026-11-01</dc:date>"
                                                     << "published" << "2026-11-01T00:00:00Z";
    QTest::newRow("item base continues the channel's") << "<link>c.html</link>" << "link"
                                                       << "http://x.test/feed/items/c.html";
    QTest::newRow("source link wins") << "<link>http://proxy.test/1</link>"
                                         "<feedburner:origLink>http://source.test/1</feedburner:origLink>"
                                      << "link" << "http://source.test/1";
    QTest::newRow("first non-empty link") << "<link/><link>http://x.test/second</link>" << "link"
                                          << "http://x.test/second";
    QTest::newRow("guid that is no permalink") << "<guid isPermaLink='FALSE'>http://x.test/g</guid>" << "link" << "";
}

// Which of the candidates a feed offers for a field becomes the field.
void tst_FeedXmlConverter::choices()
{
    QFETCH(QString, item);
    QFETCH(QString, field);
    QFETCH(QString, value);
    FeedXmlConverter converter;
    converter.setSourceFeed(QStringLiteral(
        "<channel xmlns:dc='http://purl.org/dc/elements/1.1/' xmlns:dcterms='http://purl.org/dc/terms/' "
        "xmlns:media='http://search.yahoo.com/mrss/' xmlns:content='http://purl.org/rss/1.0/modules/content/' "
        "xmlns:feedburner='http://rssnamespace.org/feedburner/ext/1.0'><base>http://x.test/feed/</base>"
        "<item xml:base='items/'>%1</item></channel>").arg(item));
    QVERIFY2(converter.isValid(), qPrintable(converter.errorString()));
    const FeedMessage message = converter.channel().messages().value(0);
    const QMap<QString, QString> fields = {
        {QStringLiteral("title"), message.title()},
        {QStringLiteral("link"), message.link()},
        {QStringLiteral("description"), message.description()},
        {QStringLiteral("summary"), message.summary()},
        {QStringLiteral("published"), message.publishedDate().toString(Qt::ISODate)},
    };
    QCOMPARE(fields.value(field), value);
}

// An item's own enclosures come before those of extensions, wherever the feed lists them.
void tst_FeedXmlConverter::ownEnclosuresFirst()
{
    FeedXmlConverter converter;
    converter.setSourceFeed(QStringLiteral(
        "<channel><item xmlns:media='http://search.yahoo.com/mrss'>"
        "<media:content url='http://x.test/same' fileSize='1'/><media:content url='http://x.test/media' fileSize='2'/>"
        "<enclosure url='http://x.test/same' length='3'/></item></channel>"));
    QVERIFY(converter.isValid());
    const QList<FeedEnclosure> enclosures = converter.channel().messages().value(0).enclosures();
    QCOMPARE(enclosures.size(), 2);
    QCOMPARE(enclosures.at(0).remoteUrl(), QStringLiteral("http://x.test/same"));
    QCOMPARE(enclosures.at(0).length(), 3u);
    QCOMPARE(enclosures.at(1).remoteUrl(), QStringLiteral("http://x.test/media"));
    QCOMPARE(enclosures.at(1).length(), 2u);
}

void tst_FeedXmlConverter::messageLinks_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("link");
    QTest::newRow("http") << "<link>http://x.test/a</link>" << "http://x.test/a";
    QTest::newRow("https, upper case") << "<link>HTTPS://x.test/a</link>" << "HTTPS://x.test/a";
    QTest::newRow("relative, resolved") << "<base>http://x.test/feed/</base><link>post.html</link>"
                                        << "http://x.test/feed/post.html";
    QTest::newRow("script") << "<link>javascript:alert(1)</link>" << "";
    QTest::newRow("script split by a tab") << "<link>java&#9;script:alert(1)</link>" << "";
    QTest::newRow("visual basic") << "<link>VBScript:msgbox(1)</link>" << "";
    QTest::newRow("inline page") << "<link>data:text/html,&lt;script&gt;alert(1)&lt;/script&gt;</link>" << "";
    QTest::newRow("local file") << "<link>file:///etc/passwd</link>" << "";
    QTest::newRow("hostile base") << "<base>javascript:alert(1)//</base><link>x</link>" << "";
    QTest::newRow("guid as link") << "<guid>javascript:alert(1)</guid>" << "";
}

// A link that a client opens in a browser is a web page or nothing.
void tst_FeedXmlConverter::messageLinks()
{
    QFETCH(QString, item);
    QFETCH(QString, link);
    FeedXmlConverter converter;
    converter.setSourceFeed(QStringLiteral("<channel><item>%1</item></channel>").arg(item));
    QVERIFY2(converter.isValid(), qPrintable(converter.errorString()));
    QCOMPARE(converter.channel().messages().value(0).link(), link);
}

VIRELON_TEST_MAIN(tst_FeedXmlConverter)
#include "tst_feedxmlconverter.moc"
