#ifndef FEEDTRANSFERHELPER_H
#define FEEDTRANSFERHELPER_H

#include <QLibrary>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class FeedChannel;
class FeedEnclosure;
class FeedTaskManager;
class QMutex;
class Soldrin;

// Reports the scheduler's queued and running work to the transfer-list library while there is
// work, and passes the list's cancel and download requests back to the scheduler. The library
// is held loaded from the first queued work until the scheduler sleeps with nothing active.
class FeedTransferHelper : public QObject
{
    Q_OBJECT

public:
    static FeedTransferHelper* instance();
    static void releaseInstance();

public slots:
    void handleAwake();
    void handleSleep();
    void cancelEnclosureDownload(const QString& channelUri, const FeedEnclosure& enc);
    void downloadEnclosure(const QString& channelUri, const FeedEnclosure& enc);
    void cancelEnclosureDownload(const QString& channelUri, const QList<FeedEnclosure>& encList);
    void cancelRefresh(const QStringList& channelUriList);
    void enclosureDownloadStarted(const FeedChannel& channel, const FeedEnclosure& enclosure);
    void enclosureDownloaded(const QString& channelUri, const FeedEnclosure& enclosure, qlonglong timeElapsed);
    void enclosureDownloadFailed(const QString& channelUri, const FeedEnclosure& enc, int errorCode,
                                 qlonglong timeElapsed);
    void feedDownloadQueued(const QStringList& channelUriList);
    void manualEnclosureDownloadQueued(const FeedChannel& channel, const FeedEnclosure& enclosure);
    QVariantMap transferDetails(const QString& transferId, const QStringList& fields);

private:
    Q_DISABLE_COPY(FeedTransferHelper)

    FeedTransferHelper();

    // Loaded and holding a manager: an unload that failed leaves the library loaded without one.
    bool isLoaded() const;
    void connectManager();
    void disconnectProgress();

    static FeedTransferHelper* _single;
    static QMutex _mutex;

    QLibrary _transferLibrary;
    Soldrin* _transferManager;
    FeedTaskManager* _taskManager;
};

#endif
