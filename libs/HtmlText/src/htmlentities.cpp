#include "htmlentities.h"

#include <QHash>

namespace {

struct Named
{
    QString text;
    bool legacy; // also read without its ";"
};

const QHash<QString, Named>& namedReferences()
{
    static const QHash<QString, Named> names = [] {
        QHash<QString, Named> table;
        const auto add = [&table](const char* name, uint code, bool legacy = false) {
            table.insert(QString::fromLatin1(name), {QString::fromUcs4(&code, 1), legacy});
        };
        for (const char* name : {"amp", "AMP"})
            add(name, '&', true);
        for (const char* name : {"lt", "LT"})
            add(name, '<', true);
        for (const char* name : {"gt", "GT"})
            add(name, '>', true);
        for (const char* name : {"quot", "QUOT"})
            add(name, '"', true);
        add("nbsp", 0xA0, true);
        add("copy", 0xA9, true);
        add("COPY", 0xA9, true);
        add("reg", 0xAE, true);
        add("REG", 0xAE, true);
        add("apos", '\'');
        // What a URL's scheme and its end may be written with.
        add("Tab", '\t');
        add("NewLine", '\n');
        add("colon", ':');
        add("sol", '/');
        add("quest", '?');
        add("num", '#');
        add("period", '.');
        add("plus", '+');
        add("excl", '!');
        add("semi", ';');
        add("comma", ',');
        add("equals", '=');
        add("lpar", '(');
        add("rpar", ')');
        add("percnt", '%');
        add("commat", '@');
        add("lowbar", '_');
        // Punctuation of prose.
        add("ndash", 0x2013);
        add("mdash", 0x2014);
        add("lsquo", 0x2018);
        add("rsquo", 0x2019);
        add("sbquo", 0x201A);
        add("ldquo", 0x201C);
        add("rdquo", 0x201D);
        add("bdquo", 0x201E);
        add("hellip", 0x2026);
        add("laquo", 0xAB);
        add("raquo", 0xBB);
        add("middot", 0xB7);
        add("bull", 0x2022);
        add("trade", 0x2122);
        add("euro", 0x20AC);
        add("deg", 0xB0);
        return table;
    }();
    return names;
}

// A browser reads these code points of a numeric reference as windows-1252 bytes.
const ushort windows1252[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178,
};

bool isAsciiAlphanumeric(QChar character)
{
    const ushort code = character.unicode();
    return (code >= '0' && code <= '9') || (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z');
}

int digitValue(QChar character, int base)
{
    const ushort code = character.unicode();
    if (code >= '0' && code <= '9')
        return code - '0';
    if (base == 16 && code >= 'a' && code <= 'f')
        return code - 'a' + 10;
    if (base == 16 && code >= 'A' && code <= 'F')
        return code - 'A' + 10;
    return -1;
}

// Appends the character of the numeric reference at position ("&#"); returns its end, or
// position when there are no digits.
int appendNumeric(const QStringRef& text, int position, QString& decoded)
{
    int index = position + 2;
    int base = 10;
    if (index < text.size() && (text.at(index) == QLatin1Char('x') || text.at(index) == QLatin1Char('X'))) {
        base = 16;
        ++index;
    }
    const int digits = index;
    uint code = 0;
    for (int digit; index < text.size() && (digit = digitValue(text.at(index), base)) >= 0; ++index)
        code = code > 0x10FFFF ? code : code * base + digit;
    if (index == digits)
        return position;
    if (index < text.size() && text.at(index) == QLatin1Char(';'))
        ++index;
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    else if (code >= 0x80 && code <= 0x9F)
        code = windows1252[code - 0x80];
    decoded += QString::fromUcs4(&code, 1);
    return index;
}

// Appends the character of the named reference at position ("&" and a letter or digit);
// returns its end, or position when it is not read.
int appendNamed(const QStringRef& text, int position, HtmlEntities::Context context, QString& decoded)
{
    int index = position + 1;
    while (index < text.size() && isAsciiAlphanumeric(text.at(index)))
        ++index;
    const bool terminated = index < text.size() && text.at(index) == QLatin1Char(';');
    const auto found = namedReferences().constFind(text.mid(position + 1, index - position - 1).toString());
    if (found == namedReferences().constEnd() || (!terminated && !found->legacy))
        return position;
    if (!terminated && context == HtmlEntities::Attribute && index < text.size() && text.at(index) == QLatin1Char('='))
        return position;
    decoded += found->text;
    return terminated ? index + 1 : index;
}

} // namespace

QString HtmlEntities::decode(const QStringRef& text, Context context)
{
    int position = text.indexOf(QLatin1Char('&'));
    if (position < 0)
        return text.toString();
    QString decoded;
    decoded.reserve(text.size());
    int copied = 0;
    while (position >= 0) {
        int end = position;
        QString character;
        if (position + 1 < text.size()) {
            if (text.at(position + 1) == QLatin1Char('#'))
                end = appendNumeric(text, position, character);
            else if (isAsciiAlphanumeric(text.at(position + 1)))
                end = appendNamed(text, position, context, character);
        }
        if (end > position) {
            decoded += text.mid(copied, position - copied);
            decoded += character;
            copied = end;
        }
        position = text.indexOf(QLatin1Char('&'), qMax(end, position + 1));
    }
    decoded += text.mid(copied);
    return decoded;
}
