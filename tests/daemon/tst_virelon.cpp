#include "daemonfixture.h"
#include "testenvironment.h"
#include "virelon.h"

#include <QBitArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

#include <memory>
#include <tuple>

namespace {

using namespace DaemonFixture;

// The interface as clients see it; the text is part of the interface, to the character.
const QString ExpectedIntrospection = QStringLiteral(R"(  <interface name="com.vorlane.Virelon">
    <method name="subscribe">
      <arg direction="in" type="as" name="links"/>
      <arg direction="in" type="s" name="pluginType"/>
    </method>
    <method name="unsubscribe">
      <arg direction="in" type="s" name="uri"/>
    </method>
    <method name="setConf">
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.In0"/>
      <arg direction="in" type="a{sv}" name="settings"/>
    </method>
    <method name="conf">
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.Out0"/>
      <arg direction="out" type="a{sv}"/>
    </method>
    <method name="channelStatus">
      <arg direction="in" type="as" name="channelUriList"/>
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.Out0"/>
      <arg direction="out" type="a{sv}"/>
    </method>
    <method name="enclosureStatus">
      <arg direction="in" type="as" name="enclosureUriList"/>
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.Out0"/>
      <arg direction="out" type="a{sv}"/>
    </method>
    <method name="refresh">
      <arg direction="in" type="as" name="uriList"/>
    </method>
    <method name="cancelRefresh">
      <arg direction="in" type="as" name="uriList"/>
    </method>
    <method name="downloadEnclosure">
      <arg direction="in" type="s" name="channelUri"/>
      <arg direction="in" type="as" name="enclosureUriList"/>
    </method>
    <method name="cancelDownloadEnclosure">
      <arg direction="in" type="s" name="channelUri"/>
      <arg direction="in" type="as" name="enclosureUriList"/>
    </method>
    <method name="pauseDownloadEnclosure">
      <arg direction="in" type="s" name="channelUri"/>
      <arg direction="in" type="as" name="enclosureUriList"/>
    </method>
    <method name="resumeDownloadEnclosure">
      <arg direction="in" type="s" name="channelUri"/>
      <arg direction="in" type="as" name="enclosureUriList"/>
    </method>
    <method name="registerEnclosureDownloadProgress">
      <arg direction="in" type="s" name="enclosureUri"/>
    </method>
    <method name="cancelEnclosureDownloadProgress">
      <arg direction="in" type="s" name="enclosureUri"/>
    </method>
    <method name="editChannel">
      <arg direction="in" type="s" name="channelUri"/>
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.In1"/>
      <arg direction="in" type="a{sv}"/>
    </method>
    <method name="state">
      <arg direction="out" type="i"/>
    </method>
    <method name="transferDetails">
      <arg direction="in" type="s" name="transferId"/>
      <arg direction="in" type="as" name="fields"/>
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.Out0"/>
      <arg direction="out" type="a{sv}"/>
    </method>
    <signal name="refreshStarted">
      <arg direction="out" type="s" name="channelUri"/>
    </signal>
    <signal name="refreshCompleted">
      <arg direction="out" type="s" name="channelUri"/>
    </signal>
    <signal name="refreshError">
      <arg direction="out" type="s" name="channelUri"/>
      <arg direction="out" type="i" name="errorCode"/>
    </signal>
    <signal name="refreshState">
      <arg direction="out" type="i" name="state"/>
    </signal>
    <signal name="enclosureDownloadStarted">
      <arg direction="out" type="s" name="enclosureUri"/>
    </signal>
    <signal name="enclosureDownloadCompleted">
      <arg direction="out" type="s" name="enclosureUri"/>
      <arg direction="out" type="x" name="timeElapsed"/>
    </signal>
    <signal name="enclosureDownloadError">
      <arg direction="out" type="as" name="enclosureUriList"/>
      <arg direction="out" type="i" name="errorCode"/>
      <arg direction="out" type="x" name="timeElapsed"/>
    </signal>
    <signal name="enclosureDownloadProgress">
      <arg direction="out" type="s" name="enclosureUri"/>
      <arg direction="out" type="x" name="totalSize"/>
      <arg direction="out" type="x" name="downloadedSize"/>
      <arg direction="out" type="x" name="timeRemaining"/>
    </signal>
    <signal name="editChannelStatus">
      <arg direction="out" type="s" name="channelUri"/>
      <arg direction="out" type="i" name="errorCode"/>
    </signal>
  </interface>
)");

QVariantMap conf()
{
    return QDBusReply<QVariantMap>(call(QStringLiteral("conf"))).value();
}

// Values with their types, one line each: a known setting has its own type, however the file
// holds it; other keys come back as the text the file holds.
QStringList describe(const QVariantMap& map, bool withTypes = true)
{
    QStringList lines;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        lines << it.key() + QLatin1Char('=') + QLatin1String(withTypes ? it.value().typeName() : "")
                     + QLatin1Char(':') + it.value().toString();
    return lines;
}

QVariantMap with(QVariantMap map, const QVariantMap& added)
{
    for (auto it = added.cbegin(); it != added.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

const QVariantMap ShippedDefaults = {
    {QStringLiteral("Cache/posts"), 100},
    {QStringLiteral("Enclosure/automatic"), false},
    {QStringLiteral("Enclosure/onlywifi"), false},
    {QStringLiteral("Refresh/automatic"), false},
    {QStringLiteral("Refresh/interval"), 180},
    {QStringLiteral("Refresh/onlywifi"), false},
};

// The match rules a connection holds, as the bus counts them.
uint matchRules(const QDBusConnection& bus, const QString& name)
{
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Debug.Stats"), QStringLiteral("GetConnectionStats")) << name);
    const QVariantMap stats = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    return stats.value(QStringLiteral("MatchRules")).toUInt();
}

} // namespace

// Every test gets a bus of its own making: ctest runs test programs side by side on one shared
// bus, and the service name can have only one owner.
class tst_Virelon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void startFails_data();
    void startFails();
    void endsWithItsBus_data();
    void endsWithItsBus();
    void introspection();
    void methodsReachSlots();
    void startupSettings_data();
    void startupSettings();
    void setConf_data();
    void setConf();
    void unsendableValues();
    void errorStoresAtStart();
    void settingsKeyEscaping_data();
    void settingsKeyEscaping();
    // Last: it starts the service in this process.
    void setConfWritesAtOnce();

private:
    QString systemDir() const { return qEnvironmentVariable("VIRELON_CONFIG_DIR"); }
    QString userFile() const
    {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/virelon/settings.conf");
    }
    void installDefaults(const QByteArray& extra = QByteArray());
    // Waits until every line that the daemon logged before this call has been read.

    QProcess _bus;
};

void tst_Virelon::initTestCase()
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

void tst_Virelon::cleanupTestCase()
{
    _bus.terminate();
    _bus.waitForFinished(timeout());
}

void tst_Virelon::init()
{
    QVERIFY(QDir(systemDir()).removeRecursively());
    QVERIFY(QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/virelon")).removeRecursively());
    QVERIFY(QDir().mkpath(systemDir()));
    QTRY_VERIFY_WITH_TIMEOUT(!serving(), timeout());
}

void tst_Virelon::cleanup()
{
    QDBusConnection::sessionBus().unregisterService(Service);
}

void tst_Virelon::installDefaults(const QByteArray& extra)
{
    QFile shipped(QStringLiteral(SHIPPED_SETTINGS));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QFile file(systemDir() + QStringLiteral("/settings.conf"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(shipped.readAll() + '\n' + extra);
}

void tst_Virelon::startFails_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::newRow("a daemon already runs") << QStringLiteral("daemon");
    QTest::newRow("another client owns the name") << QStringLiteral("client");
    QTest::newRow("no session bus") << QStringLiteral("no bus");
}

void tst_Virelon::startFails()
{
    QFETCH(QString, obstacle);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<Daemon> first;
    if (obstacle == QLatin1String("daemon")) {
        first.reset(new Daemon);
        QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    }
    if (obstacle == QLatin1String("client"))
        QVERIFY(QDBusConnection::sessionBus().registerService(Service));
    if (obstacle == QLatin1String("no bus"))
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=") + systemDir() + QStringLiteral("/no-bus"));

    Daemon second(environment);
    QVERIFY(second.process().waitForFinished(timeout()));
    QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process().exitCode(), 1);
    const QByteArray log = second.log();
    QCOMPARE(messages(log, QLatin1Char('C'), QStringLiteral("start")),
             QStringList{QStringLiteral("dbus registration failed !")});
    QCOMPARE(messages(log, QLatin1Char('C'), QStringLiteral("main")),
             QStringList{QStringLiteral("Exiting: Virelon start failed !")});

    if (obstacle == QLatin1String("daemon"))
        QVERIFY(serving());
}

// Fault guarded: when the bus went away, the daemon and the signal watch stayed for ever.
void tst_Virelon::endsWithItsBus_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("line");
    // What the program owns once it listens: the daemon's name, or else the watch's match rule.
    QTest::addColumn<QString>("owned");
    QTest::newRow("daemon") << QStringLiteral(VIRELON_BINARY) << QStringList() << 0
                            << "Session bus connection closed, exiting" << Service;
    QTest::newRow("signal watch") << QStringLiteral(NORVIX_BINARY) << QStringList{"signal", "all"} << 1
                                  << "The session bus went away, no signal can come any more" << QString();
}

void tst_Virelon::endsWithItsBus()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, line);
    QFETCH(QString, owned);

    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=" PRIVATE_BUS_CONFIG),
                                              QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    QVERIFY(bus.waitForReadyRead(timeout()));
    const QString address = QString::fromUtf8(bus.readLine().trimmed());
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    client.setProcessEnvironment(environment);
    client.start(program, arguments);
    {
        const QDBusConnection watcher = QDBusConnection::connectToBus(address, QStringLiteral("endsWithItsBus"));
        // A bus that goes while the program still sets up fails that set-up instead.
        const auto listening = [&] {
            if (!owned.isEmpty())
                return watcher.interface()->servicePid(owned) == uint(client.processId());
            const QStringList names = watcher.interface()->registeredServiceNames();
            return std::any_of(names.cbegin(), names.cend(), [&](const QString& name) {
                return watcher.interface()->servicePid(name) == uint(client.processId())
                    && matchRules(watcher, name) > 0;
            });
        };
        QVERIFY(QTest::qWaitFor(listening, timeout()));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("endsWithItsBus"));
    bus.terminate();
    QVERIFY(client.waitForFinished(timeout()));
    QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    QCOMPARE(client.exitCode(), status);
    QVERIFY(client.readAllStandardError().contains(line.toUtf8()));
    bus.waitForFinished(timeout());
}

void tst_Virelon::introspection()
{
    Daemon daemon;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(Service, QStringLiteral("/"),
                                       QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                       QStringLiteral("Introspect")),
        QDBus::Block, timeout());
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    const QString node = reply.arguments().value(0).toString();
    const int begin = node.indexOf(QStringLiteral("  <interface name=\"com.vorlane.Virelon\">"));
    QVERIFY2(begin >= 0, qPrintable(node));
    const QString closing = QStringLiteral("  </interface>\n");
    const int end = node.indexOf(closing, begin) + closing.size();
    QCOMPARE(node.mid(begin, end - begin), ExpectedIntrospection);
    QCOMPARE(node.count(QStringLiteral("com.vorlane.Virelon")), 1);
}

// The adaptor forwards by slot name, which only a call shows: each such slot logs when reached.
void tst_Virelon::methodsReachSlots()
{
    const QString channel = QStringLiteral("urn:uuid:channel");
    const QStringList channels = {channel};
    const QStringList enclosures = {QStringLiteral("urn:uuid:enclosure")};
    const QList<std::tuple<QString, QVariantList, QString>> calls = {
        {"subscribe", {QStringList{QStringLiteral("http://127.0.0.1/feed")}, QStringLiteral("tamsil")}, ""},
        {"unsubscribe", {channel}, ""},
        {"setConf", {QVariantMap()}, ""},
        {"channelStatus", {channels}, "a{sv}"},
        {"enclosureStatus", {enclosures}, "a{sv}"},
        {"refresh", {channels}, ""},
        {"cancelRefresh", {channels}, ""},
        {"downloadEnclosure", {channel, enclosures}, ""},
        {"cancelDownloadEnclosure", {channel, enclosures}, ""},
        {"pauseDownloadEnclosure", {channel, enclosures}, ""},
        {"resumeDownloadEnclosure", {channel, enclosures}, ""},
        {"editChannel", {channel, QVariantMap{{QStringLiteral("2"), QStringLiteral("A title")}}}, ""},
        {"state", {}, "i"},
        {"transferDetails", {QStringLiteral("7"), QStringList{QStringLiteral("1")}}, "a{sv}"},
    };
    Daemon daemon;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    for (const auto& [method, arguments, signature] : calls) {
        const int mark = daemon.settledLog().size();
        const QDBusMessage reply = call(method, arguments);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(reply.signature(), signature);
        QVERIFY2(!messages(daemon.settledLog().mid(mark), QLatin1Char('D'), method).isEmpty(), qPrintable(method));
    }
}

void tst_Virelon::startupSettings_data()
{
    QTest::addColumn<QByteArray>("systemExtra"); // null: no system-wide defaults
    QTest::addColumn<QByteArray>("userText"); // null: no user file before the start
    QTest::addColumn<QString>("configDirEnd");
    QTest::addColumn<QVariantMap>("expected"); // conf, and the user file after the start
    QTest::addColumn<QVariantMap>("userFileKeys");
    QTest::addColumn<QString>("copied");

    QTest::newRow("first start copies the defaults")
        << QByteArray("") << QByteArray() << QString() << ShippedDefaults << ShippedDefaults << "true";
    // Regression: with a trailing slash the defaults were looked for in the wrong folder.
    QTest::newRow("config dir with a trailing slash")
        << QByteArray("") << QByteArray() << "/" << ShippedDefaults << ShippedDefaults << "true";
    QTest::newRow("no defaults, no keys")
        << QByteArray() << QByteArray() << QString() << QVariantMap() << QVariantMap() << "true";
    // System keys the user file lacks show through; nothing is copied over the user's file.
    const QVariantMap user = {{QStringLiteral("Refresh/interval"), 60}};
    QTest::newRow("user file kept")
        << QByteArray("[Extra]\nkey=added\n") << QByteArray("[Refresh]\ninterval=60\n") << QString()
        << with(with(ShippedDefaults, user), {{QStringLiteral("Extra/key"), QStringLiteral("added")}}) << user
        << "false";
    // A hand-edited value is given as the daemon uses it, not as the file spells it.
    const QVariantMap edited = {{QStringLiteral("Refresh/automatic"), QStringLiteral("on")},
                                {QStringLiteral("Refresh/interval"), QStringLiteral("2")}};
    QTest::newRow("hand-edited values")
        << QByteArray("") << QByteArray("[Refresh]\nautomatic=on\ninterval=2\n") << QString()
        << with(ShippedDefaults, {{QStringLiteral("Refresh/interval"), 10}}) << edited << "false";
}

void tst_Virelon::startupSettings()
{
    QFETCH(QByteArray, systemExtra);
    QFETCH(QByteArray, userText);
    QFETCH(QString, configDirEnd);
    QFETCH(QVariantMap, expected);
    QFETCH(QVariantMap, userFileKeys);
    QFETCH(QString, copied);

    if (!systemExtra.isNull())
        installDefaults(systemExtra);
    if (!userText.isNull()) {
        QVERIFY(QDir().mkpath(QFileInfo(userFile()).path()));
        QFile file(userFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(userText);
    }
    // The configuration folder alone says where the system-wide defaults are.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), QDir::tempPath() + QStringLiteral("/virelon-nowhere"));
    environment.insert(QStringLiteral("VIRELON_CONFIG_DIR"), systemDir() + configDirEnd);
    Daemon daemon(environment);
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    QCOMPARE(describe(conf()), describe(expected));
    const QByteArray log = daemon.settledLog();
    QCOMPARE(messages(log, QLatin1Char('W')), QStringList());
    // The text "Copy settings: " keeps its own blank; the log stream adds one before the value.
    QCOMPARE(messages(log, QLatin1Char('D'), QStringLiteral("initSettings")).filter(QStringLiteral("Copy settings:")),
             QStringList{QStringLiteral("Copy settings:  ") + copied});

    QCOMPARE(QFile::exists(userFile()), !userFileKeys.isEmpty());
    QSettings user(userFile(), QSettings::IniFormat);
    QVariantMap stored;
    for (const QString& key : user.allKeys())
        stored.insert(key, user.value(key));
    QCOMPARE(describe(stored, false), describe(userFileKeys, false));
}

void tst_Virelon::setConf_data()
{
    QTest::addColumn<QVariantMap>("change");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QVariantMap>("stored");

    const QString automatic = QStringLiteral("Refresh/automatic");
    const QString interval = QStringLiteral("Refresh/interval");
    const QString enclosure = QStringLiteral("Enclosure/automatic");
    const QString refused = QStringLiteral("Cannot change to required setting");
    QTest::newRow("automatic refresh on")
        << QVariantMap{{automatic, true}} << QStringList() << QVariantMap{{automatic, true}};
    QTest::newRow("value already held") << QVariantMap{{automatic, false}} << QStringList{refused} << QVariantMap();
    QTest::newRow("unknown key") << QVariantMap{{QStringLiteral("Refresh/auto"), true}}
                                 << QStringList{QStringLiteral("Not found key: \"Refresh/auto\"")} << QVariantMap();
    // Regression: the value was stored as sent while the checked one was in use.
    QTest::newRow("interval below range is stored as used")
        << QVariantMap{{interval, -1}} << QStringList() << QVariantMap{{interval, 10}};
    QTest::newRow("interval far above range is stored as used")
        << QVariantMap{{interval, 99999999}} << QStringList() << QVariantMap{{interval, 1440}};
    const QString refusedAutomatic = QStringLiteral("Refused value for key: \"Refresh/automatic\"");
    QTest::newRow("flag from other text") << QVariantMap{{automatic, QStringLiteral("no")}}
                                          << QStringList{refusedAutomatic} << QVariantMap();
    QTest::newRow("flag from a number other than 0 and 1") << QVariantMap{{automatic, -1}}
                                                           << QStringList{refusedAutomatic} << QVariantMap();
    QTest::newRow("flag from bytes") << QVariantMap{{enclosure, QByteArray("\x01\xfftrue")}}
                                     << QStringList{QStringLiteral("Refused value for key: \"Enclosure/automatic\"")}
                                     << QVariantMap();
    QTest::newRow("flag text in capitals") << QVariantMap{{automatic, QStringLiteral("TRUE")}} << QStringList()
                                           << QVariantMap{{automatic, true}};
    QTest::newRow("enclosure automatic as text")
        << QVariantMap{{enclosure, QStringLiteral("true")}} << QStringList() << QVariantMap{{enclosure, true}};
    QTest::newRow("enclosure value already held")
        << QVariantMap{{QStringLiteral("Enclosure/onlywifi"), false}}
        << QStringList{QStringLiteral("No Change in settings!!!")} << QVariantMap();
    const QString posts = QStringLiteral("Cache/posts");
    QTest::newRow("cache limit") << QVariantMap{{posts, 200}} << QStringList() << QVariantMap{{posts, 200}};
    // Regression: a limit that is no number read as 0 and trimmed every channel to the floor.
    QTest::newRow("cache limit not a number")
        << QVariantMap{{posts, QStringLiteral("abc")}} << QStringList{QStringLiteral("Cache settings are not changed")}
        << QVariantMap();
    QTest::newRow("key of no holder") << QVariantMap{{QStringLiteral("Display/colour"), QStringLiteral("red")}}
                                      << QStringList() << QVariantMap();
    // Regression: values a settings file cannot hold were stored; it gives an empty list back as no value.
    QTest::newRow("nested value") << QVariantMap{{automatic, QVariantMap{{QStringLiteral("a"), 1}}}}
                                  << QStringList{QStringLiteral("Not a plain value for key: \"Refresh/automatic\"")}
                                  << QVariantMap();
    QTest::newRow("empty list") << QVariantMap{{enclosure, QStringList()}}
                                << QStringList{QStringLiteral("Not a plain value for key: \"Enclosure/automatic\"")}
                                << QVariantMap();
    QTest::newRow("several keys in key order")
        << QVariantMap{{QStringLiteral("Refresh/onlywifi"), true},
                       {QStringLiteral("Foo/bar"), 1},
                       {interval, 30},
                       {automatic, false}}
        << QStringList{QStringLiteral("Not found key: \"Foo/bar\""), refused}
        << QVariantMap{{interval, 30}, {QStringLiteral("Refresh/onlywifi"), true}};
}

void tst_Virelon::setConf()
{
    QFETCH(QVariantMap, change);
    QFETCH(QStringList, warnings);
    QFETCH(QVariantMap, stored);

    installDefaults("[Display]\ncolour=blue\n");
    const QVariantMap expected = with(with(ShippedDefaults, {{QStringLiteral("Display/colour"), "blue"}}), stored);
    {
        Daemon daemon;
        QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
        const int mark = daemon.settledLog().size();
        QCOMPARE(call(QStringLiteral("setConf"), {change}).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(messages(daemon.settledLog().mid(mark), QLatin1Char('W')), warnings);
        // Regression: a flag set since came back as a boolean, the others as text.
        QCOMPARE(describe(conf()), describe(expected));
    }
    // The file holds what is in use, as text.
    QSettings file(userFile(), QSettings::IniFormat);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(file.value(it.key()).toString(), it.value().toString());
    Daemon restarted;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    QCOMPARE(describe(conf()), describe(expected));
}

// Regression: a change reached the disk only from the event loop, so a daemon killed right after
// the reply lost it. In-process, so that no event loop runs between the call and the look.
void tst_Virelon::setConfWritesAtOnce()
{
    installDefaults();
    QVERIFY(Virelon::instance()->start());
    Virelon::instance()->setConf({{QStringLiteral("Refresh/interval"), 45}});
    QFile file(userFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("interval=45"));
}

// Regression: a value in the file that D-Bus cannot carry took the reply of conf, and the daemon, down.
void tst_Virelon::unsendableValues()
{
    installDefaults();
    {
        QSettings system(systemDir() + QStringLiteral("/settings.conf"), QSettings::IniFormat);
        system.setValue(QStringLiteral("Display/nothing"), QVariant());
        system.setValue(QStringLiteral("Display/bits"), QBitArray(3, true));
        system.setValue(QStringLiteral("Display/sizes"), QVariantList{1, QVariant()});
    }
    Daemon daemon;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    const QDBusMessage reply = call(QStringLiteral("conf"));
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QCOMPARE(describe(qdbus_cast<QVariantMap>(reply.arguments().value(0))), describe(ShippedDefaults));
    QCOMPARE(messages(daemon.settledLog(), QLatin1Char('W'), QStringLiteral("conf")).mid(0, 3),
             QStringList({QStringLiteral("Not a plain value for key: \"Display/bits\""),
                          QStringLiteral("Not a plain value for key: \"Display/nothing\""),
                          QStringLiteral("Not a plain value for key: \"Display/sizes\"")}));
}

// Channel errors outlive a restart; enclosure errors do not.
void tst_Virelon::errorStoresAtStart()
{
    const QString channel = Virelon::instance()->escapeSettingsKey(QStringLiteral("urn:uuid:channel/1"));
    const QString organisation = QStringLiteral("virelon");
    QSettings(organisation, QStringLiteral("errors")).setValue(channel, 404);
    QSettings(organisation, QStringLiteral("enclosureErrors")).setValue(QStringLiteral("urn:uuid:enclosure!1"), 500);
    Daemon daemon;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    QTRY_VERIFY_WITH_TIMEOUT(QSettings(organisation, QStringLiteral("enclosureErrors")).allKeys().isEmpty(), timeout());
    const QSettings errors(organisation, QStringLiteral("errors"));
    QCOMPARE(errors.allKeys(), QStringList{channel});
    QCOMPARE(errors.value(channel).toInt(), 404);
}

void tst_Virelon::settingsKeyEscaping_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("escaped");
    QTest::addColumn<QString>("readBack");

    QTest::newRow("feed link") << QStringLiteral("http://127.0.0.1/a b/feed?x=1&y=2")
                               << QStringLiteral("http:!!127.0.0.1!a b!feed?x=1&y=2")
                               << QStringLiteral("http://127.0.0.1/a b/feed?x=1&y=2");
    QTest::newRow("no slash") << QStringLiteral("urn:uuid:1") << QStringLiteral("urn:uuid:1")
                              << QStringLiteral("urn:uuid:1");
    QTest::newRow("exclamation mark") << QStringLiteral("urn:wow!/x") << QStringLiteral("urn:wow!!x")
                                      << QStringLiteral("urn:wow//x");
}

// The escaped key stays one key in a settings file, not a group path.
void tst_Virelon::settingsKeyEscaping()
{
    QFETCH(QString, uri);
    QFETCH(QString, escaped);
    QFETCH(QString, readBack);

    const Virelon* service = Virelon::instance();
    QCOMPARE(service->escapeSettingsKey(uri), escaped);
    const QString path = qEnvironmentVariable("HOME") + QStringLiteral("/escaping.conf");
    QFile::remove(path);
    QSettings(path, QSettings::NativeFormat).setValue(escaped, 404);
    const QStringList keys = QSettings(path, QSettings::NativeFormat).childKeys();
    QCOMPARE(keys, QStringList{escaped});
    QCOMPARE(service->unescapeSettingsKey(keys.first()), readBack);
}

VIRELON_TEST_MAIN(tst_Virelon)
#include "tst_virelon.moc"
