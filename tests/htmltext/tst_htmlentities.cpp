#include "htmlentities.h"
#include "htmltext.h"
#include "testenvironment.h"

class tst_HtmlEntities : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void plainText_data();
    void plainText();
};

void tst_HtmlEntities::decode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("inText");
    QTest::addColumn<QString>("inAttribute");
    const auto row = [](const char* name, const char* text, const char* inText, const char* inAttribute) {
        QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(inText) << QString::fromUtf8(inAttribute);
    };
    row("named", "&lt;&amp;&quot;&apos;&gt;", "<&\"'>", "<&\"'>");
    row("scheme characters", "java&Tab;script&colon;x&NewLine;", "java\tscript:x\n", "java\tscript:x\n");
    row("numeric without semicolons", "&#106&#x61;&#X76;a", "java", "java");
    row("leading zeros", "&#0000106;", "j", "j");
    row("zero, surrogate, beyond Unicode", "&#0;&#xD800;&#x110000;&#99999999999;", "\uFFFD\uFFFD\uFFFD\uFFFD",
        "\uFFFD\uFFFD\uFFFD\uFFFD");
    row("windows-1252 range", "&#x80;&#150;", "\u20AC\u2013", "\u20AC\u2013");
    row("no digits", "&#;&#x;", "&#;&#x;", "&#;&#x;");
    // In a value "&amp=" and "&ampx" belong to a query, not to a reference.
    row("legacy name without semicolon", "a&amp b&amp=c&ampd", "a& b&=c&ampd", "a& b&amp=c&ampd");
    row("unknown and modern names without semicolon", "&bogus; &colon x", "&bogus; &colon x", "&bogus; &colon x");
    row("lone ampersand", "a & b &", "a & b &", "a & b &");
}

void tst_HtmlEntities::decode()
{
    QFETCH(QString, text);
    QFETCH(QString, inText);
    QFETCH(QString, inAttribute);
    QCOMPARE(HtmlEntities::decode(text, HtmlEntities::Text), inText);
    QCOMPARE(HtmlEntities::decode(text, HtmlEntities::Attribute), inAttribute);
}

void tst_HtmlEntities::plainText_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");
    QTest::newRow("tags and references") << "<b>Bold</b>er &amp; <i>more</i>" << "Bolder & more";
    QTest::newRow("bracket inside a value") << "<a title=\"x>y\">Link</a> text" << "Link text";
    QTest::newRow("script and style with content") << "a<script>if (x<y) z()</script>b<style>p{}</style>c" << "abc";
    QTest::newRow("comments, bogus ones") << "a<!-- <b> -->b<!x>c<?pi?>d</ e>f" << "abcdf";
    QTest::newRow("unclosed script stays") << "a<script>b" << "ab";
    QTest::newRow("tag that never closes stays") << "a <b c" << "a <b c";
    QTest::newRow("stray brackets") << "1 < 2 > 0" << "1 < 2 > 0";
    QTest::newRow("white space folded") << "  a\n\t b  " << "a b";
    // Regression: words on either side of a line break ran together.
    QTest::newRow("line breaks and blocks part words") << "A<br>B<br/>C</p><p>D<div>E</div>F<b>G</b>"
                                                       << "A B C D E FG";
}

// The text of an HTML fragment as a page would show it.
void tst_HtmlEntities::plainText()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    QCOMPARE(HtmlText::toPlainText(html), text);
}

VIRELON_TEST_MAIN(tst_HtmlEntities)
#include "tst_htmlentities.moc"
