#ifndef FEEDSETTINGSERVICE_H
#define FEEDSETTINGSERVICE_H

#include <QDBusError>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariant>

// The daemon's settings over D-Bus. Every call waits for the daemon's reply; lastError() tells
// whether the last one failed.
class FeedSettingService : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FeedSettingService)

public:
    explicit FeedSettingService(QObject* parent = nullptr);

    QMap<QString, QVariant> conf();
    void setConf(const QMap<QString, QVariant>& settings);

    QDBusError lastError() const { return _lastError; }

private:
    QDBusError _lastError;
};

#endif
