#include "virelonservice.h"

#include "daemoncall.h"

#include <QDBusConnection>
#include <QDBusReply>

namespace {

QStringList texts(const QList<QUrl>& urls)
{
    QStringList list;
    for (const QUrl& url : urls)
        list.append(url.toString());
    return list;
}

} // namespace

VirelonService::VirelonService(QObject* parent)
    : QObject(parent)
{
    // The daemon's signals by name, with the interface's types; the bus follows the service
    // name, so a daemon that starts later is heard too. Without a bus there is nothing to hear.
    const char* const relays[][2] = {
        {"refreshStarted", SIGNAL(refreshStarted(QString))},
        {"refreshCompleted", SIGNAL(refreshCompleted(QString))},
        {"refreshError", SIGNAL(refreshError(QString,int))},
        {"refreshState", SIGNAL(refreshState(int))},
        {"editChannelStatus", SIGNAL(editChannelStatus(QString,int))},
        {"enclosureDownloadStarted", SIGNAL(enclosureDownloadStarted(QString))},
        {"enclosureDownloadCompleted", SIGNAL(enclosureDownloadCompleted(QString,qlonglong))},
        {"enclosureDownloadError", SIGNAL(enclosureDownloadError(QStringList,int,qlonglong))},
        {"enclosureDownloadProgress", SIGNAL(enclosureDownloadProgress(QString,qlonglong,qlonglong,qlonglong))},
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        _lastError = bus.lastError();
        return;
    }
    for (const auto& relay : relays)
        bus.connect(DaemonCall::Service, DaemonCall::Path, DaemonCall::Interface, QLatin1String(relay[0]), this,
                    relay[1]);
}

void VirelonService::subscribe(const QList<QUrl>& links, const QString& pluginType)
{
    send(QStringLiteral("subscribe"), {texts(links), pluginType});
}

void VirelonService::unsubscribe(const QUrl& uri)
{
    send(QStringLiteral("unsubscribe"), {uri.toString()});
}

void VirelonService::refresh(const QList<QUrl>& uris)
{
    send(QStringLiteral("refresh"), {texts(uris)});
}

void VirelonService::cancelRefresh(const QList<QUrl>& uris)
{
    send(QStringLiteral("cancelRefresh"), {texts(uris)});
}

void VirelonService::downloadEnclosure(const QUrl& channelUri, QList<QUrl>& enclosureUris)
{
    sendEnclosures(QStringLiteral("downloadEnclosure"), channelUri, enclosureUris);
}

void VirelonService::cancelDownloadEnclosure(const QUrl& channelUri, QList<QUrl>& enclosureUris)
{
    sendEnclosures(QStringLiteral("cancelDownloadEnclosure"), channelUri, enclosureUris);
}

void VirelonService::pauseDownloadEnclosure(const QUrl& channelUri, QList<QUrl>& enclosureUris)
{
    sendEnclosures(QStringLiteral("pauseDownloadEnclosure"), channelUri, enclosureUris);
}

void VirelonService::resumeDownloadEnclosure(const QUrl& channelUri, QList<QUrl>& enclosureUris)
{
    sendEnclosures(QStringLiteral("resumeDownloadEnclosure"), channelUri, enclosureUris);
}

void VirelonService::editChannel(const QString& channelUri, const QMap<QString, QVariant>& changes)
{
    send(QStringLiteral("editChannel"), {channelUri, changes});
}

int VirelonService::state()
{
    const QDBusReply<int> reply = DaemonCall::call(QStringLiteral("state"));
    _lastError = reply.error();
    return reply.value();
}

QMap<QString, QVariant> VirelonService::channelStatus(const QStringList& uris)
{
    return askMap(QStringLiteral("channelStatus"), {uris});
}

QMap<QString, QVariant> VirelonService::enclosureStatus(const QStringList& uris)
{
    return askMap(QStringLiteral("enclosureStatus"), {uris});
}

QMap<QString, QVariant> VirelonService::transferDetails(const QString& transferId, const QStringList& fields)
{
    return askMap(QStringLiteral("transferDetails"), {transferId, fields});
}

void VirelonService::send(const QString& method, const QVariantList& arguments)
{
    const QDBusReply<void> reply = DaemonCall::call(method, arguments);
    _lastError = reply.error();
}

void VirelonService::sendEnclosures(const QString& method, const QUrl& channelUri, const QList<QUrl>& enclosureUris)
{
    send(method, {channelUri.toString(), texts(enclosureUris)});
}

QMap<QString, QVariant> VirelonService::askMap(const QString& method, const QVariantList& arguments)
{
    const QDBusReply<QVariantMap> reply = DaemonCall::call(method, arguments);
    _lastError = reply.error();
    return reply.value();
}
