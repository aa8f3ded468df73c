#include "storeendpoint.h"
#include "testenvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>

#include <csignal>

// The install layout: `cmake --install` of this build, once into a DESTDIR with the default
// prefix, where every deliverable must sit at its fixed path, and once relocated below a
// folder of the test's, from where a private bus starts the installed daemon on a client's
// first call.
class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void installedFile_data();
    void installedFile();
    void nothingOutsideTheLayout();
    void busServiceFiles_data();
    void busServiceFiles();
    void firstCallStartsTheDaemon();

private:
    bool install(const QString& destdir, const QString& prefix);
    QStringList installedFiles(const QString& root) const;

    TestEnvironment _environment;
    QString _destdir;
    QString _relocated;
    QProcess _bus;
    QString _busName = QStringLiteral("installedBus");
};

namespace {

const QString Service = QStringLiteral("com.vorlane.Virelon");

int timeout()
{
    return StoreEndpoint::timeoutMs();
}

// A path of the installed system as it lies below a root folder.
QString below(const QString& root, const QString& path)
{
    return root + QLatin1Char('/') + QDir::cleanPath(path).mid(1);
}

} // namespace

bool tst_Install::install(const QString& destdir, const QString& prefix)
{
    QProcess cmake;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DESTDIR"));
    if (!destdir.isEmpty())
        environment.insert(QStringLiteral("DESTDIR"), destdir);
    cmake.setProcessEnvironment(environment);
    cmake.setProcessChannelMode(QProcess::MergedChannels);
    cmake.start(QStringLiteral(CMAKE_PROGRAM),
                {QStringLiteral("--install"), QStringLiteral(BUILD_DIR), QStringLiteral("--prefix"), prefix});
    if (!cmake.waitForFinished(60000) || cmake.exitStatus() != QProcess::NormalExit || cmake.exitCode() != 0) {
        qWarning() << cmake.readAll();
        return false;
    }
    return true;
}

QStringList tst_Install::installedFiles(const QString& root) const
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    return files;
}

void tst_Install::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    _destdir = _environment.path(QStringLiteral("destdir"));
    _relocated = _environment.path(QStringLiteral("relocated"));
    QVERIFY(install(_destdir, QStringLiteral("/usr")));
    QVERIFY(install(QString(), _relocated + QStringLiteral("/usr")));
}

void tst_Install::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(_busName);
    _bus.terminate();
    _bus.waitForFinished(timeout());
}

void tst_Install::installedFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("program");
    QTest::newRow("daemon") << QStringLiteral("/usr/bin/virelon") << true;
    QTest::newRow("tool") << QStringLiteral("/usr/bin/norvix") << true;
    QTest::newRow("store library") << QStringLiteral("/usr/lib/libHalvane.so") << false;
    QTest::newRow("transfer-list library") << QStringLiteral(SOLDRIN_LIBRARY) << false;
    QTest::newRow("fetching plug-in") << QStringLiteral(PLUGIN_DIR "/tamsil") << true;
    for (const char* query : {"rss.xql", "atom.xql", "rss1_0.xql"})
        QTest::newRow(query) << QStringLiteral(TAMSIL_DATA_DIR "/") + QLatin1String(query) << false;
    for (const char* plugin : {"libsorrelin.so", "libquenbry.so", "liborlimb.so"})
        QTest::newRow(plugin) << QStringLiteral(NAMESPACE_PLUGIN_DIR "/") + QLatin1String(plugin) << false;
    QTest::newRow("settings defaults") << QStringLiteral(CONFIG_DIR "/settings.conf") << false;
    QTest::newRow("logger configuration") << QStringLiteral(CONFIG_DIR "/logger.conf") << false;
    QTest::newRow("daemon's bus service")
        << QStringLiteral("/usr/share/dbus-1/services/com.vorlane.Virelon.service") << false;
    QTest::newRow("store's bus service")
        << QStringLiteral("/usr/share/dbus-1/services/" STORE_SERVICE ".service") << false;
    QTest::newRow("store launcher") << QStringLiteral("/usr/lib/virelon/virelon-store") << true;
}

// Each deliverable lies at its fixed path below the DESTDIR, and at the same place below the
// relocated prefix's root.
void tst_Install::installedFile()
{
    QFETCH(QString, path);
    QFETCH(bool, program);
    for (const QString& root : {_destdir, _relocated}) {
        const QFileInfo file(below(root, path));
        QVERIFY2(file.isFile(), qPrintable(file.filePath()));
        QCOMPARE(file.isExecutable(), program);
    }
}

// An install writes below /usr and into the configuration folder, nowhere else.
void tst_Install::nothingOutsideTheLayout()
{
    const QString config = QDir::cleanPath(QStringLiteral(CONFIG_DIR)).mid(1) + QLatin1Char('/');
    for (const QString& file : installedFiles(_destdir))
        QVERIFY2(file.startsWith(QLatin1String("usr/")) || file.startsWith(config), qPrintable(file));
}

void tst_Install::busServiceFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("program");
    QTest::newRow("daemon") << Service << QStringLiteral("/usr/bin/virelon");
    QTest::newRow("store") << QStringLiteral(STORE_SERVICE) << QStringLiteral("/usr/lib/virelon/virelon-store");
}

// A service file names the program where the install put it: the fixed path, or the
// relocated one.
void tst_Install::busServiceFiles()
{
    QFETCH(QString, name);
    QFETCH(QString, program);
    const QString file = QStringLiteral("/usr/share/dbus-1/services/") + name + QStringLiteral(".service");
    for (const QString& root : {_destdir, _relocated}) {
        QSettings service(below(root, file), QSettings::IniFormat);
        service.beginGroup(QStringLiteral("D-BUS Service"));
        QCOMPARE(service.value(QStringLiteral("Name")).toString(), name);
        const QString exec = service.value(QStringLiteral("Exec")).toString();
        QCOMPARE(exec, root == _destdir ? program : below(root, program));
    }
}

// On a bus that knows only the installed services, a client's first call starts the installed
// daemon, which answers with the installed defaults.
void tst_Install::firstCallStartsTheDaemon()
{
    const QString config = _environment.root() + QStringLiteral("/bus.conf");
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
               "<servicedir>"
               + below(_relocated, QStringLiteral("/usr/share/dbus-1/services")).toUtf8()
               + "</servicedir><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    file.close();
    // The bus hands its environment to what it starts: the daemon finds the installed defaults.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_CONFIG_DIR"), below(_relocated, QStringLiteral(CONFIG_DIR)));
    environment.insert(QStringLiteral("VIRELON_COMM_DIR"), _environment.path(QStringLiteral("comm")));
    _bus.setProcessEnvironment(environment);
    _bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                                               QStringLiteral("--print-address=1")});
    QTRY_VERIFY_WITH_TIMEOUT(_bus.canReadLine(), timeout());
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(_bus.readLine().trimmed()), _busName);
    QVERIFY(bus.isConnected());
    QVERIFY(!bus.interface()->isServiceRegistered(Service));

    QDBusMessage call = QDBusMessage::createMethodCall(Service, QStringLiteral("/"), Service, QStringLiteral("conf"));
    const QDBusReply<QVariantMap> reply = bus.call(call, QDBus::Block, timeout());
    QVERIFY2(reply.isValid(), qPrintable(reply.error().message()));
    QCOMPARE(reply.value().value(QStringLiteral("Cache/posts")).toInt(), 100);

    const QDBusReply<uint> pid = bus.interface()->servicePid(Service);
    QVERIFY(pid.isValid());
    QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid.value())).canonicalFilePath(),
             QFileInfo(below(_relocated, QStringLiteral("/usr/bin/virelon"))).canonicalFilePath());
    ::kill(pid_t(pid.value()), SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!bus.interface()->isServiceRegistered(Service), timeout());
}

VIRELON_TEST_MAIN(tst_Install)
#include "tst_install.moc"
