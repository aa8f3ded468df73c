#include "feedtrackersparql.h"
#include "storeendpoint.h"
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
    void cleanupTestCase();
    void storeStartsOnFirstUse();

private:
    QTemporaryDir _dir;
    QProcess _bus;
};

void tst_StoreActivation::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _bus.terminate();
    _bus.waitForFinished();
}

void tst_StoreActivation::storeStartsOnFirstUse()
{
    qputenv("VIRELON_STORE_DIR", QFile::encodeName(_dir.filePath(QStringLiteral("store"))));
    qunsetenv("VIRELON_STORE_SERVICE");
    QVERIFY2(StoreEndpoint::startBus(&_bus, QStringLiteral(VIRELON_SESSION_CONF)), "the private bus did not start");
    QCOMPARE(VirelonPaths::storeService(), QStringLiteral(VIRELON_STORE_SERVICE_NAME));
    FeedEnclosure icon;
    icon.setRemoteUrl(QStringLiteral("http://example.com/icon.png"));
    icon.setLocalUrl(QStringLiteral("/icons/icon.png"));
    QVERIFY(FeedTrackerSparql::instance()->addEnclosures({icon}, QStringLiteral("urn:uuid:channel")));
    const QList<FeedEnclosure> stored = FeedTrackerSparql::instance()->enclosuresForMessage(QStringLiteral("urn:uuid:channel"));
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.at(0).localUrl(), icon.localUrl());
    QVERIFY(!QDir(_dir.filePath(QStringLiteral("store"))).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
}

VIRELON_TEST_MAIN(tst_StoreActivation)
#include "tst_storeactivation.moc"
