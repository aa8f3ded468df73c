#include "sparqlterms.h"

#include <QDateTime>
#include <QUrl>
#include <QVariant>

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

} // namespace

namespace SparqlTerms {

bool iriRefExcludes(QChar c)
{
    return c.unicode() <= 0x20 || QStringLiteral("<>\"{}|^`\\").contains(c);
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

} // namespace SparqlTerms
