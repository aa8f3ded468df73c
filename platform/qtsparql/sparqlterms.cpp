#include "sparqlterms.h"

#include <QDateTime>
#include <QUrl>
#include <QVariant>
#include <QVector>

#include <algorithm>
#include <cstring>

namespace {

QString stringLiteral(const QString& text)
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
QString dateTimeLiteral(const QDateTime& time)
{
    if (!time.isValid())
        return QString();
    const QDateTime utc = time.toUTC();
    const QString text = utc.toString(utc.time().msec() ? Qt::ISODateWithMs : Qt::ISODate);
    if (text.isEmpty())
        return QString();
    return QLatin1Char('"') + text + QLatin1String("\"^^xsd:dateTime");
}

// Blanks, controls, the ASCII characters that end or break an IRI, and the non-characters and
// specials that IRIs leave out (RFC 3987), are no part of one as they are.
bool iriHolds(uint c)
{
    if (c < 0x80)
        return c > 0x20 && c != 0x7F && !std::strchr("<>\"{}|\\^`", int(c));
    const uint inPlane = c & 0xFFFF;
    return c >= 0xA0 && !(c >= 0xFDD0 && c <= 0xFDEF) && !(c <= 0xFFFF && inPlane >= 0xFFF0) && inPlane < 0xFFFE
           && !(c >= 0xE0000 && c <= 0xE0FFF);
}

bool isHexDigit(uint c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

namespace SparqlTerms {

bool iriRefExcludes(QChar c)
{
    return c.unicode() < 0x80 && !iriHolds(c.unicode());
}

QString valueTerm(const QVariant& value)
{
    switch (int(value.type())) {
    case QVariant::Url: return urlTerm(value.toUrl());
    case QVariant::DateTime: return dateTimeLiteral(value.toDateTime());
    case QVariant::Bool: return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::LongLong:
    case QVariant::ULongLong: return value.toString();
    case QVariant::Double: return QString::number(value.toDouble(), 'g', 17);
    case QVariant::Invalid: return QString();
    default: return stringLiteral(value.toString());
    }
}

QString urlTerm(const QUrl& url)
{
    if (url.isEmpty() || !url.isValid())
        return QString();
    const QString text = url.toString(QUrl::FullyEncoded);
    QString iri = QStringLiteral("<");
    for (const QChar c : text) {
        if (iriRefExcludes(c))
            iri += QLatin1Char('%') + QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            iri += c;
    }
    return iri + QLatin1Char('>');
}

QString iriTextTerm(const QString& iri)
{
    return QLatin1Char('<') + iri + QLatin1Char('>');
}

QString storedLink(const QString& link)
{
    // Most links need nothing: they are passed on without a copy.
    const bool plain = std::all_of(link.cbegin(), link.cend(), [](QChar c) {
        return c.unicode() < 0x80 && c != QLatin1Char('%') && iriHolds(c.unicode());
    });
    if (plain)
        return link;
    const QVector<uint> points = link.toUcs4();
    QString stored;
    stored.reserve(link.size());
    for (int i = 0; i < points.size(); ++i) {
        const uint c = points.at(i);
        const bool escape = c == '%' && i + 2 < points.size() && isHexDigit(points.at(i + 1))
                            && isHexDigit(points.at(i + 2));
        const bool kept = c == '%' ? escape : iriHolds(c);
        const QString character = QString::fromUcs4(&c, 1);
        stored += kept ? character : QString::fromLatin1(character.toUtf8().toPercentEncoding());
    }
    return stored;
}

QString linkTerm(const QString& link)
{
    return iriTextTerm(storedLink(link));
}

QString pathOrLinkTerm(const QString& text)
{
    return text.startsWith(QLatin1Char('/')) ? urlTerm(QUrl::fromLocalFile(text)) : linkTerm(text);
}

QString pathOrLinkText(const QString& iri)
{
    return iri.startsWith(QLatin1String("file:///")) ? QUrl(iri).toLocalFile() : iri;
}

} // namespace SparqlTerms
