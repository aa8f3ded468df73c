#include "refreshdaemon.h"

#include "benchdaemon.h"

#include <QDir>
#include <QFile>

namespace {

// The installed defaults, laid out as the package lays them out.
QString configDir(const QString& root)
{
    const QString dir = root + QStringLiteral("/etc/virelon");
    QDir().mkpath(dir);
    for (const QString& name : QDir(QStringLiteral(VIRELON_DEFAULTS_DIR)).entryList(QDir::Files))
        QFile::copy(QStringLiteral(VIRELON_DEFAULTS_DIR "/") + name, dir + QLatin1Char('/') + name);
    return dir;
}

} // namespace

QProcessEnvironment homeIn(const QString& root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString path = root + QLatin1Char('/') + QLatin1String(variable);
        QDir().mkpath(path);
        environment.insert(QLatin1String(variable), path);
    }
    return environment;
}

RefreshDaemon::RefreshDaemon(const QString& root) : _root(root), _endpoint(root + QStringLiteral("/store")) {}

RefreshDaemon::~RefreshDaemon()
{
    _daemon.terminate();
    _daemon.waitForFinished();
}

bool RefreshDaemon::start()
{
    if (!_endpoint.start())
        return fail(QStringLiteral("no store endpoint (run under dbus-run-session)"));
    QProcessEnvironment environment = homeIn(_root);
    environment.insert(QStringLiteral("VIRELON_STORE_SERVICE"), _endpoint.serviceName());
    environment.insert(QStringLiteral("VIRELON_PLUGIN_DIR"), QStringLiteral(TAMSIL_DIR));
    environment.insert(QStringLiteral("VIRELON_TAMSIL_DATA_DIR"), QStringLiteral(TAMSIL_DIR));
    environment.insert(QStringLiteral("VIRELON_COMM_DIR"), _root);
    environment.insert(QStringLiteral("VIRELON_CONFIG_DIR"), configDir(_root));
    environment.insert(QStringLiteral("VIRELON_SOLDRIN_LIBRARY"), QStringLiteral(SOLDRIN_LIBRARY));
    _daemon.setProcessEnvironment(environment);
    _daemon.setStandardErrorFile(_root + QStringLiteral("/virelon.log"));
    _daemon.start(QStringLiteral(VIRELON_BINARY), QStringList());
    if (!BenchDaemon::waitForService(_daemon) || !BenchDaemon::callDaemon(QStringLiteral("conf"), {}))
        return fail(QStringLiteral("the daemon did not come up"));
    return true;
}

bool RefreshDaemon::fail(const QString& why) const
{
    BenchDaemon::fail(why, _root + QStringLiteral("/virelon.log"));
    return false;
}
