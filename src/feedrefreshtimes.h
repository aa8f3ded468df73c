#ifndef FEEDREFRESHTIMES_H
#define FEEDREFRESHTIMES_H

#include <QDateTime>
#include <QHash>
#include <QString>

// The last-update times of refreshes answered "not modified", written for many channels in one
// update: when the work runs out, or once a slice of them waits.
class FeedRefreshTimes
{
public:
    static const int MaximumWaiting = 100;

    FeedRefreshTimes() = default;

    void add(const QString& channelUri, const QDateTime& time);
    void forget(const QString& channelUri);
    void write();

private:
    Q_DISABLE_COPY(FeedRefreshTimes)

    QHash<QString, QDateTime> _times;
};

#endif
