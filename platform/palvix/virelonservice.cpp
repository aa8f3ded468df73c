#include "virelonservice.h"

#include "daemoncall.h"
#include "daemonsignalwatch.h"

#include <QDBusReply>
#include <QMetaMethod>

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
    : QObject(parent), _watch(nullptr)
{
}

// The daemon's signals are listened to from the first connection to one of them on.
void VirelonService::connectNotify(const QMetaMethod& signal)
{
    if (_watch || signal.enclosingMetaObject() != &staticMetaObject)
        return;
    _watch = new DaemonSignalWatch(this);
    connect(_watch, &DaemonSignalWatch::received, this, &VirelonService::relay);
    connect(_watch, &DaemonSignalWatch::busDisconnected, this, &VirelonService::busDisconnected);
    _lastError = _watch->start();
}

// Each signal of the daemon under its own name, when its arguments are the interface's.
void VirelonService::relay(const QString& member, const QString& signature, const QVariantList& arguments)
{
    static const char* const relays[][3] = {
        {"refreshStarted", "s", "refreshStarted(QString)"},
        {"refreshCompleted", "s", "refreshCompleted(QString)"},
        {"refreshError", "si", "refreshError(QString,int)"},
        {"refreshState", "i", "refreshState(int)"},
        {"editChannelStatus", "si", "editChannelStatus(QString,int)"},
        {"enclosureDownloadStarted", "s", "enclosureDownloadStarted(QString)"},
        {"enclosureDownloadCompleted", "sx", "enclosureDownloadCompleted(QString,qlonglong)"},
        {"enclosureDownloadError", "asix", "enclosureDownloadError(QStringList,int,qlonglong)"},
        {"enclosureDownloadProgress", "sxxx", "enclosureDownloadProgress(QString,qlonglong,qlonglong,qlonglong)"},
    };
    for (const auto& entry : relays) {
        if (member != QLatin1String(entry[0]) || signature != QLatin1String(entry[1]))
            continue;
        QGenericArgument values[4];
        for (int i = 0; i < arguments.size(); ++i)
            values[i] = QGenericArgument(arguments.at(i).typeName(), arguments.at(i).constData());
        metaObject()->method(metaObject()->indexOfSignal(entry[2]))
            .invoke(this, Qt::DirectConnection, values[0], values[1], values[2], values[3]);
        return;
    }
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
