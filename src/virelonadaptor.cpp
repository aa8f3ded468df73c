#include "virelonadaptor.h"

#include <QMetaObject>

VirelonAdaptor::VirelonAdaptor(QObject* parent)
    : QDBusAbstractAdaptor(parent)
{
    setAutoRelaySignals(true);
}

void VirelonAdaptor::cancelDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    QMetaObject::invokeMethod(parent(), "cancelDownloadEnclosure", Q_ARG(QString, channelUri),
                              Q_ARG(QStringList, enclosureUriList));
}

// Accepted for the clients that still call it; there is nothing to register.
void VirelonAdaptor::cancelEnclosureDownloadProgress(const QString& enclosureUri)
{
    Q_UNUSED(enclosureUri)
}

void VirelonAdaptor::cancelRefresh(const QStringList& uriList)
{
    QMetaObject::invokeMethod(parent(), "cancelRefresh", Q_ARG(QStringList, uriList));
}

QVariantMap VirelonAdaptor::channelStatus(const QStringList& channelUriList)
{
    QVariantMap status;
    QMetaObject::invokeMethod(parent(), "channelStatus", Q_RETURN_ARG(QVariantMap, status),
                              Q_ARG(QStringList, channelUriList));
    return status;
}

QVariantMap VirelonAdaptor::conf()
{
    QVariantMap settings;
    QMetaObject::invokeMethod(parent(), "conf", Q_RETURN_ARG(QVariantMap, settings));
    return settings;
}

void VirelonAdaptor::downloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    QMetaObject::invokeMethod(parent(), "downloadEnclosure", Q_ARG(QString, channelUri),
                              Q_ARG(QStringList, enclosureUriList));
}

void VirelonAdaptor::editChannel(const QString& channelUri, const QVariantMap& properties)
{
    QMetaObject::invokeMethod(parent(), "editChannel", Q_ARG(QString, channelUri), Q_ARG(QVariantMap, properties));
}

QVariantMap VirelonAdaptor::enclosureStatus(const QStringList& enclosureUriList)
{
    QVariantMap status;
    QMetaObject::invokeMethod(parent(), "enclosureStatus", Q_RETURN_ARG(QVariantMap, status),
                              Q_ARG(QStringList, enclosureUriList));
    return status;
}

void VirelonAdaptor::pauseDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    QMetaObject::invokeMethod(parent(), "pauseDownloadEnclosure", Q_ARG(QString, channelUri),
                              Q_ARG(QStringList, enclosureUriList));
}

void VirelonAdaptor::refresh(const QStringList& uriList)
{
    QMetaObject::invokeMethod(parent(), "refresh", Q_ARG(QStringList, uriList));
}

// Accepted for the clients that still call it; there is nothing to register.
void VirelonAdaptor::registerEnclosureDownloadProgress(const QString& enclosureUri)
{
    Q_UNUSED(enclosureUri)
}

void VirelonAdaptor::resumeDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    QMetaObject::invokeMethod(parent(), "resumeDownloadEnclosure", Q_ARG(QString, channelUri),
                              Q_ARG(QStringList, enclosureUriList));
}

void VirelonAdaptor::setConf(const QVariantMap& settings)
{
    QMetaObject::invokeMethod(parent(), "setConf", Q_ARG(QVariantMap, settings));
}

int VirelonAdaptor::state()
{
    int deviceState = 0;
    QMetaObject::invokeMethod(parent(), "state", Q_RETURN_ARG(int, deviceState));
    return deviceState;
}

void VirelonAdaptor::subscribe(const QStringList& links, const QString& pluginType)
{
    QMetaObject::invokeMethod(parent(), "subscribe", Q_ARG(QStringList, links), Q_ARG(QString, pluginType));
}

QVariantMap VirelonAdaptor::transferDetails(const QString& transferId, const QStringList& fields)
{
    QVariantMap details;
    QMetaObject::invokeMethod(parent(), "transferDetails", Q_RETURN_ARG(QVariantMap, details),
                              Q_ARG(QString, transferId), Q_ARG(QStringList, fields));
    return details;
}

void VirelonAdaptor::unsubscribe(const QString& uri)
{
    QMetaObject::invokeMethod(parent(), "unsubscribe", Q_ARG(QString, uri));
}
