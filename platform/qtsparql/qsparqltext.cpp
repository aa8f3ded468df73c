#include "qsparqltext.h"

#include <QDateTime>
#include <QUrl>

namespace {

// Characters that an IRIREF may not hold.
bool outsideIri(QChar c)
{
    return c.unicode() <= 0x20 || QStringLiteral("<>\"{}|^`\\").contains(c);
}

QString iriTerm(const QUrl& url)
{
    if (url.isEmpty() || !url.isValid())
        return QString();
    const QString text = url.toString(QUrl::FullyEncoded);
    QString iri = QStringLiteral("<");
    for (const QChar c : text) {
        if (outsideIri(c))
            iri += QLatin1Char('%') + QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            iri += c;
    }
    return iri + QLatin1Char('>');
}

QString stringTerm(const QString& text)
{
    QString literal;
    literal.reserve(text.size() + 2);
    literal += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': literal += QLatin1String("\\\\"); break;
        case '"': literal += QLatin1String("\\\""); break;
        case '\n': literal += QLatin1String("\\n"); break;
        case '\r': literal += QLatin1String("\\r"); break;
        case '\t': literal += QLatin1String("\\t"); break;
        case '\b': literal += QLatin1String("\\b"); break;
        case '\f': literal += QLatin1String("\\f"); break;
        default: literal += c;
        }
    }
    return literal + QLatin1Char('"');
}

// Times go in as UTC with "Z": a zone-less text would be read in the store's own zone.
QString dateTimeTerm(const QDateTime& time)
{
    if (!time.isValid())
        return QString();
    const QDateTime utc = time.toUTC();
    const QString text = utc.toString(utc.time().msec() ? Qt::ISODateWithMs : Qt::ISODate);
    if (text.isEmpty())
        return QString();
    return QLatin1Char('"') + text + QLatin1String("\"^^xsd:dateTime");
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Length of the string literal, IRI or comment that starts at pos; 0 when none does.
int skippedLength(const QString& text, int pos)
{
    const QChar c = text.at(pos);
    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
        const QString triple(3, c);
        const bool isLong = text.midRef(pos, 3) == triple;
        int i = pos + (isLong ? 3 : 1);
        while (i < text.size()) {
            if (text.at(i) == QLatin1Char('\\')) {
                i += 2;
                continue;
            }
            if (isLong ? text.midRef(i, 3) == triple : text.at(i) == c)
                return i + (isLong ? 3 : 1) - pos;
            ++i;
        }
        return text.size() - pos;
    }
    if (c == QLatin1Char('<')) {
        for (int i = pos + 1; i < text.size(); ++i) {
            if (text.at(i) == QLatin1Char('>'))
                return i + 1 - pos;
            if (outsideIri(text.at(i)))
                return 0; // a comparison, not an IRI
        }
        return 0;
    }
    if (c == QLatin1Char('#')) {
        const int end = text.indexOf(QLatin1Char('\n'), pos);
        return (end < 0 ? text.size() : end) - pos;
    }
    return 0;
}

// Walks the text once; at each "?" outside literals, IRIs and comments, replace() may give
// the text to put in place of what follows and how much of it to consume.
template<typename Replace>
QString rewrite(const QString& text, Replace replace)
{
    QString out;
    out.reserve(text.size());
    int pos = 0;
    while (pos < text.size()) {
        const int skip = skippedLength(text, pos);
        if (skip > 0) {
            out += text.midRef(pos, skip);
            pos += skip;
            continue;
        }
        int consumed = 0;
        if (text.at(pos) == QLatin1Char('?')) {
            const QString replacement = replace(pos, &consumed);
            if (consumed > 0) {
                out += replacement;
                pos += consumed;
                continue;
            }
        }
        out += text.at(pos++);
    }
    return out;
}

} // namespace

namespace QSparqlText {

QString term(const QVariant& value)
{
    switch (int(value.type())) {
    case QVariant::Url: return iriTerm(value.toUrl());
    case QVariant::DateTime: return dateTimeTerm(value.toDateTime());
    case QVariant::Bool: return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::LongLong:
    case QVariant::ULongLong: return value.toString();
    case QVariant::Double: return QString::number(value.toDouble(), 'g', 17);
    case QVariant::Invalid: return QString();
    default: return stringTerm(value.toString());
    }
}

QString substitute(const QString& text, const QHash<QString, QVariant>& values, QString* error)
{
    return rewrite(text, [&](int pos, int* consumed) {
        if (pos + 1 >= text.size() || text.at(pos + 1) != QLatin1Char(':'))
            return QString();
        int end = pos + 2;
        while (end < text.size() && isNameChar(text.at(end)))
            ++end;
        const QString name = text.mid(pos + 2, end - pos - 2);
        if (name.isEmpty())
            return QString();
        const QString written = term(values.value(name));
        if (written.isEmpty()) {
            if (error && error->isEmpty())
                *error = QStringLiteral("No usable value bound to ?:") + name;
            return QString();
        }
        *consumed = end - pos;
        return written;
    });
}

QString storeDialect(const QString& text)
{
    return rewrite(text, [&](int pos, int* consumed) {
        if (pos + 1 >= text.size() || text.at(pos + 1) != QLatin1Char('_'))
            return QString();
        *consumed = 1;
        return QStringLiteral("$");
    });
}

} // namespace QSparqlText
