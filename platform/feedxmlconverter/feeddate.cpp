#include "feeddate.h"

#include <QHash>
#include <QRegularExpression>

namespace {

const QStringList& monthNames()
{
    static const QStringList names = {QStringLiteral("jan"), QStringLiteral("feb"), QStringLiteral("mar"),
                                      QStringLiteral("apr"), QStringLiteral("may"), QStringLiteral("jun"),
                                      QStringLiteral("jul"), QStringLiteral("aug"), QStringLiteral("sep"),
                                      QStringLiteral("oct"), QStringLiteral("nov"), QStringLiteral("dec")};
    return names;
}

// Offset in minutes east of UTC of a zone as RFC 822 names it; false when unknown.
bool zoneOffset(const QString& zone, int* minutes)
{
    static const QHash<QString, int> named = {
        {QStringLiteral("UT"), 0},       {QStringLiteral("UTC"), 0},      {QStringLiteral("GMT"), 0},
        {QStringLiteral("Z"), 0},        {QStringLiteral("EST"), -5 * 60}, {QStringLiteral("EDT"), -4 * 60},
        {QStringLiteral("CST"), -6 * 60}, {QStringLiteral("CDT"), -5 * 60}, {QStringLiteral("MST"), -7 * 60},
        {QStringLiteral("MDT"), -6 * 60}, {QStringLiteral("PST"), -8 * 60}, {QStringLiteral("PDT"), -7 * 60},
    };
    const QString upper = zone.toUpper();
    const auto found = named.constFind(upper);
    if (found != named.constEnd()) {
        *minutes = *found;
        return true;
    }
    static const QRegularExpression numeric(QStringLiteral("^([+-])(\\d\\d):?(\\d\\d)$"));
    const QRegularExpressionMatch match = numeric.match(upper);
    if (match.hasMatch()) {
        const int value = match.captured(2).toInt() * 60 + match.captured(3).toInt();
        *minutes = match.captured(1) == QLatin1String("-") ? -value : value;
        return true;
    }
    // Military letters: their sign was defined backwards, so their meaning is unknown (-0000).
    if (upper.size() == 1 && upper.at(0) >= QLatin1Char('A') && upper.at(0) <= QLatin1Char('Y')
        && upper.at(0) != QLatin1Char('J')) {
        *minutes = 0;
        return true;
    }
    return false;
}

QDateTime utc(const QDate& date, const QTime& time, int offsetMinutes)
{
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::OffsetFromUTC, offsetMinutes * 60).toUTC();
}

} // namespace

namespace FeedDate {

QDateTime parse(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QDateTime();
    const QDateTime iso = parseIso8601(trimmed);
    return iso.isValid() ? iso : parseRfc822(trimmed);
}

QDateTime parseRfc822(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(
        "^(?:[A-Za-z]+,?\\s*)?(\\d{1,2})\\s+([A-Za-z]{3})[A-Za-z]*\\.?\\s+(\\d{2,4})\\s+"
        "(\\d{1,2}):(\\d\\d)(?::(\\d\\d))?\\s*([A-Za-z]+|[+-]\\d\\d:?\\d\\d)?$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return QDateTime();
    const int month = monthNames().indexOf(match.captured(2).toLower()) + 1;
    int year = match.captured(3).toInt();
    if (match.captured(3).size() == 2)
        year += year < 50 ? 2000 : 1900;
    else if (match.captured(3).size() == 3)
        year += 1900;
    int offset = 0;
    if (!match.captured(7).isEmpty() && !zoneOffset(match.captured(7), &offset))
        return QDateTime();
    return utc(QDate(year, month, match.captured(1).toInt()),
               QTime(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt()),
               offset);
}

QDateTime parseIso8601(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(
        "^(\\d{4})-?(\\d\\d)(?:-?(\\d\\d))?"
        "(?:[T ](\\d\\d):?(\\d\\d)(?::?(\\d\\d)(?:[.,](\\d+))?)?\\s*(Z|[+-]\\d\\d(?::?\\d\\d)?)?)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return QDateTime();
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).isEmpty() ? 1 : match.captured(3).toInt());
    const int milliseconds = match.captured(7).leftJustified(3, QLatin1Char('0')).left(3).toInt();
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt(),
                     milliseconds);
    QString zone = match.captured(8);
    if (zone.size() == 3)
        zone += QLatin1String("00");
    int offset = 0;
    if (!zone.isEmpty() && !zoneOffset(zone, &offset))
        return QDateTime();
    return utc(date, time, offset);
}

} // namespace FeedDate
