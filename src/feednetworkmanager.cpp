#include "feednetworkmanager.h"

#include "feedlog.h"

#include <QMutex>
#include <QNetworkConfigurationManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QNetworkSession>
#include <QUrl>

FeedNetworkManager* FeedNetworkManager::_single = nullptr;
QMutex FeedNetworkManager::_mutex;

namespace {

const char Category[] = "NetworkManager";
const QString ConnectInBackground = QStringLiteral("ConnectInBackground");
const QString ActiveConfigurationProperty = QStringLiteral("ActiveConfiguration");
const QUrl ProxyProbeUrl(QStringLiteral("http://www.example.com/"));
const int OpenTimeout = 300000;

// VIRELON_NETWORK_OPEN_TIMEOUT_MS shortens the opening wait for tests.
int openTimeout()
{
    const int configured = qEnvironmentVariableIntValue("VIRELON_NETWORK_OPEN_TIMEOUT_MS");
    return configured > 0 ? configured : OpenTimeout;
}

bool isActive(const QNetworkConfiguration& config)
{
    return config.state() == QNetworkConfiguration::Active;
}

} // namespace

FeedNetworkManager::FeedNetworkManager()
    : _connectionState(Disconnected)
    , _session(nullptr)
    , _configManager(new QNetworkConfigurationManager(this))
    , _unmanagedReported(false)
{
    _configManager->updateConfigurations();
    connect(_configManager, SIGNAL(configurationChanged(QNetworkConfiguration)), this,
            SLOT(configurationChanged(QNetworkConfiguration)));
    connect(_configManager, SIGNAL(configurationAdded(QNetworkConfiguration)), this,
            SLOT(configurationAdded(QNetworkConfiguration)));
    connect(_configManager, SIGNAL(configurationRemoved(QNetworkConfiguration)), this,
            SLOT(configurationRemoved(QNetworkConfiguration)));
    connect(_configManager, SIGNAL(onlineStateChanged(bool)), this, SLOT(onlineStateChanged(bool)));
}

FeedNetworkManager::~FeedNetworkManager()
{
    closeConnection();
}

FeedNetworkManager* FeedNetworkManager::instance()
{
    if (_single)
        return _single;
    _mutex.lock();
    FEED_LOG(debug, Category) << "mutex locked";
    if (!_single) {
        FEED_LOG(debug, Category) << "object init";
        _single = new FeedNetworkManager;
    }
    _mutex.unlock();
    FEED_LOG(debug, Category) << "mutex unlocked";
    return _single;
}

void FeedNetworkManager::releaseInstance()
{
    if (!_single)
        return;
    _mutex.lock();
    FEED_LOG(debug, Category) << "mutex locked";
    if (_single) {
        FEED_LOG(debug, Category) << "object de-init";
        delete _single;
        _single = nullptr;
    }
    _mutex.unlock();
    FEED_LOG(debug, Category) << "mutex unlocked";
}

bool FeedNetworkManager::isConnected() const
{
    const bool connected = _connectionState == Connected;
    FEED_LOG(debug, Category) << "isConnected()" << connected;
    return connected;
}

bool FeedNetworkManager::isUsingWLAN() const
{
    const QNetworkConfiguration active = activeConfiguration();
    FEED_LOG(debug, Category) << "bearerName:" << active.bearerTypeName();
    return active.bearerType() == QNetworkConfiguration::BearerWLAN;
}

bool FeedNetworkManager::createConnection(bool hidePopup)
{
    return createConnection(_configManager->defaultConfiguration(), hidePopup);
}

bool FeedNetworkManager::createConnection(const QNetworkConfiguration& config, bool hidePopup)
{
    if (isConnected()) {
        FEED_LOG(debug, Category) << "Connected";
        emit connectionStateChanged(true);
        return true;
    }
    if (_connectionState == Connecting) {
        FEED_LOG(debug, Category) << "Connecting";
        emit connectionStateChanged(false);
        return false;
    }
    FEED_LOG(debug, Category) << "Trying to connect" << hidePopup;
    _connectionState = Connecting;
    _activeConfigId = QString();
    if (_configManager->allConfigurations().isEmpty())
        return useHostNetwork();
    if (!isValidIAP(config)) {
        FEED_LOG(debug, Category) << "Invalid IAP";
        _connectionState = Disconnected;
        emit connectionStateChanged(false);
        return false;
    }
    return openSession(config, hidePopup);
}

// Nothing manages the network here (no bearer back end knows a configuration): the host's own
// connection is all there is, so it counts as open, with no session.
bool FeedNetworkManager::useHostNetwork()
{
    if (!_unmanagedReported) {
        FEED_LOG(critical, Category) << "No network configuration known: network unmanaged, using the host's connection";
        _unmanagedReported = true;
    }
    _connectionState = Connected;
    retrieveAndSetproxy();
    emit connectionStateChanged(true);
    return true;
}

bool FeedNetworkManager::openSession(const QNetworkConfiguration& config, bool hidePopup)
{
    _session = new QNetworkSession(config);
    _session->setSessionProperty(ConnectInBackground, QVariant(hidePopup));
    _session->open();
    if (!_session->waitForOpened(openTimeout())) {
        FEED_LOG(critical, Category) << "Connection fail";
        FEED_LOG(critical, Category) << "error=" << _session->error();
        FEED_LOG(critical, Category) << _session->errorString();
        closeConnection();
        return false;
    }
    _connectionState = Connected;
    _activeConfigId = activeConfiguration().identifier();
    FEED_LOG(debug, Category) << "Connected..";
    FEED_LOG(debug, Category) << "Active Config Id:" << _activeConfigId;
    retrieveAndSetproxy();
    emit connectionStateChanged(true);
    return true;
}

void FeedNetworkManager::closeConnection()
{
    FEED_LOG(critical, Category) << "closing network session";
    if (_session) {
        _session->close();
        _session->deleteLater();
        _session = nullptr;
    }
    _connectionState = Disconnected;
    _activeConfigId = QString();
    emit connectionStateChanged(false);
}

bool FeedNetworkManager::isValidIAP(const QNetworkConfiguration& config)
{
    const bool canStart = _configManager->capabilities().testFlag(QNetworkConfigurationManager::CanStartAndStopInterfaces);
    FEED_LOG(critical, Category) << "canStartIAP : " << canStart << "-IAP Name: " << config.name();
    if (config.isValid() && (canStart || isActive(config)))
        return true;
    FEED_LOG(critical, Category) << "No access point found.";
    return false;
}

void FeedNetworkManager::retrieveAndSetproxy()
{
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(ProxyProbeUrl, QNetworkProxyQuery::UrlRequest));
    if (proxies.isEmpty())
        return;
    FEED_LOG(debug, Category) << "Valid proxy Found, Proxy count:" << proxies.size();
    const QNetworkProxy& proxy = proxies.first();
    QNetworkProxy::setApplicationProxy(proxy);
    FEED_LOG(debug, Category) << proxy.hostName() << "::" << proxy.port();
}

QNetworkConfiguration FeedNetworkManager::activeConfiguration() const
{
    if (!_session)
        return QNetworkConfiguration();
    return _configManager->configurationFromIdentifier(_session->sessionProperty(ActiveConfigurationProperty).toString());
}

void FeedNetworkManager::configurationAdded(const QNetworkConfiguration& config)
{
    logConfiguration(config);
    if (_connectionState == Connecting || !isActive(config))
        return;
    if (_connectionState == Disconnected || worthSwitchingTo(config))
        switchTo(config);
}

void FeedNetworkManager::configurationRemoved(const QNetworkConfiguration& config)
{
    logConfiguration(config);
    if (_connectionState != Connected || !isOpenConfiguration(config))
        return;
    closeConnection();
    connectElsewhere();
}

void FeedNetworkManager::configurationChanged(const QNetworkConfiguration& config)
{
    logConfiguration(config);
    if (_connectionState == Connecting)
        return;
    if (_connectionState == Disconnected) {
        if (!isActive(config))
            return;
        FEED_LOG(critical, Category) << "New configuration is available, try to connect";
        createConnection(config, false);
        return;
    }
    if (isOpenConfiguration(config)) {
        if (isActive(config))
            return;
        FEED_LOG(critical, Category) << "configuration got inactive, disconnect the existing connection...";
        closeConnection();
        connectElsewhere();
        return;
    }
    if (isActive(config) && worthSwitchingTo(config)) {
        FEED_LOG(critical, Category) << "Active configuration got changed, use new configuration...";
        switchTo(config);
    }
}

void FeedNetworkManager::onlineStateChanged(bool isOnline)
{
    FEED_LOG(critical, Category) << "onlineStateChanged() isOnline:" << isOnline;
}

void FeedNetworkManager::logConfiguration(const QNetworkConfiguration& config) const
{
    FEED_LOG(debug, Category) << "State:" << QString::number(int(config.state())) << "-Name:" << config.name()
                              << "-BearerName:" << config.bearerTypeName() << "Config ID:" << config.identifier()
                              << "Active config ID:" << _activeConfigId;
}

bool FeedNetworkManager::isOpenConfiguration(const QNetworkConfiguration& config) const
{
    return !_activeConfigId.isNull() && config.identifier() == _activeConfigId;
}

// While connected, another configuration coming up is no reason to drop the open one (bridges,
// VPNs and containers come and go); only WLAN replaces a connection that is not WLAN, for the
// only-on-WLAN settings. Without a session (the host's unmanaged network) any one is taken.
bool FeedNetworkManager::worthSwitchingTo(const QNetworkConfiguration& config) const
{
    if (!_session)
        return true;
    return !isOpenConfiguration(config) && config.bearerType() == QNetworkConfiguration::BearerWLAN && !isUsingWLAN();
}

void FeedNetworkManager::switchTo(const QNetworkConfiguration& config)
{
    closeConnection();
    createConnection(config, false);
}

// The open configuration went away: a working network stays in use if there is one.
void FeedNetworkManager::connectElsewhere()
{
    if (_configManager->allConfigurations(QNetworkConfiguration::Active).isEmpty())
        return;
    createConnection(false);
}
