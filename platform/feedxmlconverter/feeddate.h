#ifndef FEEDDATE_H
#define FEEDDATE_H

#include <QDateTime>
#include <QString>

// Dates as feeds write them: RFC 822 (with the named zones of North America and the
// military letters) and ISO 8601 (date-only forms included). The result is in UTC; a text
// that is neither gives an invalid date-time, never the current time.
namespace FeedDate {

QDateTime parse(const QString& text);
QDateTime parseRfc822(const QString& text);
QDateTime parseIso8601(const QString& text);

} // namespace FeedDate

#endif
