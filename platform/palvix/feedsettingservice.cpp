#include "feedsettingservice.h"

#include "daemoncall.h"

#include <QDBusReply>

FeedSettingService::FeedSettingService(QObject* parent)
    : QObject(parent)
{
}

QMap<QString, QVariant> FeedSettingService::conf()
{
    const QDBusReply<QVariantMap> reply = DaemonCall::call(QStringLiteral("conf"));
    _lastError = reply.error();
    return reply.value();
}

void FeedSettingService::setConf(const QMap<QString, QVariant>& settings)
{
    const QDBusReply<void> reply = DaemonCall::call(QStringLiteral("setConf"), {settings});
    _lastError = reply.error();
}
