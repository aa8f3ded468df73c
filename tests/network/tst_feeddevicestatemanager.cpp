#include "feeddevicestatemanager.h"
#include "feednetworkmanager.h"
#include "korvel2control.h"
#include "testbearer.h"
#include "testenvironment.h"

class tst_FeedDeviceStateManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void sequences_data();
    void sequences();
    void forwardersReportAfterTheWord();
};

namespace {

// "word/change" for each deviceStateChanged, in order.
class WordRecorder : public QObject
{
public:
    explicit WordRecorder(FeedDeviceStateManager* manager)
    {
        connect(manager, &FeedDeviceStateManager::deviceStateChanged, this,
                [this](FeedDeviceState::State state, FeedDeviceState::Change change) {
                    words << QStringLiteral("%1/%2").arg(int(state)).arg(int(change));
                });
    }
    QStringList words;
};

// One step of a sequence: "modeN", "unmountN" (platform), "up", "refused" (an opening that the
// bearer opens or refuses, through the forwarder) or "down" (the session closed).
void run(const QString& step)
{
    FeedDeviceStateManager* manager = FeedDeviceStateManager::instance();
    if (step.startsWith(QLatin1String("mode")))
        Vantor::Korvel2Control::instance()->setUsbMode(step.midRef(4).toInt());
    else if (step.startsWith(QLatin1String("unmount")))
        Vantor::Korvel2Control::instance()->announceUnmount(step.midRef(7).toInt());
    else if (step == QLatin1String("up"))
        QVERIFY(manager->createConnection(false));
    else if (step == QLatin1String("refused")) {
        TestBearer::setSessionOutcome(QStringLiteral("fails"));
        QVERIFY(!manager->createConnection(true));
        TestBearer::setSessionOutcome(QStringLiteral("opens"));
    } else if (step == QLatin1String("down"))
        FeedNetworkManager::instance()->closeConnection();
    else
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
}

} // namespace

void tst_FeedDeviceStateManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    TestBearer::useAlone();
    QVERIFY(TestBearer::setConfiguration(QStringLiteral("eth0"), QStringLiteral("Ethernet"), QStringLiteral("Active")));
}

void tst_FeedDeviceStateManager::cleanup()
{
    FeedDeviceStateManager::releaseInstance();
    FeedNetworkManager::releaseInstance();
    Vantor::Korvel2Control::instance()->setUsbMode(2);
    TestBearer::setSessionOutcome(QStringLiteral("opens"));
}

void tst_FeedDeviceStateManager::sequences_data()
{
    QTest::addColumn<int>("startMode");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("state");

    QTest::newRow("mass storage at start") << 3 << "" << "" << 1;
    QTest::newRow("network never reported") << 2 << "" << "" << 0;
    QTest::newRow("mass storage twice") << 2 << "mode3 mode3" << "1/1" << 1;
    QTest::newRow("unmount, then mass storage") << 2 << "unmount0 mode3" << "1/1" << 1;
    QTest::newRow("unmount of another path") << 2 << "unmount1" << "" << 0;
    QTest::newRow("idle while not in mass storage") << 2 << "mode2" << "" << 0;
    QTest::newRow("other modes ignored") << 2 << "mode1 mode4 mode0" << "" << 0;
    QTest::newRow("mass storage and back") << 2 << "mode3 mode2" << "1/1 0/1" << 0;
    QTest::newRow("down twice") << 2 << "down down" << "2/0" << 2;
    QTest::newRow("down, up") << 2 << "down up" << "2/0 0/0" << 0;
    QTest::newRow("refused") << 2 << "refused" << "2/0" << 2;
    QTest::newRow("down in mass storage") << 2 << "mode3 down mode2" << "1/1 0/1 2/0" << 2;
    QTest::newRow("down and up in mass storage") << 2 << "mode3 down up mode2" << "1/1 0/1" << 0;
    QTest::newRow("refused in mass storage") << 2 << "mode3 refused mode2" << "1/1 0/1 2/0" << 2;
    QTest::newRow("mass storage while down") << 2 << "down mode3 up mode2" << "2/0 3/1 2/1 0/0" << 0;
    QTest::newRow("pending report applied once") << 2 << "mode3 down mode2 up mode3 mode2" << "1/1 0/1 2/0 0/0 1/1 0/1"
                                                 << 0;
    // Regression: a hand-over abandoned after the unmount notice kept downloads paused for good.
    QTest::newRow("unmount, then charging only") << 2 << "unmount0 mode4" << "1/1 0/1" << 0;
    QTest::newRow("unmount, then attached") << 2 << "unmount0 mode1" << "1/1 0/1" << 0;
    QTest::newRow("unmount, down, then abandoned") << 2 << "unmount0 down mode0" << "1/1 0/1 2/0" << 2;
}

void tst_FeedDeviceStateManager::sequences()
{
    QFETCH(int, startMode);
    QFETCH(QString, steps);

    Vantor::Korvel2Control::instance()->setUsbMode(startMode);
    FeedDeviceStateManager* manager = FeedDeviceStateManager::instance();
    WordRecorder recorder(manager);
    for (const QString& step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        run(step);
        if (QTest::currentTestFailed())
            return;
    }
    QTEST(recorder.words.join(QLatin1Char(' ')), "words");
    QTEST(int(manager->deviceState()), "state");
}

// The listener has seen the outcome of an opening before the forwarder returns it.
void tst_FeedDeviceStateManager::forwardersReportAfterTheWord()
{
    FeedDeviceStateManager* manager = FeedDeviceStateManager::instance();
    TestBearer::setSessionOutcome(QStringLiteral("fails"));
    QVERIFY(!manager->createConnection(false));
    QCOMPARE(int(manager->deviceState()), 2);
    TestBearer::setSessionOutcome(QStringLiteral("opens"));
    QVERIFY(manager->createConnection(false));
    QCOMPARE(int(manager->deviceState()), 0);
    QVERIFY(!manager->isUsingWLAN());
}

VIRELON_TEST_MAIN(tst_FeedDeviceStateManager)
#include "tst_feeddevicestatemanager.moc"
