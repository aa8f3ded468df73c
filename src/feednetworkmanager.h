#ifndef FEEDNETWORKMANAGER_H
#define FEEDNETWORKMANAGER_H

#include <QObject>
#include <QString>

class QMutex;
class QNetworkConfiguration;
class QNetworkConfigurationManager;
class QNetworkSession;

// The daemon's one network session: opens it on request, follows the configurations that the
// bearer back end announces, sets the application proxy after each opening, and reports every
// outcome through connectionStateChanged.
class FeedNetworkManager : public QObject
{
    Q_OBJECT

public:
    ~FeedNetworkManager() override;

    static FeedNetworkManager* instance();
    static void releaseInstance();

    void closeConnection();
    bool isValidIAP(const QNetworkConfiguration& config);

signals:
    void connectionStateChanged(bool isConnected);

public slots:
    bool isConnected() const;
    bool isUsingWLAN() const;
    bool createConnection(bool hidePopup = false);

private slots:
    void configurationChanged(const QNetworkConfiguration& config);
    void configurationRemoved(const QNetworkConfiguration& config);
    void configurationAdded(const QNetworkConfiguration& config);
    void onlineStateChanged(bool isOnline);
    bool createConnection(const QNetworkConfiguration& config, bool hidePopup = false);

private:
    Q_DISABLE_COPY(FeedNetworkManager)

    enum ConnectionState {
        Disconnected = 0,
        Connecting = 1,
        Connected = 2
    };

    FeedNetworkManager();

    void retrieveAndSetproxy();
    QNetworkConfiguration activeConfiguration() const;

    void logConfiguration(const QNetworkConfiguration& config) const;
    bool isOpenConfiguration(const QNetworkConfiguration& config) const;
    bool worthSwitchingTo(const QNetworkConfiguration& config) const;
    void switchTo(const QNetworkConfiguration& config);
    void connectElsewhere();
    bool useHostNetwork();
    bool openSession(const QNetworkConfiguration& config, bool hidePopup);

    static FeedNetworkManager* _single;
    static QMutex _mutex;

    int _connectionState;
    QNetworkSession* _session;
    QNetworkConfigurationManager* _configManager;
    QString _activeConfigId;
    bool _unmanagedReported;
};

#endif
