#include "daemonfixture.h"
#include "testenvironment.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QProcess>

namespace {

using namespace DaemonFixture;

// The platform stand-in's controls inside the daemon.
QDBusMessage platform(const QString& method, const QVariantList& arguments = QVariantList())
{
    QDBusMessage message = QDBusMessage::createMethodCall(Service, QStringLiteral("/korvel2"),
                                                          QStringLiteral("com.vorlane.Virelon.Korvel2"), method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, timeout());
}

QStringList waits()
{
    return QDBusReply<QStringList>(platform(QStringLiteral("waits"))).value();
}

int acknowledgements()
{
    return QDBusReply<int>(platform(QStringLiteral("acknowledgements"))).value();
}

} // namespace

// The daemon's heartbeat, USB-mode and network handling as clients and the platform see them.
// The test program runs its own bus: the service name can have only one owner.
class tst_VirelonDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void heartbeatWaitsFollowTheSettings();

private:
    void installSettings(const QByteArray& settings);
    QProcessEnvironment daemonEnvironment() const;

    QProcess _bus;
};

void tst_VirelonDevice::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    _bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=" PRIVATE_BUS_CONFIG),
                                               QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    QVERIFY(_bus.waitForReadyRead(timeout()));
    qputenv("DBUS_SESSION_BUS_ADDRESS", _bus.readLine().trimmed());
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    qputenv("VIRELON_CONFIG_DIR",
            QFile::encodeName(qEnvironmentVariable("XDG_CONFIG_DIRS") + QStringLiteral("/virelon")));
}

void tst_VirelonDevice::cleanupTestCase()
{
    _bus.terminate();
    _bus.waitForFinished(timeout());
}

void tst_VirelonDevice::init()
{
    QVERIFY(QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/virelon")).removeRecursively());
    QTRY_VERIFY_WITH_TIMEOUT(!serving(), timeout());
}

void tst_VirelonDevice::installSettings(const QByteArray& settings)
{
    const QString folder = qEnvironmentVariable("VIRELON_CONFIG_DIR");
    QVERIFY(QDir().mkpath(folder));
    QFile file(folder + QStringLiteral("/settings.conf"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(settings);
}

QProcessEnvironment tst_VirelonDevice::daemonEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_PLATFORM_CONTROL"), QStringLiteral("1"));
    return environment;
}

// A day's interval is longer than one heartbeat wait: a first leg, then the rest of the window.
void tst_VirelonDevice::heartbeatWaitsFollowTheSettings()
{
    installSettings("[Refresh]\nautomatic=true\ninterval=10\nonlywifi=false\n");
    Daemon daemon(daemonEnvironment());
    QVERIFY(daemon.waitForService());
    QCOMPARE(waits(), QStringList{"600..660"});

    call(QStringLiteral("setConf"), {QVariantMap{{QStringLiteral("Refresh/interval"), 1440}}});
    QCOMPARE(waits(), QStringList({"600..660", "65535..65535"}));
    QCOMPARE(acknowledgements(), 1);

    QCOMPARE(QDBusReply<bool>(platform(QStringLiteral("fireWakeUp"))).value(), true);
    QTRY_COMPARE_WITH_TIMEOUT(waits(), QStringList({"600..660", "65535..65535", "20865..29505"}), timeout());
    QCOMPARE(acknowledgements(), 2);
}

VIRELON_TEST_MAIN(tst_VirelonDevice)
#include "tst_virelondevice.moc"
