#include "htmltag.h"
#include "htmlurl.h"
#include "testenvironment.h"

// The tag reader against a browser tokenizer's reading of the same text.
class tst_HtmlTag : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void startsAt_data();
    void startsAt();
    void urlScheme_data();
    void urlScheme();
};

namespace {

// One line: name, flags, each attribute as name=value with its quote, and where the tag ends.
QString described(const QString& text, const HtmlTag& tag)
{
    QStringList parts{tag.name().toString()};
    if (tag.isEndTag())
        parts << QStringLiteral("end");
    if (tag.isSelfClosing())
        parts << QStringLiteral("self-closing");
    if (!tag.isTerminated())
        parts << QStringLiteral("unterminated");
    for (const HtmlTag::Attribute& attribute : tag.attributes()) {
        QString part = tag.attributeName(attribute).toString();
        if (attribute.hasValue())
            part += QLatin1Char('=') + (attribute.quote.isNull() ? QString() : QString(attribute.quote))
                    + tag.rawValue(attribute).toString();
        parts << part;
    }
    parts << QStringLiteral("@%1").arg(tag.end() == text.size() ? QStringLiteral("end") : QString::number(tag.end()));
    return parts.join(QLatin1Char(' '));
}

} // namespace

void tst_HtmlTag::read_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const char* text, const char* expected) {
        QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(expected);
    };
    row("plain", "<p>x", "p @3");
    row("every quoting", "<a href=\"x\" title='y' id=z>", "a href=\"x title='y id=z @end");
    // Regression: the first ">" ended the tag, and the rest of the value showed as text.
    row("bracket inside quoted values", "<a title=\"x>y\" alt='<b>'>t", "a title=\"x>y alt='<b> @25");
    row("bracket ends an unquoted value", "<img alt=a>b>", "img alt=a @11");
    row("blanks around the equals sign", "<A\n HREF = \"u\"\tid\f=\rv>", "A HREF=\"u id=v @end");
    row("valueless and slashes", "<input disabled/checked / >", "input disabled checked @end");
    row("self-closing", "<br/>", "br self-closing @end");
    row("slash before a value is no self-closing", "<a href=x/>", "a href=x/ @end");
    row("end tag with attributes", "</a title=\">\">", "a end title=\"> @end");
    row("equals sign starts a name", "<a href =x =y>", "a href=x =y @end");
    row("junk name after a valueless one", "<a b =c>", "a b=c @end");
    row("quote in a name", "<a \"onclick=x>", "a \"onclick=x @end");
    row("missing value", "<a href=>", "a href= @end");
    row("value glued to the next name", "<a x=\"1\"y=\"2\">", "a x=\"1 y=\"2 @end");
    row("runs to the end", "<a href=x", "a unterminated href=x @end");
    row("quote never closed", "<a title=\"x>y", "a unterminated @end");
    row("name at the end", "<abc", "abc unterminated @end");
}

void tst_HtmlTag::read()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QVERIFY(HtmlTag::startsAt(text, 0));
    QCOMPARE(described(text, HtmlTag(text, 0)), expected);
}

void tst_HtmlTag::startsAt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("tag");
    QTest::addColumn<bool>("image"); // a start tag named img
    QTest::newRow("start tag") << "<img src=x>" << true << true;
    QTest::newRow("upper case") << "<IMG>" << true << true;
    QTest::newRow("other name") << "<imgx>" << true << false;
    QTest::newRow("line break after the name") << "<img\n>" << true << true;
    QTest::newRow("end tag") << "</img>" << true << false;
    QTest::newRow("blank first") << "< img>" << false << false;
    QTest::newRow("digit") << "<3" << false << false;
    QTest::newRow("comment") << "<!-- -->" << false << false;
    QTest::newRow("end of text") << "<" << false << false;
    QTest::newRow("end tag without a name") << "</" << false << false;
}

void tst_HtmlTag::startsAt()
{
    QFETCH(QString, text);
    QFETCH(bool, tag);
    QFETCH(bool, image);
    QCOMPARE(HtmlTag::startsAt(text, 0), tag);
    QCOMPARE(HtmlTag::startsAt(text, 0, QLatin1String("img")), image);
}

void tst_HtmlTag::urlScheme_data()
{
    QTest::addColumn<QString>("value"); // references already decoded
    QTest::addColumn<QString>("scheme");
    QTest::newRow("web") << "https://x.example/" << "https";
    QTest::newRow("upper case") << "JavaScript:x" << "javascript";
    QTest::newRow("controls and blanks around") << QStringLiteral("\x01 \tdata:x \n") << "data";
    QTest::newRow("tab and line breaks inside") << "ja\tva\nscr\ript:x" << "javascript";
    QTest::newRow("tab before the colon") << "data\t:x" << "data";
    QTest::newRow("blank inside is no scheme") << "java script:x" << "";
    QTest::newRow("slash first") << "/a:b" << "";
    QTest::newRow("relative") << "page.html" << "";
    QTest::newRow("scheme-relative") << "//x.example/a" << "";
    QTest::newRow("digit first") << "1a:b" << "";
    QTest::newRow("scheme characters") << "svn+ssh.x-y:z" << "svn+ssh.x-y";
}

// A browser reads the scheme after dropping controls and blanks around and tabs and line
// breaks inside.
void tst_HtmlTag::urlScheme()
{
    QFETCH(QString, value);
    QFETCH(QString, scheme);
    const QString url = HtmlUrl::normalised(value);
    QCOMPARE(HtmlUrl::scheme(url), scheme);
    QCOMPARE(HtmlUrl::schemeLength(url), scheme.size());
    if (!scheme.isEmpty())
        QVERIFY(HtmlUrl::hasScheme(url, QLatin1String(scheme.toLatin1())));
}

VIRELON_TEST_MAIN(tst_HtmlTag)
#include "tst_htmltag.moc"
