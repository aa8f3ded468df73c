#include "feeddate.h"
#include "feedxmlconverter.h"
#include "testenvironment.h"

class tst_FeedXmlConverter : public QObject
{
    Q_OBJECT

private slots:
    void dates_data();
    void dates();
    void unreadable_data();
    void unreadable();
    void enclosuresAndLinks();
    void textKinds_data();
    void textKinds();
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
