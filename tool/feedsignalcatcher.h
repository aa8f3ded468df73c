#ifndef FEEDSIGNALCATCHER_H
#define FEEDSIGNALCATCHER_H

#include <QObject>
#include <QString>
#include <QStringList>

// Prints each of the daemon's signals with its arguments, the time of day and a separator.
class FeedSignalCatcher : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FeedSignalCatcher)

public:
    FeedSignalCatcher();

public slots:
    void refreshStarted(const QString& channelUri);
    void refreshCompleted(const QString& channelUri);
    void refreshError(const QString& channelUri, int errorCode);
    void refreshState(int errorCode);
    void editChannelStatus(const QString& channelUri, int errorCode);
    void enclosureDownloadCompleted(const QString& enclosureUri, qlonglong timeElapsed);
    void enclosureDownloadError(const QStringList& enclosureUriList, int errorCode, qlonglong timeElapsed);
    void enclosureDownloadStarted(const QString& enclosureUri);
    void enclosureDownloadProgress(const QString& enclosureUri, qlonglong totalSize, qlonglong downloadedSize,
                                   qlonglong timeRemaining);
};

#endif
