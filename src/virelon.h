#ifndef VIRELON_H
#define VIRELON_H

#include "feedchannel.h"
#include "feedenclosure.h"
#include "feedrefreshtimes.h"
#include "feedtrackersparql.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariantMap>

class QSettings;

// The service object: every call of the D-Bus interface reaches one of its public slots,
// and its signals are the interface's signals.
class Virelon : public QObject
{
    Q_OBJECT

public:
    ~Virelon() override;

    static Virelon* instance();

    bool start();

    QString escapeSettingsKey(const QString& uri) const;
    QString unescapeSettingsKey(const QString& key) const;

    void cancelAll();

signals:
    void refreshStarted(const QString& channelUri);
    void refreshCompleted(const QString& channelUri);
    void refreshError(const QString& channelUri, int errorCode);
    void refreshState(int state);
    void editChannelStatus(const QString& channelUri, int errorCode);
    void enclosureDownloadCompleted(const QString& enclosureUri, qlonglong timeElapsed);
    void enclosureDownloadError(const QStringList& enclosureUriList, int errorCode, qlonglong timeElapsed);
    void enclosureDownloadStarted(const QString& enclosureUri);
    void enclosureDownloadProgress(const QString& enclosureUri, qlonglong totalSize, qlonglong downloadedSize,
                                   qlonglong timeRemaining);

public slots:
    void refresh(const QStringList& uriList);
    void cancelRefresh(const QStringList& uriList);
    void downloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList);
    void cancelDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList);
    void pauseDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList);
    void resumeDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList);
    void setConf(const QVariantMap& settings);
    QVariantMap conf();
    void subscribe(const QStringList& links, const QString& pluginType);
    void unsubscribe(const QString& uri);
    void editChannel(const QString& channelUri, const QVariantMap& properties);
    QVariantMap channelStatus(const QStringList& channelUriList);
    QVariantMap enclosureStatus(const QStringList& enclosureUriList);
    void registerEnclosure(const QString& enclosureUri);
    void cancelRegisterEnclosure(const QString& enclosureUri);
    int state();
    QVariantMap transferDetails(const QString& transferId, const QStringList& fields);

private slots:
    void feedsDownloaded(const FeedChannel& channel);
    void feedsDownloadFailed(const QString& channelUri, int errorCode);
    void enclosureDownloadStarted(const FeedChannel& channel, const FeedEnclosure& enclosure);
    void enclosureDownloaded(const QString& channelUri, const FeedEnclosure& enclosure, qlonglong timeElapsed);
    void enclosureDownloadFailed(const QString& channelUri, const FeedEnclosure& enclosure, int errorCode,
                                 qlonglong timeElapsed);
    void enclosureDownloadProgress(const FeedEnclosure& enclosure, qlonglong bytesTotal, qlonglong bytesReceived,
                                   qlonglong timeRemaining);
    void hibernate();
    void busDisconnected();

private:
    Q_DISABLE_COPY(Virelon)

    Virelon();

    void initSettings();
    bool copySystemSettings();
    void initErrorStores();
    bool changeSetting(const QString& key, const QVariant& value);
    QVariantMap statusMap(QSettings* errors, const QStringList& uris, const QStringList& pending) const;
    void storeChannelError(const QString& channelUri, int errorCode);
    void removeChannelError(const QString& channelUri);

    // The first count messages formatted, the others as fetched.
    QList<FeedMessage> formatMessages(const QList<FeedMessage>& messages, int count);
    bool storeRefresh(const FeedChannel& channel, const FeedTrackerSparql::StoredChannel& stored,
                      const QList<FeedMessage>& fresh, QSet<int>* unwritten);
    // The messages of the channel the store holds, formatted; the first `formatted` are already.
    QList<FeedMessage> messagesHeldByStore(const FeedChannel& channel, int formatted, const QList<FeedMessage>& added,
                                           const QSet<int>& unwritten, const QStringList& heldLinks) const;
    void queueEnclosures(const FeedChannel& channel, bool completeRefresh);
    QList<FeedEnclosure> essentialEnclosuresToDownload(const FeedChannel& channel);
    QList<FeedEnclosure> optionalEnclosuresToDownload(const FeedChannel& channel);
    bool downloadOptional();
    void localizeChannelIcon(FeedChannel& channel);
    FeedEnclosure channelIconToDownload(const FeedChannel& channel);

    // The stored record of each enclosure URI of a request, in order; an empty one for a URI
    // the store does not hold.
    QList<FeedEnclosure> storedEnclosures(const QStringList& enclosureUris) const;
    void removeEnclosureError(const QString& enclosureUri);
    static bool hasUri(const FeedEnclosure& enclosure);
    static bool isWorkableEdit(const QVariantMap& properties);

    QSettings* _settings;
    QSettings* _errors;
    QSettings* _enclosureErrors;
    // Downloads whose start went out on the bus and whose end has not.
    QSet<QString> _announcedEnclosures;
    // The last enclosure whose size and type went into the store.
    FeedEnclosure _sizedEnclosure;
    FeedRefreshTimes _refreshTimes;
};

#endif
