#ifndef VIRELONSERVICE_H
#define VIRELONSERVICE_H

#include <QDBusError>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

class DaemonSignalWatch;

// The daemon's requests over D-Bus, one method call each, and its signals re-emitted under the
// same names while an event loop runs. Every call waits for the daemon's reply; lastError()
// tells whether the last one failed, and a failed call's result is a default value. The first
// connection to a signal starts listening; until the next call, lastError() then tells whether
// the bus was reached, so whether any signal can come.
class VirelonService : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(VirelonService)

public:
    explicit VirelonService(QObject* parent = nullptr);

    void subscribe(const QList<QUrl>& links, const QString& pluginType);
    void unsubscribe(const QUrl& uri);
    void refresh(const QList<QUrl>& uris);
    void cancelRefresh(const QList<QUrl>& uris);
    void downloadEnclosure(const QUrl& channelUri, QList<QUrl>& enclosureUris);
    void cancelDownloadEnclosure(const QUrl& channelUri, QList<QUrl>& enclosureUris);
    void pauseDownloadEnclosure(const QUrl& channelUri, QList<QUrl>& enclosureUris);
    void resumeDownloadEnclosure(const QUrl& channelUri, QList<QUrl>& enclosureUris);
    void editChannel(const QString& channelUri, const QMap<QString, QVariant>& changes);
    int state();
    QMap<QString, QVariant> channelStatus(const QStringList& uris);
    QMap<QString, QVariant> enclosureStatus(const QStringList& uris);
    QMap<QString, QVariant> transferDetails(const QString& transferId, const QStringList& fields);

    QDBusError lastError() const { return _lastError; }

signals:
    void refreshStarted(const QString& channelUri);
    void refreshCompleted(const QString& channelUri);
    void refreshError(const QString& channelUri, int errorCode);
    void refreshState(int state);
    void editChannelStatus(const QString& channelUri, int errorCode);
    void enclosureDownloadStarted(const QString& enclosureUri);
    void enclosureDownloadCompleted(const QString& enclosureUri, qlonglong timeElapsed);
    void enclosureDownloadError(const QStringList& enclosureUriList, int errorCode, qlonglong timeElapsed);
    void enclosureDownloadProgress(const QString& enclosureUri, qlonglong totalSize, qlonglong downloadedSize,
                                   qlonglong timeRemaining);
    // The session bus went away while the signals were listened to.
    void busDisconnected();

protected:
    void connectNotify(const QMetaMethod& signal) override;

private:
    void relay(const QString& member, const QString& signature, const QVariantList& arguments);
    void send(const QString& method, const QVariantList& arguments);
    void sendEnclosures(const QString& method, const QUrl& channelUri, const QList<QUrl>& enclosureUris);
    QMap<QString, QVariant> askMap(const QString& method, const QVariantList& arguments);

    QDBusError _lastError;
    DaemonSignalWatch* _watch;
};

#endif
