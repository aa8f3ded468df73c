#ifndef SOLDRIN_H
#define SOLDRIN_H

#include "feeddevicestate.h"

#include <QObject>
#include <QStringList>
#include <QVariantMap>

class FeedChannel;
class FeedEnclosure;

// The transfer-list manager: keeps the queued and running refreshes and downloads of the
// feed daemon (in FeedTUIManager's table) and answers their details. No screen shows the list
// on this platform; transferDetails is the way to read it. The three request signals are
// emitted only by a user of the list, never by the manager on its own.
class Soldrin : public QObject
{
    Q_OBJECT

public:
    static Soldrin* instance();
    // Ends the manager, its connections and the table.
    static void releaseInstance();

    // Downloads started and not yet ended.
    int activeTransfers() const;
    QVariantMap transferDetails(const QString& transferId, const QStringList& fields) const;
    void updateTransferOnSubscription(const QStringList& channelUris);
    void updateTransferOnManualEnclosureQueued(const FeedChannel& channel, const FeedEnclosure& enclosure);

public slots:
    void updateTransferOnFeedDownloadComplete(const QString& channelUri);
    void updateTransferOnFeedDownloadFailure(const QString& channelUri, int errorCode);
    void updateTransferOnUnsubscription(const QStringList& channelUris);
    void updateTransferOnEnclosureDownloadStart(const FeedChannel& channel, const FeedEnclosure& enclosure);
    void updateTransferOnEnclosureDownloadComplete(const QString& channelUri, const FeedEnclosure& enclosure,
                                                   qlonglong timeElapsed);
    void updateTransferOnEnclosureDownloadFail(const QString& channelUri, const FeedEnclosure& enclosure,
                                               int errorCode, qlonglong timeElapsed);
    void updateTransferOnDeviceStateChange(FeedDeviceState::State state, FeedDeviceState::Change change);
    void updateTransferOnEnclosureDownloadProgress(const FeedEnclosure& enclosure, qlonglong total,
                                                   qlonglong received, qlonglong remaining);

signals:
    void cancelEnclosureDownload(const QString& channelUri, const FeedEnclosure& enclosure);
    void cancelRefresh(const QStringList& channelUris);
    void downloadEnclosure(const QString& channelUri, const FeedEnclosure& enclosure);

private:
    Q_DISABLE_COPY(Soldrin)

    Soldrin() = default;

    static Soldrin* _single;
};

#endif
