#ifndef FEEDSETTINGSMANAGER_H
#define FEEDSETTINGSMANAGER_H

#include <QObject>
#include <QString>
#include <QVariant>

class QMutex;
class QSettings;

// The cached refresh and enclosure settings, loaded once at start-up and changed only
// through the service's setConf.
class FeedSettingsManager : public QObject
{
    Q_OBJECT

public:
    static const QString RefreshAutomaticKey;
    static const QString RefreshIntervalKey;
    static const QString RefreshOnlyWifiKey;
    static const QString EnclosureAutomaticKey;
    static const QString EnclosureOnlyWifiKey;

    static constexpr int MinimumRefreshInterval = 10;
    static constexpr int MaximumRefreshInterval = 1440;
    static const int DefaultRefreshInterval = 180;

    static FeedSettingsManager* instance();
    static void releaseInstance();

    void loadSettings(QSettings* settings);
    // True when the held value changed. A value that is no flag, or no number for the
    // interval, is refused with a warning naming the key; an interval is held to its range.
    bool changeRefreshSetting(const QString& key, const QVariant& value);
    bool changeEnclosureSetting(const QString& key, const QVariant& value);
    // The value held for one of the five keys, as it is to be stored; invalid for other keys.
    QVariant value(const QString& key) const;

    bool refreshAutomatic() const { return _refreshAutomatic; }
    bool refreshOnlyWifi() const { return _refreshOnlyWifi; }
    int refreshInterval() const { return _refreshInterval; }
    bool enclosureAutomatic() const { return _enclosureAutomatic; }
    bool enclosureOnlyWifi() const { return _enclosureOnlyWifi; }
    // Whether the network in use is a WLAN, for clients of the settings.
    bool isUsingWLAN() const;

private:
    Q_DISABLE_COPY(FeedSettingsManager)

    FeedSettingsManager();

    enum Change { Changed, Unchanged, Refused };

    static int boundedInterval(qlonglong minutes);
    static Change changeFlag(const QString& key, bool& flag, const QVariant& value);
    Change changeRefreshInterval(const QVariant& value);
    void createHeartbeat();
    void rearmHeartbeat();

    static FeedSettingsManager* _single;
    static QMutex _mutex;

    bool _refreshAutomatic;
    bool _refreshOnlyWifi;
    int _refreshInterval;
    bool _enclosureAutomatic;
    bool _enclosureOnlyWifi;
};

#endif
