#ifndef FEEDREFRESHTIMES_H
#define FEEDREFRESHTIMES_H

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QTimer>

// The last-update times of refreshes answered "not modified", written for many channels in one
// update: when the work runs out, once a slice of them waits, or a few seconds after the first of
// them, for a long download keeps the work from running out for hours.
class FeedRefreshTimes
{
public:
    static const int MaximumWaiting = 100;
    static const int MaximumWaitMs = 5000;

    FeedRefreshTimes();

    void add(const QString& channelUri, const QDateTime& time);
    void forget(const QString& channelUri);
    void write();

private:
    Q_DISABLE_COPY(FeedRefreshTimes)

    QHash<QString, QDateTime> _times;
    QTimer _timer;
};

#endif
