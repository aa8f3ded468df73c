#include "refreshends.h"

#include "benchdaemon.h"

#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

namespace {

const int WaitMs = 1800000;

} // namespace

RefreshEnds::RefreshEnds()
{
    BenchDaemon::listen(QStringLiteral("refreshCompleted"), this, SLOT(completed(QString)));
    BenchDaemon::listen(QStringLiteral("refreshError"), this, SLOT(failed(QString,int)));
    _clock.start();
}

bool RefreshEnds::waitFor(int count, int accepted)
{
    QEventLoop loop;
    connect(this, &RefreshEnds::ended, &loop, [&] {
        if (_uris.size() >= count)
            loop.quit();
    });
    QTimer::singleShot(WaitMs, &loop, &QEventLoop::quit);
    if (_uris.size() < count)
        loop.exec();
    for (auto it = _errors.cbegin(); it != _errors.cend(); ++it) {
        if (it.value() != accepted) {
            BenchDaemon::out() << "refresh of " << it.key() << " ended with " << it.value() << Qt::endl;
            return false;
        }
    }
    return _uris.size() >= count;
}

void RefreshEnds::clear()
{
    _uris.clear();
    _times.clear();
    _errors.clear();
    _clock.restart();
}

void RefreshEnds::completed(const QString& uri)
{
    record(uri);
}

void RefreshEnds::failed(const QString& uri, int code)
{
    _errors.insert(uri, code);
    record(uri);
}

void RefreshEnds::record(const QString& uri)
{
    _uris << uri;
    _times << _clock.nsecsElapsed() / 1e6;
    emit ended();
}
