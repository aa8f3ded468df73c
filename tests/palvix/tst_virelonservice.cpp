#include "palvix.h"
#include "storeendpoint.h"
#include "testenvironment.h"
#include "virelonservice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {

const QString Service = QStringLiteral("com.vorlane.Virelon");
const QString Interface = QStringLiteral("com.vorlane.Virelon");

} // namespace

// The client library on a bus of the test's own. The daemon's signals come from a second
// connection of this process that owns the daemon's name.
class tst_VirelonService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void signalsReemitted_data();
    void signalsReemitted();
    void othersSignalsIgnored();
    void foreignArgumentsIgnored();
    void callWithoutDaemonFails();
    void laterOwnerHeard();

private:
    QProcess _bus;
};

void tst_VirelonService::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY2(StoreEndpoint::startBus(&_bus, QStringLiteral(PRIVATE_BUS_CONFIG)), "the private bus did not start");
}

void tst_VirelonService::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("daemon"));
    _bus.terminate();
    _bus.waitForFinished();
}

void tst_VirelonService::signalsReemitted_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QVariantList>("arguments");

    const QString uri = QStringLiteral("urn:uuid:1");
    QTest::newRow("refreshStarted") << "refreshStarted" << QByteArray("refreshStarted(QString)") << QVariantList{uri};
    QTest::newRow("refreshCompleted") << "refreshCompleted" << QByteArray("refreshCompleted(QString)")
                                      << QVariantList{uri};
    QTest::newRow("refreshError") << "refreshError" << QByteArray("refreshError(QString,int)") << QVariantList{uri, 404};
    QTest::newRow("refreshState") << "refreshState" << QByteArray("refreshState(int)") << QVariantList{409};
    QTest::newRow("editChannelStatus") << "editChannelStatus" << QByteArray("editChannelStatus(QString,int)")
                                       << QVariantList{uri, 202};
    QTest::newRow("enclosureDownloadStarted")
        << "enclosureDownloadStarted" << QByteArray("enclosureDownloadStarted(QString)") << QVariantList{uri};
    QTest::newRow("enclosureDownloadCompleted")
        << "enclosureDownloadCompleted" << QByteArray("enclosureDownloadCompleted(QString,qlonglong)")
        << QVariantList{uri, qlonglong(5000000000)};
    QTest::newRow("enclosureDownloadError")
        << "enclosureDownloadError" << QByteArray("enclosureDownloadError(QStringList,int,qlonglong)")
        << QVariantList{QStringList{uri, QStringLiteral("urn:uuid:2")}, 400, qlonglong(-1)};
    QTest::newRow("enclosureDownloadProgress")
        << "enclosureDownloadProgress" << QByteArray("enclosureDownloadProgress(QString,qlonglong,qlonglong,qlonglong)")
        << QVariantList{uri, qlonglong(4096), qlonglong(1024), qlonglong(3)};
}

void tst_VirelonService::signalsReemitted()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, signature);
    QFETCH(QVariantList, arguments);

    QDBusConnection daemon =
        QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("daemon"));
    QVERIFY(daemon.isConnected());
    QVERIFY(daemon.registerService(Service) || daemon.interface()->isServiceRegistered(Service));
    const std::unique_ptr<Palvix> client(Palvix::instance());
    QSignalSpy spy(client->engine(), QByteArray(QByteArray::number(QSIGNAL_CODE) + signature).constData());
    QVERIFY(spy.isValid());

    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/"), Interface, name);
    signal.setArguments(arguments);
    QVERIFY(daemon.send(signal));
    QVERIFY(spy.wait(StoreEndpoint::timeoutMs()));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0), arguments);
}

// Only the owner of the daemon's name speaks for it.
void tst_VirelonService::othersSignalsIgnored()
{
    QDBusConnection other =
        QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("other"));
    const std::unique_ptr<Palvix> client(Palvix::instance());
    QSignalSpy spy(client->engine(), SIGNAL(refreshStarted(QString)));
    QDBusMessage forged = QDBusMessage::createSignal(QStringLiteral("/"), Interface, QStringLiteral("refreshStarted"));
    forged.setArguments({QStringLiteral("urn:uuid:forged")});
    QVERIFY(other.send(forged));
    QDBusMessage real = QDBusMessage::createSignal(QStringLiteral("/"), Interface, QStringLiteral("refreshStarted"));
    real.setArguments({QStringLiteral("urn:uuid:real")});
    QVERIFY(QDBusConnection(QStringLiteral("daemon")).send(real));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, StoreEndpoint::timeoutMs());
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("urn:uuid:real"));
    QDBusConnection::disconnectFromBus(QStringLiteral("other"));
}

// A signal of the daemon's name with arguments of other types is not passed on as its own.
void tst_VirelonService::foreignArgumentsIgnored()
{
    const std::unique_ptr<Palvix> client(Palvix::instance());
    QSignalSpy errors(client->engine(), SIGNAL(refreshError(QString,int)));
    QSignalSpy started(client->engine(), SIGNAL(refreshStarted(QString)));
    QDBusConnection daemon(QStringLiteral("daemon"));
    QDBusMessage foreign = QDBusMessage::createSignal(QStringLiteral("/"), Interface, QStringLiteral("refreshError"));
    foreign.setArguments({QStringLiteral("urn:uuid:1"), QStringLiteral("404")});
    QVERIFY(daemon.send(foreign));
    QDBusMessage after = QDBusMessage::createSignal(QStringLiteral("/"), Interface, QStringLiteral("refreshStarted"));
    after.setArguments({QStringLiteral("urn:uuid:1")});
    QVERIFY(daemon.send(after));
    QVERIFY(started.wait(StoreEndpoint::timeoutMs()));
    QCOMPARE(errors.count(), 0);
}

// No made-up answer: the error of the bus, and the default value.
void tst_VirelonService::callWithoutDaemonFails()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("daemon"));
    QTRY_VERIFY_WITH_TIMEOUT(!QDBusConnection::sessionBus().interface()->isServiceRegistered(Service),
                             StoreEndpoint::timeoutMs());
    const std::unique_ptr<Palvix> client(Palvix::instance());
    client->engine()->refresh({QUrl(QStringLiteral("urn:uuid:1"))});
    QCOMPARE(client->engine()->lastError().type(), QDBusError::ServiceUnknown);
    QCOMPARE(client->engine()->state(), 0);
    QVERIFY(client->engine()->lastError().isValid());
    QVERIFY(client->engine()->channelStatus({}).isEmpty());
    QVERIFY(client->engine()->lastError().isValid());
}

// The bus follows the service name: a daemon that takes it after the client listens is heard.
void tst_VirelonService::laterOwnerHeard()
{
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(Service));
    const std::unique_ptr<Palvix> client(Palvix::instance());
    QSignalSpy spy(client->engine(), SIGNAL(refreshState(int)));
    QVERIFY(!client->engine()->lastError().isValid());
    QDBusConnection later =
        QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("later"));
    QVERIFY(later.registerService(Service));
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/"), Interface, QStringLiteral("refreshState"));
    signal.setArguments({201});
    QVERIFY(later.send(signal));
    QVERIFY(spy.wait(StoreEndpoint::timeoutMs()));
    QCOMPARE(spy.at(0).at(0).toInt(), 201);
    QDBusConnection::disconnectFromBus(QStringLiteral("later"));
}

VIRELON_TEST_MAIN(tst_VirelonService)
#include "tst_virelonservice.moc"
