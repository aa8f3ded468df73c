#include "feedfilenamegenerator.h"
#include "feedformatter.h"
#include "testenvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

Q_DECLARE_METATYPE(QList<FeedEnclosure>)

class tst_FeedFormatter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void removeScriptsAndStyles_data();
    void removeScriptsAndStyles();
    void xssVectors_data();
    void xssVectors();
    void resolveRelativeHyperlinks_data();
    void resolveRelativeHyperlinks();
    void localizeImages_data();
    void localizeImages();
    void imagesAcrossMessages();
    void localizeOptionalEnclosures_data();
    void localizeOptionalEnclosures();
    void formatImageDimensions_data();
    void formatImageDimensions();
    void embeddedImageWrittenAndReused();
    void embeddedImagesNeverShareAFile();
    void embeddedImageFileWithOtherBytesIsRewritten();
    void embeddedImageRefused_data();
    void embeddedImageRefused();
    void embeddedImageWithoutDirectory();
    void realWorldMessages_data();
    void realWorldMessages();

private:
    static QString local(const QString& url);
    static QString expand(QString text);
    static QString dataUrl(const QByteArray& bytes, const QString& type = QStringLiteral("image/png"));
    QString _directory;
};

namespace {

const QString pageBase = QStringLiteral("http://example.com/news/page.html");

QtMessageHandler testHandler = nullptr;
QStringList progress;

void keepProgress(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // The formatter's progress lines are many: kept aside; its warnings reach the test.
    if (type == QtDebugMsg && message.startsWith(QLatin1String("Formatter\n")))
        progress << message.section(QLatin1Char('\n'), 5);
    else
        testHandler(type, context, message);
}

FeedMessage message(const QString& description, const QString& baseUrl = pageBase)
{
    FeedMessage result;
    result.setDescription(description);
    result.setBaseUrl(baseUrl);
    return result;
}

QStringList remoteUrls(const QList<FeedEnclosure>& enclosures)
{
    QStringList urls;
    for (const FeedEnclosure& enclosure : enclosures)
        urls << enclosure.remoteUrl();
    return urls;
}

QString decodedForCheck(QString text)
{
    static const QRegularExpression numeric(QStringLiteral("&#(x?)([0-9a-f]+);?"),
                                            QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatch match;
    while ((match = numeric.match(text)).hasMatch()) {
        const uint code = match.captured(2).toUInt(nullptr, match.capturedLength(1) ? 16 : 10);
        text.replace(match.capturedStart(), match.capturedLength(), QString::fromUcs4(&code, 1));
    }
    text.replace(QLatin1String("&colon;"), QLatin1String(":"));
    text.remove(QRegularExpression(QStringLiteral("[\\x00-\\x20]|&Tab;|&NewLine;")));
    return text.toLower();
}

} // namespace

QString tst_FeedFormatter::local(const QString& url)
{
    return FeedFilenameGenerator().generateFileName(url);
}

// "@{url}" in an expected description stands for the local path of url.
QString tst_FeedFormatter::expand(QString text)
{
    static const QRegularExpression placeholder(QStringLiteral("@\\{([^}]*)\\}"));
    QRegularExpressionMatch match;
    while ((match = placeholder.match(text)).hasMatch())
        text.replace(match.capturedStart(), match.capturedLength(), local(match.captured(1)));
    return text;
}

QString tst_FeedFormatter::dataUrl(const QByteArray& bytes, const QString& type)
{
    return QStringLiteral("data:") + type + QStringLiteral(";base64,") + QString::fromLatin1(bytes.toBase64());
}

void tst_FeedFormatter::initTestCase()
{
    qunsetenv("VIRELON_ENCLOSURE_DIR");
    testHandler = qInstallMessageHandler(keepProgress);
    _directory = QDir::homePath() + QStringLiteral("/MyDocs/.feed/enclosures");
}

void tst_FeedFormatter::init()
{
    progress.clear();
    QDir(_directory).removeRecursively();
    QVERIFY(QDir().mkpath(_directory));
}

void tst_FeedFormatter::removeScriptsAndStyles_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const char* description, const char* expected) {
        QTest::newRow(name) << QString::fromUtf8(description) << QString::fromUtf8(expected);
    };
    // Regression: one greedy match ate everything between the first and the last script.
    row("text between scripts survives",
        "<p>one</p><script>a()</script><p>between</p><script type=\"x\">b()</script><p>after</p>",
        "<p>one</p><p>between</p><p>after</p>");
    row("upper and mixed case", "<SCRIPT>evil()</SCRIPT>kept<ScRiPt>x</sCrIpT> too", "kept too");
    // Regression: a closing noscript ended a script match.
    row("noscript is no script end", "<noscript>no js</noscript> a <script>x</script> b </noscript> end",
        "<noscript>no js</noscript> a  b </noscript> end");
    row("unclosed script to the end", "before <script src=\"x.js\">never closed", "before ");
    row("unterminated script tag", "before <script", "before ");
    row("closing tag with blanks", "a<script>x</script >b<script>y</SCRIPT\n>c", "abc");
    row("script ends at its first end tag", "<script>s='</script>';</script>tail", "';</script>tail");
    row("styles each on its own", "<style>p{}</style>words<STYLE type=\"text/css\">q{}</STYLE>more",
        "wordsmore");
    row("style and script interleaved", "<style>a</style>1<script>b</script>2<style>c", "12");
    row("names that only begin alike", "<scripts>x</scripts><styles>y</styles>",
        "<scripts>x</scripts><styles>y</styles>");
    row("script in a comment stays hidden", "<!-- <script>x</script> --> words",
        "<!-- &lt;script>x&lt;/script> --> words");
    row("abrupt comment hides nothing", "<!--> <script>alert(1)</script> -->", "<!-->  -->");
    row("script in an attribute value is text", "<img alt=\"<script>\" src=\"a.png\"> text </script>",
        "<img alt=\"&lt;script>\" src=\"a.png\"> text </script>");
    row("split script tag", "<scr<script>x</script>ipt>alert(1)</script>",
        "<scr&lt;script>x</script>ipt>alert(1)</script>");
    // Each of these took one more pass over the whole text per level of nesting.
    row("bracket before a script", "<<script>x</script>script>y", "&lt;script>y");
    row("junk name after a handler", "<a href onclick=x =javascript:alert(1)>t</a>", "<a href  >t</a>");
    row("event handler", "<img src=x onerror=alert(1)>", "<img src=x >");
    row("event handlers in every case", "<p class='c' ONMOUSEOVER='x' OnClick=\"y\" id=z>t</p>",
        "<p class='c'   id=z>t</p>");
    row("handler after a value with a bracket", "<a title=\"x>\" onclick=\"alert(1)\">t</a>",
        "<a title=\"x>\" >t</a>");
    row("handler glued to a quote", "<b id=\"1\"onclick=\"x\">t</b>", "<b id=\"1\">t</b>");
    row("handler after a slash", "<svg/onload=alert(1)>", "<svg/>");
    row("javascript link", "<a href=\"javascript:alert(1)\">link text</a>", "<a >link text</a>");
    row("vbscript link", "<a href='vbscript:msgbox'>y</a>", "<a >y</a>");
    row("javascript image", "<img src=\"JAVASCRIPT:alert(1)\" alt=\"a\">", "<img  alt=\"a\">");
    row("harmless schemes stay", "<a href=\"https://example.com/javascript:x\">t</a><a href=\"mailto:a@b\">m</a>",
        "<a href=\"https://example.com/javascript:x\">t</a><a href=\"mailto:a@b\">m</a>");
    row("data only as an image", "<a href=\"data:image/png;base64,AAAA\">full</a><img src=\"data:image/png;base64,AAAA\">",
        "<a >full</a><img src=\"data:image/png;base64,AAAA\">");
    row("refresh", "<meta HTTP-EQUIV=\"refresh\" content=\"0;url=http://x.example/\">",
        "<meta  content=\"0;url=http://x.example/\">");
    row("animated handler", "<svg><set attributeName=\"&#111;nmouseover\" to=\"alert(1)\"/></svg>",
        "<svg><set  to=\"alert(1)\"/></svg>");
    row("srcdoc", "<iframe srcdoc=\"&lt;script&gt;alert(1)&lt;/script&gt;\"></iframe>", "<iframe ></iframe>");
    row("unterminated tag is shown as text", "a < b and c<d", "a < b and c&lt;d");
    // The tag runs to the end of the text: read once, not again at every later "<".
    row("unterminated quoted value", "x <img src=\"a.png onerror=alert(1)> <b>b</b>",
        "x &lt;img src=\"a.png onerror=alert(1)> &lt;b>b&lt;/b>");
    row("bracket in a comment", "<textarea><!--</textarea><img src=x onerror=alert(1)>--></textarea>",
        "<textarea><!--&lt;/textarea>&lt;img src=x onerror=alert(1)>--></textarea>");
    row("entities kept", "<p title=\"&quot;q&quot;\">&lt;b&gt; &amp; &#233;</p>",
        "<p title=\"&quot;q&quot;\">&lt;b&gt; &amp; &#233;</p>");
}

void tst_FeedFormatter::removeScriptsAndStyles()
{
    QFETCH(QString, description);
    QFETCH(QString, expected);
    FeedMessage formatted = message(description);
    FeedFormatter().removeScriptsAndStyles(formatted);
    QCOMPARE(formatted.description(), expected);
}

void tst_FeedFormatter::xssVectors_data()
{
    QTest::addColumn<QString>("vector");
    QTest::addColumn<bool>("keepsTail");
    // An unclosed script hides the rest of the text from a browser, so it goes with it.
    QTest::newRow("unclosed script") << QStringLiteral("<SCRIPT SRC=http://xss.example/xss.js?< B >") << false;
    const char* const vectors[] = {
        "<IMG SRC=&#0000106&#0000097&#0000118&#0000097&#0000115&#0000099&#0000114&#0000105&#0000112&#0000116&#0000058&#0000097>",
        "<IMG SRC=&#x6A&#x61&#x76&#x61&#x73&#x63&#x72&#x69&#x70&#x74&#x3A&#x61&#x6C&#x65&#x72&#x74>",
        "<IMG SRC=\"jav\tascript:alert('XSS');\">",
        "<IMG SRC=\"jav&#x0A;ascript:alert('XSS');\">",
        "<IMG SRC=\" &#14;  javascript:alert('XSS');\">",
        "<a href=\"java&Tab;script&colon;alert(1)\">x</a>",
        "<a href=\"  JavaScript :alert(1)\">x</a>",
        "<svg onload=alert(1)>",
        "<svg><a xlink:href=\"javascript:alert(1)\"><text>t</text></a></svg>",
        "<svg><animate attributeName=\"href\" values=\"x;javascript:alert(1)\"/></svg>",
        "<div onmouseover\n=\n\"alert(1)\">d</div>",
        "<img \"\"\"><SCRIPT>alert(\"XSS\")</SCRIPT>\">",
        "<SCRIPT/XSS SRC=\"http://xss.example/xss.js\"></SCRIPT>",
        "<iframe src=\"javascript:alert(1)\"></iframe>",
        "<form action=\"javascript:alert(1)\"><button formaction=\"javascript:alert(2)\">b</button></form>",
        "<object data=\"javascript:alert(1)\"></object>",
        "<table background=\"javascript:alert(1)\"><tr><td>c</td></tr></table>",
        "<a title='<img src=x onerror=alert(1)>'>t</a>",
        "<!--<img src=\"--><img src=x onerror=alert(1)//\">",
        "<style><img src=\"</style><img src=x onerror=alert(1)//\">",
        "<math><mtext><table><mglyph><style><img src=x onerror=alert(1)></style></mglyph></table></mtext></math>",
        "<noscript><p title=\"</noscript><img src=x onerror=alert(1)>\"></noscript>",
        "<iframe src=\"data:text/html;base64,PHNjcmlwdD5hbGVydCgxKTwvc2NyaXB0Pg==\"></iframe>",
        "<a href=\" DATA:text/html,&lt;script&gt;alert(1)&lt;/script&gt;\">d</a>",
    };
    for (const char* vector : vectors)
        QTest::newRow(vector) << QString::fromUtf8(vector) << true;
}

void tst_FeedFormatter::xssVectors()
{
    QFETCH(QString, vector);
    QFETCH(bool, keepsTail);
    const QString description = QStringLiteral("<p>first words</p>") + vector + QStringLiteral("<p>last words</p>");
    const QString formatted = FeedFormatter().formatMessage(message(description)).description();
    const QString checked = decodedForCheck(formatted);
    QVERIFY2(!checked.contains(QLatin1String("<script")), qPrintable(formatted));
    QVERIFY2(!checked.contains(QLatin1String("javascript:")), qPrintable(formatted));
    QVERIFY2(!checked.contains(QLatin1String("vbscript:")), qPrintable(formatted));
    QVERIFY2(!checked.contains(QLatin1String("data:text")), qPrintable(formatted));
    static const QRegularExpression handler(QStringLiteral("<[a-z][^>]*[\\s/\"'`]on[a-z]+="),
                                            QRegularExpression::CaseInsensitiveOption);
    QVERIFY2(!handler.match(checked).hasMatch(), qPrintable(formatted));
    QVERIFY2(formatted.startsWith(QLatin1String("<p>first words</p>")), qPrintable(formatted));
    QVERIFY2(formatted.contains(QLatin1String("last words")) == keepsTail, qPrintable(formatted));
}

void tst_FeedFormatter::resolveRelativeHyperlinks_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const char* description, const QString& base, const char* expected) {
        QTest::newRow(name) << QString::fromUtf8(description) << base << QString::fromUtf8(expected);
    };
    row("relative", "<a href=\"more.html\">m</a>", pageBase, "<a href=\"http://example.com/news/more.html\">m</a>");
    row("fragment", "<a href=\"#top\">t</a>", pageBase, "<a href=\"http://example.com/news/page.html#top\">t</a>");
    row("root relative, single quotes", "<a href='/x'>t</a>", pageBase, "<a href='http://example.com/x'>t</a>");
    row("unquoted value is quoted", "<a href=x.html>t</a>", pageBase, "<a href=\"http://example.com/news/x.html\">t</a>");
    row("absolute stays", "<a href=\"https://other.org/a?b=1&amp;c=2\">t</a>", pageBase,
        "<a href=\"https://other.org/a?b=1&amp;c=2\">t</a>");
    row("no base", "<a href=\"more.html\">m</a>", QString(), "<a href=\"more.html\">m</a>");
    row("empty target", "<a href=\"\">e</a><a href=\"b.html\">b</a>", pageBase,
        "<a href=\"\">e</a><a href=\"http://example.com/news/b.html\">b</a>");
    // Regression: the value ran to the last quote before the next blank and swallowed the text.
    row("apostrophe after the link", "<a href=\"page2.html\">John</a>'s book", pageBase,
        "<a href=\"http://example.com/news/page2.html\">John</a>'s book");
    row("upper case and line breaks", "<A\n  class=\"c\"\n  HREF = \"up.html\">u</A>", pageBase,
        "<A\n  class=\"c\"\n  HREF = \"http://example.com/news/up.html\">u</A>");
    row("entity in the value", "<a href=\"q?a=1&amp;b=%22\">q</a>", pageBase,
        "<a href=\"http://example.com/news/q?a=1&amp;b=%22\">q</a>");
    row("other attributes ending in href", "<a data-href=\"d.html\" href=\"h.html\">t</a>", pageBase,
        "<a data-href=\"d.html\" href=\"http://example.com/news/h.html\">t</a>");
    row("abbr is no link", "<abbr href=\"x\">t</abbr>", pageBase, "<abbr href=\"x\">t</abbr>");
    row("hostile base", "<a href=\"x\">t</a>", QStringLiteral("javascript:alert(1)//"), "<a href=\"x\">t</a>");
    row("data base", "<a href=\"x\">t</a>", QStringLiteral("data:text/html,<script>alert(1)</script>/"),
        "<a href=\"x\">t</a>");
}

void tst_FeedFormatter::resolveRelativeHyperlinks()
{
    QFETCH(QString, description);
    QFETCH(QString, baseUrl);
    QFETCH(QString, expected);
    FeedMessage formatted = message(description, baseUrl);
    FeedFormatter().resolveRelativeHyperlinks(formatted);
    QCOMPARE(formatted.description(), expected);
}

void tst_FeedFormatter::localizeImages_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("enclosures");
    const auto row = [](const char* name, const char* description, const QString& base, const char* expected,
                        const QStringList& enclosures) {
        QTest::newRow(name) << QString::fromUtf8(description) << base << QString::fromUtf8(expected) << enclosures;
    };
    row("every quoting style", "<img src=\"/1.png\"><img src='/2.png'><img src=/3.png>", pageBase,
        "<img src=\"@{http://example.com/1.png}\"><img src='@{http://example.com/2.png}'>"
        "<img src=\"@{http://example.com/3.png}\">",
        {QStringLiteral("http://example.com/1.png"), QStringLiteral("http://example.com/2.png"),
         QStringLiteral("http://example.com/3.png")});
    row("upper case, split over lines", "<IMG\n\tALT=\"x\"\n\tSRC = \"http://cdn.example.org/b.gif\">", pageBase,
        "<IMG\n\tALT=\"x\"\n\tSRC = \"@{http://cdn.example.org/b.gif}\">", {QStringLiteral("http://cdn.example.org/b.gif")});
    // Regression: the value ran on to the apostrophe and queued a bogus download.
    row("apostrophe after the image", "<img src=\"a.png\">John's", pageBase,
        "<img src=\"@{http://example.com/news/a.png}\">John's", {QStringLiteral("http://example.com/news/a.png")});
    row("entity in the source", "<img src=\"http://x.org/i.png?a=1&amp;b=2\">", pageBase,
        "<img src=\"@{http://x.org/i.png?a=1&b=2}\">", {QStringLiteral("http://x.org/i.png?a=1&b=2")});
    row("same image twice", "<img src=\"/s.png\"><img src=\"http://example.com/s.png\">", pageBase,
        "<img src=\"@{http://example.com/s.png}\"><img src=\"@{http://example.com/s.png}\">",
        {QStringLiteral("http://example.com/s.png")});
    row("blanks around the source", "<img src=\" /t.png\n\">", pageBase, "<img src=\"@{http://example.com/t.png}\">",
        {QStringLiteral("http://example.com/t.png")});
    row("no scheme without a base", "<img src=\"pics/a.jpg\">", QString(), "<img src=\"pics/a.jpg\">", {});
    row("local file", "<img src=\"file:///etc/passwd\">", pageBase, "<img src=\"file:///etc/passwd\">", {});
    row("empty source", "<img src=\"\"><img src>", pageBase, "<img src=\"\"><img src>", {});
    row("src is the shown source", "<img src=\"a.jpg\" data-src=\"real.jpg\">", pageBase,
        "<img src=\"@{http://example.com/news/a.jpg}\" data-src=\"real.jpg\">",
        {QStringLiteral("http://example.com/news/a.jpg")});
    row("quote in the local name is escaped", "<img src=\"http://x.org/a%22b.jpg\">", pageBase,
        "<img src=\"@{http://x.org/a%22b.jpg}\">", {QStringLiteral("http://x.org/a%22b.jpg")});
}

void tst_FeedFormatter::localizeImages()
{
    QFETCH(QString, description);
    QFETCH(QString, baseUrl);
    QFETCH(QString, expected);
    QFETCH(QStringList, enclosures);
    FeedMessage formatted = message(description, baseUrl);
    FeedFormatter().localizeImages(formatted);
    QCOMPARE(formatted.description(), expand(expected).replace(QLatin1String("a\"b"), QLatin1String("a&quot;b")));
    QCOMPARE(remoteUrls(formatted.enclosures()), enclosures);
    for (const FeedEnclosure& enclosure : formatted.enclosures()) {
        QCOMPARE(enclosure.localUrl(), local(enclosure.remoteUrl()));
        QCOMPARE(enclosure.type(), FeedEnclosure::Essential);
        QCOMPARE(enclosure.length(), 0u);
        QVERIFY2(enclosure.mimeType().startsWith(QLatin1String("image/")), qPrintable(enclosure.mimeType()));
    }
}

void tst_FeedFormatter::imagesAcrossMessages()
{
    FeedEnclosure media;
    media.setRemoteUrl(QStringLiteral("http://example.com/show.mp3"));
    media.setType(FeedEnclosure::Optional);
    FeedMessage first = message(QStringLiteral("<img src=\"/shared.png\">"));
    first.setEnclosures({media});
    const FeedMessage second = message(QStringLiteral("<p><img src='http://example.com/shared.png'></p>"));
    const FeedMessage third = message(QStringLiteral("<img src=\"download.php?id=7\">"));
    const QList<FeedMessage> formatted = FeedFormatter().formatMessages({first, second, third});
    QCOMPARE(formatted.size(), 3);
    const QString shared = QStringLiteral("http://example.com/shared.png");
    // Every message that shows the image holds its enclosure, after the feed's own.
    QCOMPARE(remoteUrls(formatted.at(0).enclosures()), QStringList({media.remoteUrl(), shared}));
    QCOMPARE(remoteUrls(formatted.at(1).enclosures()), QStringList({shared}));
    QCOMPARE(formatted.at(1).description(), QStringLiteral("<p><img src='%1'></p>").arg(local(shared)));
    // A script name does not make an image a script.
    QCOMPARE(formatted.at(2).enclosures().size(), 1);
    QCOMPARE(formatted.at(2).enclosures().first().mimeType(), QString());
}

void tst_FeedFormatter::localizeOptionalEnclosures_data()
{
    QTest::addColumn<QString>("remoteUrl");
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<QString>("expectedMime");
    QTest::addColumn<QString>("expectedIcon");
    QTest::newRow("type from the name") << QStringLiteral("http://x.org/a.mp3") << QString()
                                        << QStringLiteral("audio/mpeg") << QStringLiteral("audio-mpeg");
    // Regression: the name's extension replaced the feed's type.
    QTest::newRow("script name, declared type") << QStringLiteral("http://x.org/download.php?id=7") << QStringLiteral("video/mp4")
                                                << QStringLiteral("video/mp4") << QStringLiteral("video-mp4");
    QTest::newRow("unknown declared type kept") << QStringLiteral("http://x.org/a.mp3") << QStringLiteral("audio/x-nothing-known")
                                                << QStringLiteral("audio/x-nothing-known") << QString();
    QTest::newRow("nothing known") << QStringLiteral("http://x.org/blob") << QString() << QString() << QString();
    QTest::newRow("empty remote url") << QString() << QString() << QString() << QString();
}

void tst_FeedFormatter::localizeOptionalEnclosures()
{
    QFETCH(QString, remoteUrl);
    QFETCH(QString, mimeType);
    QFETCH(QString, expectedMime);
    QFETCH(QString, expectedIcon);
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(remoteUrl);
    enclosure.setMimeType(mimeType);
    enclosure.setType(FeedEnclosure::Optional);
    FeedMessage formatted = message(QString());
    formatted.setEnclosures({enclosure});
    if (remoteUrl.isEmpty()) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Url is not valid")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Could not parse suitable file name")));
    }
    FeedFormatter().localizeOptionalEnclosures(formatted);
    QCOMPARE(formatted.enclosures().size(), 1);
    const FeedEnclosure result = formatted.enclosures().first();
    QCOMPARE(result.localUrl(), local(remoteUrl));
    QCOMPARE(result.mimeType(), expectedMime);
    QCOMPARE(result.typeIcon(), expectedIcon);
    QCOMPARE(result.type(), FeedEnclosure::Optional);
}

void tst_FeedFormatter::formatImageDimensions_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("expected");
    QTest::newRow("both") << QStringLiteral("<img width=\"10px\" height='20px' src=\"a\">")
                          << QStringLiteral("<img width=\"10\" height='20' src=\"a\">");
    QTest::newRow("on past unit-less values") << QStringLiteral("<img width=\"5\"><p>t</p><img width=\"7px\" height=\"8\">")
                                              << QStringLiteral("<img width=\"5\"><p>t</p><img width=\"7\" height=\"8\">");
    QTest::newRow("doubled unit") << QStringLiteral("<img width=\"1pxpx\">") << QStringLiteral("<img width=\"1\">");
    QTest::newRow("unquoted, blank around =") << QStringLiteral("<IMG WIDTH = 3px>") << QStringLiteral("<IMG WIDTH = \"3\">");
    QTest::newRow("other units and tags") << QStringLiteral("<img width=\"50%\"><td width=\"9px\">x</td>")
                                          << QStringLiteral("<img width=\"50%\"><td width=\"9px\">x</td>");
    QTest::newRow("data-width is not width") << QStringLiteral("<img data-width=\"4px\" width=\"6px\">")
                                             << QStringLiteral("<img data-width=\"4px\" width=\"6\">");
}

void tst_FeedFormatter::formatImageDimensions()
{
    QFETCH(QString, description);
    QFETCH(QString, expected);
    FeedMessage formatted = message(description);
    FeedFormatter().formatImageDimensions(formatted);
    QCOMPARE(formatted.description(), expected);
}

void tst_FeedFormatter::embeddedImageWrittenAndReused()
{
    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==");
    const QString source = dataUrl(png);
    FeedMessage formatted = message(QStringLiteral("<img src=\"%1\" alt=\"dot\"><img src='%1'>").arg(source));
    FeedFormatter().localizeImages(formatted);
    QCOMPARE(formatted.enclosures().size(), 1);
    const FeedEnclosure enclosure = formatted.enclosures().first();
    QCOMPARE(enclosure.localUrl(), enclosure.remoteUrl());
    QCOMPARE(QFileInfo(enclosure.localUrl()).absolutePath(), _directory);
    QVERIFY(enclosure.localUrl().endsWith(QLatin1String(".png")));
    QCOMPARE(enclosure.length(), unsigned(png.size()));
    QCOMPARE(enclosure.mimeType(), QStringLiteral("image/png"));
    QCOMPARE(formatted.description(),
             QStringLiteral("<img src=\"%1\" alt=\"dot\"><img src='%1'>").arg(enclosure.localUrl()));
    QFile file(enclosure.localUrl());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), png);
    file.close();
    QCOMPARE(QDir(_directory).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // A later refresh finds the file and leaves it alone, whichever way the payload is encoded.
    QVERIFY(progress.filter(QStringLiteral("Writing image to:")).size() == 1);
    progress.clear();
    FeedMessage again = message(QStringLiteral("<img src=\"%1\">").arg(QString(source).replace(QLatin1Char('='), QLatin1String("%3D"))));
    FeedFormatter().localizeImages(again);
    QCOMPARE(remoteUrls(again.enclosures()), QStringList({enclosure.localUrl()}));
    QVERIFY(progress.contains(QStringLiteral("File already exists")));
    QVERIFY(progress.filter(QStringLiteral("Writing image to:")).isEmpty());
}

void tst_FeedFormatter::embeddedImagesNeverShareAFile()
{
    // Regression: the name came from the first 100 payload characters alone.
    const QByteArray head(150, 'P');
    const QString first = dataUrl(head + "first");
    const QString second = dataUrl(head + "second");
    QCOMPARE(first.left(130), second.left(130));
    FeedMessage formatted = message(QStringLiteral("<img src=\"%1\"><img src=\"%2\">").arg(first, second));
    FeedFormatter().localizeImages(formatted);
    const QList<FeedEnclosure> enclosures = formatted.enclosures();
    QCOMPARE(enclosures.size(), 2);
    QVERIFY(enclosures.at(0).localUrl() != enclosures.at(1).localUrl());
    for (const FeedEnclosure& enclosure : enclosures) {
        QFile file(enclosure.localUrl());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(unsigned(file.size()), enclosure.length());
    }
}

void tst_FeedFormatter::embeddedImageFileWithOtherBytesIsRewritten()
{
    const QByteArray image("GIF89a-the-real-bytes");
    FeedEnclosure probe;
    QVERIFY(FeedFormatter().parseEmbeddedData(dataUrl(image, QStringLiteral("image/gif")), probe));
    QFile damaged(probe.localUrl());
    QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("GIF89a-cut");
    damaged.close();
    FeedEnclosure enclosure;
    QVERIFY(FeedFormatter().parseEmbeddedData(dataUrl(image, QStringLiteral("image/gif")), enclosure));
    QCOMPARE(enclosure.localUrl(), probe.localUrl());
    QVERIFY(damaged.open(QIODevice::ReadOnly));
    QCOMPARE(damaged.readAll(), image);
}

void tst_FeedFormatter::embeddedImageRefused_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("warning");
    QTest::newRow("no image type") << QStringLiteral("data:text/html;base64,PHNjcmlwdD4=") << QString();
    QTest::newRow("no base64") << QStringLiteral("data:image/png,abc") << QString();
    QTest::newRow("percent-encoded junk") << QStringLiteral("data:image/png;base64,%21%21") << QStringLiteral("Failed to write image data:");
    QTest::newRow("empty payload") << QStringLiteral("data:image/png;base64,") << QStringLiteral("Failed to write image data: \"no data\"");
    QTest::newRow("too large") << QStringLiteral("data:image/png;base64,") + QString(15 * 1024 * 1024, QLatin1Char('A'))
                               << QStringLiteral("Embedded image too large:");
}

void tst_FeedFormatter::embeddedImageRefused()
{
    QFETCH(QString, source);
    QFETCH(QString, warning);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
    FeedMessage formatted = message(QStringLiteral("<img src=\"%1\"> words").arg(source));
    FeedFormatter().localizeImages(formatted);
    QCOMPARE(formatted.description(), QStringLiteral("<img src=\"\"> words"));
    QVERIFY(formatted.enclosures().isEmpty());
    QCOMPARE(QDir(_directory).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void tst_FeedFormatter::embeddedImageWithoutDirectory()
{
    QVERIFY(QDir(_directory).removeRecursively());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Failed to write image data:")));
    FeedEnclosure enclosure;
    QVERIFY(!FeedFormatter().parseEmbeddedData(dataUrl("GIF89a"), enclosure));
    QVERIFY(enclosure.localUrl().isEmpty());
    QVERIFY(!QDir(_directory).exists());

    // An image that could not be written stays in the description rather than being lost.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Failed to write image data:")));
    const QString description = QStringLiteral("<img src=\"%1\"> words").arg(dataUrl("GIF89a"));
    FeedMessage formatted = message(description);
    FeedFormatter().localizeImages(formatted);
    QCOMPARE(formatted.description(), description);
    QVERIFY(formatted.enclosures().isEmpty());
}

void tst_FeedFormatter::realWorldMessages_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("enclosures");
    QTest::newRow("blog engine") << QStringLiteral(
        "<div class=\"entry\">\n"
        "<p><a href=\"/2024/05/trip/\" rel=\"bookmark\">Our trip</a> &amp; what we&#8217;ve seen.</p>\n"
        "<script type=\"text/javascript\">var _gaq = _gaq || []; _gaq.push(['_track']);</script>\n"
        "<p><img class=\"aligncenter\" src=\"/wp-content/uploads/photo-1024x768.jpg\" alt=\"Photo\"\n"
        "   width=\"1024px\" height=\"768px\" onload=\"lazy(this)\" /></p>\n"
        "<style>.entry{color:red}</style>\n"
        "<p>Read <a href='http://other.example.org/x?y=1&amp;z=2'>more</a> or <a href=\"#comments\">comment</a>.</p>\n"
        "<img src=\"http://feeds.example.net/~r/pixel/1\" height=\"1\" width=\"1\"/>\n"
        "</div>")
        << QStringLiteral("http://blog.example.com/2024/05/trip.html")
        << QStringLiteral(
        "<div class=\"entry\">\n"
        "<p><a href=\"http://blog.example.com/2024/05/trip/\" rel=\"bookmark\">Our trip</a> &amp; what we&#8217;ve seen.</p>\n"
        "\n"
        "<p><img class=\"aligncenter\" src=\"@{http://blog.example.com/wp-content/uploads/photo-1024x768.jpg}\" alt=\"Photo\"\n"
        "   width=\"1024\" height=\"768\"  /></p>\n"
        "\n"
        "<p>Read <a href='http://other.example.org/x?y=1&amp;z=2'>more</a> or "
        "<a href=\"http://blog.example.com/2024/05/trip.html#comments\">comment</a>.</p>\n"
        "<img src=\"@{http://feeds.example.net/~r/pixel/1}\" height=\"1\" width=\"1\"/>\n"
        "</div>")
        << QStringList({QStringLiteral("http://blog.example.com/wp-content/uploads/photo-1024x768.jpg"),
                        QStringLiteral("http://feeds.example.net/~r/pixel/1")});
}

void tst_FeedFormatter::realWorldMessages()
{
    QFETCH(QString, description);
    QFETCH(QString, baseUrl);
    QFETCH(QString, expected);
    QFETCH(QStringList, enclosures);
    const FeedMessage formatted = FeedFormatter().formatMessage(message(description, baseUrl));
    QCOMPARE(formatted.description(), expand(expected));
    QCOMPARE(remoteUrls(formatted.enclosures()), enclosures);
}

VIRELON_TEST_MAIN(tst_FeedFormatter)
#include "tst_feedformatter.moc"
