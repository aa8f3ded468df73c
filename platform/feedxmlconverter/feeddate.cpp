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
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetMinutes * 60);
}

// Reads the forms that nearly every feed uses straight from their characters; a text in any
// other form is left to the patterns.
class DateScanner
{
public:
    explicit DateScanner(const QString& text)
        : _at(text.constData())
        , _end(text.constData() + text.size())
    {
    }

    // "Tue, 08 Dec 2026 21:40:37 +0000", the day name and the zone optional.
    bool rfc822(QDateTime* result)
    {
        if (letters() == 3 && !(character(',') && character(' ')))
            return false;
        int day, year, hour, minute, second, month;
        if (!number(1, 2, &day) || !character(' ') || !monthName(&month) || !character(' ')
            || !number(4, 4, &year) || !character(' ') || !clock(&hour, &minute, &second))
            return false;
        int offset = 0;
        if (_at != _end && !(character(' ') && zone(&offset)))
            return false;
        *result = utc(QDate(year, month, day), QTime(hour, minute, second), offset);
        return true;
    }

    // "2026-12-08T21:40:37.25+01:00" with "Z" or an offset, or the date alone.
    bool iso8601(QDateTime* result)
    {
        int year, month, day;
        if (!number(4, 4, &year) || !character('-') || !number(2, 2, &month) || !character('-')
            || !number(2, 2, &day))
            return false;
        if (_at == _end) {
            *result = utc(QDate(year, month, day), QTime(0, 0), 0);
            return true;
        }
        int hour, minute, second, milliseconds = 0, offset = 0;
        if (!character('T') || !clock(&hour, &minute, &second))
            return false;
        if (character('.') && !fraction(&milliseconds))
            return false;
        if (!character('Z') && !isoOffset(&offset))
            return false;
        if (_at != _end)
            return false;
        *result = utc(QDate(year, month, day), QTime(hour, minute, second, milliseconds), offset);
        return true;
    }

private:
    bool character(char c)
    {
        if (_at == _end || *_at != QLatin1Char(c))
            return false;
        ++_at;
        return true;
    }

    static bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }
    static bool isLetter(QChar c)
    {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
    }

    bool number(int least, int most, int* value)
    {
        int count = 0;
        *value = 0;
        while (_at != _end && count < most && isDigit(*_at)) {
            *value = *value * 10 + (_at++->unicode() - '0');
            ++count;
        }
        return count >= least && (_at == _end || !isDigit(*_at));
    }

    // Skips ASCII letters; how many there were.
    int letters()
    {
        const QChar* start = _at;
        while (_at != _end && isLetter(*_at))
            ++_at;
        return int(_at - start);
    }

    bool monthName(int* month)
    {
        const QChar* start = _at;
        if (letters() != 3)
            return false;
        *month = monthNames().indexOf(QString(start, 3).toLower()) + 1;
        return *month > 0;
    }

    bool clock(int* hour, int* minute, int* second)
    {
        return number(2, 2, hour) && character(':') && number(2, 2, minute) && character(':') && number(2, 2, second);
    }

    bool fraction(int* milliseconds)
    {
        int digits = 0;
        *milliseconds = 0;
        for (; _at != _end && isDigit(*_at); ++_at, ++digits) {
            if (digits < 3)
                *milliseconds = *milliseconds * 10 + (_at->unicode() - '0');
        }
        for (int i = digits; i < 3; ++i)
            *milliseconds *= 10;
        return digits > 0;
    }

    bool isoOffset(int* minutes)
    {
        const bool east = character('+');
        if (!east && !character('-'))
            return false;
        int hours, rest;
        if (!number(2, 2, &hours) || !character(':') || !number(2, 2, &rest))
            return false;
        *minutes = (east ? 1 : -1) * (hours * 60 + rest);
        return true;
    }

    bool zone(int* minutes)
    {
        const QChar* start = _at;
        if (character('+') || character('-')) {
            int value;
            if (!number(4, 4, &value) || _at != _end)
                return false;
            const int offset = value / 100 * 60 + value % 100;
            *minutes = *start == QLatin1Char('-') ? -offset : offset;
            return true;
        }
        return letters() > 0 && _at == _end && zoneOffset(QString(start, int(_at - start)), minutes);
    }

    const QChar* _at;
    const QChar* _end;
};

} // namespace

namespace FeedDate {

QDateTime parse(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QDateTime();
    QDateTime direct;
    if (DateScanner(trimmed).iso8601(&direct) || DateScanner(trimmed).rfc822(&direct))
        return direct;
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
