#ifndef FEEDPLUGININTERFACE_H
#define FEEDPLUGININTERFACE_H

#include "feedchannel.h"
#include "feedenclosure.h"

#include <QObject>
#include <QVariantMap>

// What a fetching plug-in offers the daemon. The public slots declared here are the only
// calls FeedPluginApplication delivers; the signals are forwarded to the daemon as records.
// Each download ends with exactly one of the four Finished/Failed signals.
class FeedPluginInterface : public QObject
{
    Q_OBJECT

public:
    explicit FeedPluginInterface(QObject* parent = nullptr);
    ~FeedPluginInterface() override;

public slots:
    virtual void downloadFeeds(const FeedChannel& channel) = 0;
    virtual void downloadEnclosure(const FeedEnclosure& enclosure) = 0;
    virtual void cancelDownload() = 0;
    virtual void pauseDownloadEnclosure() = 0;
    virtual void resumeDownloadEnclosure(const FeedEnclosure& enclosure) = 0;
    virtual FeedChannel channel() = 0;

signals:
    void downloadFeedsFinished();
    void downloadFeedsFailed(int errorCode);
    void downloadEnclosureFinished(const QVariantMap& result);
    void downloadEnclosureFailed(int errorCode);
    void enclosureDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);

private:
    Q_DISABLE_COPY(FeedPluginInterface)
};

#endif
