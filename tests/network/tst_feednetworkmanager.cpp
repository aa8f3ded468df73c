#include "feednetworkmanager.h"
#include "logrecorder.h"
#include "testbearer.h"
#include "testenvironment.h"

#include <QNetworkConfigurationManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>

class tst_FeedNetworkManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void reactions_data();
    void reactions();
    void secondRequestDuringOpening();
    void refusedConfiguration_data();
    void refusedConfiguration();
    void connectInBackground_data();
    void connectInBackground();
    void openingWithoutSuccess_data();
    void openingWithoutSuccess();
    void proxies_data();
    void proxies();
    void noConfiguration();
    void closeAndDestroy();
};

namespace {

// What the manager said, in order: "true" or "false" for each connectionStateChanged.
class StateRecorder : public QObject
{
public:
    explicit StateRecorder(FeedNetworkManager* manager)
    {
        connect(manager, &FeedNetworkManager::connectionStateChanged, this,
                [this](bool connected) { reports << QLatin1String(connected ? "true" : "false"); });
    }
    QStringList reports;
};

// Stages each "id bearer state" before the manager exists: known, never announced.
void stage(const QStringList& configurations)
{
    for (const QString& configuration : configurations) {
        const QStringList fields = configuration.split(QLatin1Char(' '));
        QVERIFY(TestBearer::setConfiguration(fields.at(0), fields.at(1), fields.at(2)));
    }
}

// Runs "add id bearer state", "change id bearer state" or "remove id" on the bearer and
// returns once Qt has delivered it: the manager, which listened first, has handled it then.
void announce(const QString& event)
{
    QNetworkConfigurationManager probe;
    const QStringList fields = event.split(QLatin1Char(' '));
    const char* signal = fields.at(0) == QLatin1String("add")    ? SIGNAL(configurationAdded(QNetworkConfiguration))
                         : fields.at(0) == QLatin1String("remove") ? SIGNAL(configurationRemoved(QNetworkConfiguration))
                                                                    : SIGNAL(configurationChanged(QNetworkConfiguration));
    QSignalSpy delivered(&probe, signal);
    if (fields.at(0) == QLatin1String("remove"))
        TestBearer::removeConfiguration(fields.at(1));
    else
        QVERIFY(TestBearer::setConfiguration(fields.at(1), fields.at(2), fields.at(3)));
    QTRY_COMPARE(delivered.count(), 1);
}

class ProxyList : public QNetworkProxyFactory
{
public:
    explicit ProxyList(const QList<QNetworkProxy>& proxies)
        : _proxies(proxies)
    {
    }
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery&) override { return _proxies; }

private:
    QList<QNetworkProxy> _proxies;
};

} // namespace

void tst_FeedNetworkManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    TestBearer::useAlone();
}

void tst_FeedNetworkManager::cleanup()
{
    FeedNetworkManager::releaseInstance();
    TestBearer::reset();
    QCoreApplication::processEvents();
    qunsetenv("VIRELON_NETWORK_OPEN_TIMEOUT_MS");
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
}

void tst_FeedNetworkManager::reactions_data()
{
    QTest::addColumn<QStringList>("configurations");
    QTest::addColumn<QString>("connectTo"); // empty: stays disconnected
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("reports");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("wlan");

    const QString eth0 = QStringLiteral("eth0 Ethernet Active");
    const QString eth1 = QStringLiteral("eth1 Ethernet Active");
    const QString wlan0 = QStringLiteral("wlan0 WLAN Active");
    const QString none;
    const QStringList eth0Only = {QStringLiteral("eth0")};
    const QStringList nothingOpened;

    QTest::newRow("disconnected, one added active") << QStringList() << none << "add eth0 Ethernet Active"
                                                    << "false true" << eth0Only << true << false;
    QTest::newRow("disconnected, one added discovered") << QStringList() << none << "add wlan0 WLAN Discovered"
                                                        << "" << nothingOpened << false << false;
    QTest::newRow("disconnected, one goes active") << QStringList{"eth0 Ethernet Discovered"} << none
                                                   << "change eth0 Ethernet Active" << "true" << eth0Only << true
                                                   << false;
    QTest::newRow("disconnected, one goes discovered") << QStringList{eth0} << none
                                                       << "change eth0 Ethernet Discovered" << "" << nothingOpened
                                                       << false << false;
    QTest::newRow("disconnected, one removed") << QStringList{eth0} << none << "remove eth0" << "" << nothingOpened
                                               << false << false;
    QTest::newRow("open one removed") << QStringList{eth0} << "eth0" << "remove eth0" << "false" << eth0Only << false
                                      << false;
    QTest::newRow("open one goes discovered") << QStringList{eth0} << "eth0" << "change eth0 Ethernet Discovered"
                                              << "false" << eth0Only << false << false;
    QTest::newRow("open one goes defined") << QStringList{eth0} << "eth0" << "change eth0 Ethernet Defined" << "false"
                                           << eth0Only << false << false;
    QTest::newRow("open one still active") << QStringList{eth0} << "eth0" << "change eth0 Ethernet Active" << ""
                                           << eth0Only << true << false;
    QTest::newRow("another removed") << QStringList{eth0, eth1} << "eth0" << "remove eth1" << "" << eth0Only << true
                                     << false;
    QTest::newRow("another goes discovered") << QStringList{eth0, eth1} << "eth0" << "change eth1 Ethernet Discovered"
                                             << "" << eth0Only << true << false;

    // Regression: any interface coming up (bridge, VPN, container) took the connection over.
    QTest::newRow("ethernet added while on ethernet") << QStringList{eth0} << "eth0" << "add br0 Ethernet Active"
                                                      << "" << eth0Only << true << false;
    QTest::newRow("ethernet goes active while on ethernet")
        << QStringList{eth0, "eth1 Ethernet Discovered"} << "eth0" << "change eth1 Ethernet Active" << "" << eth0Only
        << true << false;
    QTest::newRow("ethernet added while on WLAN") << QStringList{wlan0} << "wlan0" << "add eth1 Ethernet Active"
                                                  << "" << QStringList{"wlan0"} << true << true;
    QTest::newRow("WLAN added while on WLAN") << QStringList{wlan0} << "wlan0" << "add wlan1 WLAN Active" << ""
                                              << QStringList{"wlan0"} << true << true;
    QTest::newRow("WLAN added while on ethernet") << QStringList{eth0} << "eth0" << "add wlan0 WLAN Active"
                                                  << "false true" << QStringList{"eth0", "wlan0"} << true << true;
    QTest::newRow("WLAN goes active while on ethernet")
        << QStringList{eth0, "wlan0 WLAN Discovered"} << "eth0" << "change wlan0 WLAN Active" << "false true"
        << QStringList{"eth0", "wlan0"} << true << true;
    // Regression: losing the open configuration left the daemon offline beside a working one.
    QTest::newRow("open one removed, another active") << QStringList{eth0, eth1} << "eth0" << "remove eth0"
                                                      << "false true" << QStringList{"eth0", "eth1"} << true << false;
    QTest::newRow("open one goes discovered, another active")
        << QStringList{eth0, wlan0} << "eth0" << "change eth0 Ethernet Discovered" << "false true"
        << QStringList{"eth0", "wlan0"} << true << true;
}

void tst_FeedNetworkManager::reactions()
{
    QFETCH(QStringList, configurations);
    QFETCH(QString, connectTo);
    QFETCH(QString, event);

    stage(configurations);
    FeedNetworkManager* manager = FeedNetworkManager::instance();
    if (!connectTo.isEmpty()) {
        TestBearer::setDefault(connectTo);
        QVERIFY(manager->createConnection());
        // From here on the bearer's own choice, as a platform's would be.
        TestBearer::setDefault(QString());
    }
    StateRecorder recorder(manager);
    announce(event);

    QTEST(recorder.reports.join(QLatin1Char(' ')), "reports");
    QTEST(TestBearer::openedConfigurations(), "opened");
    QTEST(manager->isConnected(), "connected");
    QTEST(manager->isUsingWLAN(), "wlan");
}

void tst_FeedNetworkManager::secondRequestDuringOpening()
{
    stage({QStringLiteral("eth0 Ethernet Active")});
    TestBearer::setSessionOutcome(QStringLiteral("holds"));
    FeedNetworkManager* manager = FeedNetworkManager::instance();
    StateRecorder recorder(manager);
    QNetworkConfigurationManager probe;
    bool second = true;
    // While the first opening waits: a second request, then a configuration event, then the answer.
    QTimer::singleShot(0, this, [&] {
        second = manager->createConnection(true);
        QVERIFY(TestBearer::setConfiguration(QStringLiteral("wlan0"), QStringLiteral("WLAN"), QStringLiteral("Active")));
    });
    connect(&probe, &QNetworkConfigurationManager::configurationAdded, this,
            [] { QCOMPARE(TestBearer::answerHeldSessions(true), 1); });

    QVERIFY(manager->createConnection());
    QVERIFY(!second);
    QCOMPARE(recorder.reports, QStringList({"false", "true"}));
    QCOMPARE(TestBearer::openedConfigurations(), QStringList{"eth0"});
    QVERIFY(!manager->isUsingWLAN());
}

void tst_FeedNetworkManager::refusedConfiguration_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("canStart");
    QTest::addColumn<bool>("opened");

    QTest::newRow("discovered, interfaces fixed") << "Discovered" << false << false;
    QTest::newRow("defined, interfaces fixed") << "Defined" << false << false;
    QTest::newRow("active, interfaces fixed") << "Active" << false << true;
    QTest::newRow("discovered, interfaces startable") << "Discovered" << true << true;
}

void tst_FeedNetworkManager::refusedConfiguration()
{
    QFETCH(QString, state);
    QFETCH(bool, canStart);
    QFETCH(bool, opened);

    stage({QStringLiteral("eth0 Ethernet ") + state});
    TestBearer::setDefault(QStringLiteral("eth0"));
    TestBearer::setCanStartInterfaces(canStart);
    FeedNetworkManager* manager = FeedNetworkManager::instance();
    StateRecorder recorder(manager);

    QCOMPARE(manager->createConnection(), opened);
    QCOMPARE(recorder.reports, QStringList{QLatin1String(opened ? "true" : "false")});
    QCOMPARE(TestBearer::openedConfigurations().size(), opened ? 1 : 0);
    QCOMPARE(manager->isConnected(), opened);
}

void tst_FeedNetworkManager::connectInBackground_data()
{
    QTest::addColumn<bool>("hidePopup");
    QTest::newRow("background") << true;
    QTest::newRow("user may be asked") << false;
}

void tst_FeedNetworkManager::connectInBackground()
{
    QFETCH(bool, hidePopup);
    stage({QStringLiteral("eth0 Ethernet Active")});

    QVERIFY(FeedNetworkManager::instance()->createConnection(hidePopup));
    const QVariant property = TestBearer::lastSessionProperties().value(QStringLiteral("ConnectInBackground"));
    QCOMPARE(property.type(), QVariant::Bool);
    QCOMPARE(property.toBool(), hidePopup);
}

void tst_FeedNetworkManager::openingWithoutSuccess_data()
{
    QTest::addColumn<QString>("outcome");
    QTest::newRow("session fails") << "fails";
    QTest::newRow("no answer") << "holds";
}

void tst_FeedNetworkManager::openingWithoutSuccess()
{
    QFETCH(QString, outcome);
    stage({QStringLiteral("eth0 Ethernet Active")});
    TestBearer::setSessionOutcome(outcome);
    qputenv("VIRELON_NETWORK_OPEN_TIMEOUT_MS", "50");
    FeedNetworkManager* manager = FeedNetworkManager::instance();
    StateRecorder recorder(manager);
    LogRecorder log;

    QVERIFY(!manager->createConnection());
    QCOMPARE(recorder.reports, QStringList{"false"});
    QVERIFY(!manager->isConnected());
    QCOMPARE(log.count(QtCriticalMsg, QStringLiteral("Connection fail")), 1);

    // Nothing of the failed session is left in the way of the next request.
    TestBearer::setSessionOutcome(QStringLiteral("opens"));
    QVERIFY(manager->createConnection());
    QCOMPARE(TestBearer::openedConfigurations(), QStringList({"eth0", "eth0"}));
}

void tst_FeedNetworkManager::proxies_data()
{
    QTest::addColumn<QList<QNetworkProxy>>("offered");
    QTest::addColumn<QNetworkProxy>("expected");

    const QNetworkProxy first(QNetworkProxy::HttpProxy, QStringLiteral("proxy.invalid"), 3128);
    const QNetworkProxy second(QNetworkProxy::HttpProxy, QStringLiteral("other.invalid"), 8080);
    QTest::newRow("one") << QList<QNetworkProxy>{second} << second;
    QTest::newRow("two: the first") << QList<QNetworkProxy>{first, second} << first;
}

void tst_FeedNetworkManager::proxies()
{
    QFETCH(QList<QNetworkProxy>, offered);
    stage({QStringLiteral("eth0 Ethernet Active")});
    QNetworkProxyFactory::setApplicationProxyFactory(new ProxyList(offered));

    QVERIFY(FeedNetworkManager::instance()->createConnection());
    const QNetworkProxy applied = QNetworkProxy::applicationProxy();
    QNetworkProxyFactory::setApplicationProxyFactory(nullptr);
    QTEST(applied, "expected");
}

void tst_FeedNetworkManager::noConfiguration()
{
    LogRecorder log;
    FeedNetworkManager* manager = FeedNetworkManager::instance();
    StateRecorder recorder(manager);

    QVERIFY(manager->createConnection());
    QVERIFY(manager->createConnection(true));
    QVERIFY(manager->isConnected());
    QVERIFY(!manager->isUsingWLAN());
    QCOMPARE(TestBearer::openedConfigurations(), QStringList());
    QCOMPARE(log.count(QtCriticalMsg, QStringLiteral("unmanaged")), 1);

    // A managed network that shows up later is taken.
    announce(QStringLiteral("add eth0 Ethernet Active"));
    QCOMPARE(recorder.reports, QStringList({"true", "true", "false", "true"}));
    QCOMPARE(TestBearer::openedConfigurations(), QStringList{"eth0"});
}

void tst_FeedNetworkManager::closeAndDestroy()
{
    FeedNetworkManager* manager = FeedNetworkManager::instance();
    QSignalSpy reports(manager, &FeedNetworkManager::connectionStateChanged);

    manager->closeConnection();
    FeedNetworkManager::releaseInstance();
    QCOMPARE(reports.count(), 2);
    QCOMPARE(reports.at(0).at(0).toBool(), false);
    QCOMPARE(reports.at(1).at(0).toBool(), false);
}

VIRELON_TEST_MAIN(tst_FeedNetworkManager)
#include "tst_feednetworkmanager.moc"
