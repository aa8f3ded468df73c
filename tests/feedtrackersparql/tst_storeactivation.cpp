#include "feedtrackersparql.h"
#include "testenvironment.h"

#include <QDir>
#include <virelonpaths.h>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The store service starts on first use through the service file of the build tree. The test
// runs a bus of its own, so the service inherits this test's environment and database.
class tst_StoreActivation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void storeStartsOnFirstUse();

private:
    QTemporaryDir _dir;
    QProcess _bus;
};

void tst_StoreActivation::initTestCase()
{
    QVERIFY(_dir.isValid());
    qputenv("VIRELON_STORE_DIR", QFile::encodeName(_dir.filePath(QStringLiteral("store"))));
    qunsetenv("VIRELON_STORE_SERVICE");
    _bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=" VIRELON_SESSION_CONF),
                                               QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    QVERIFY(_bus.waitForStarted());
    bool ok = false;
    const int timeout = qEnvironmentVariableIntValue("VIRELON_TEST_TIMEOUT_MS", &ok);
    while (!_bus.canReadLine())
        QVERIFY2(_bus.waitForReadyRead(ok ? timeout : 10000), "the private bus did not start");
    const QByteArray address = _bus.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
}

void tst_StoreActivation::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _bus.terminate();
    _bus.waitForFinished();
}

void tst_StoreActivation::storeStartsOnFirstUse()
{
    QCOMPARE(VirelonPaths::storeService(), QStringLiteral(VIRELON_STORE_SERVICE_NAME));
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    FeedEnclosure icon;
    icon.setRemoteUrl(QStringLiteral("http://example.com/icon.png"));
    icon.setLocalUrl(QStringLiteral("/icons/icon.png"));
    QVERIFY(store->addEnclosures({icon}, QStringLiteral("urn:uuid:channel")));
    const QList<FeedEnclosure> stored = store->enclosuresForMessage(QStringLiteral("urn:uuid:channel"));
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.at(0).localUrl(), icon.localUrl());
    QVERIFY(!QDir(_dir.filePath(QStringLiteral("store"))).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
}

VIRELON_TEST_MAIN(tst_StoreActivation)
#include "tst_storeactivation.moc"
