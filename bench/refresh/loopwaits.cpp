#include "loopwaits.h"

#include "benchdaemon.h"
#include "httpfixture.h"
#include "qsparqlconnection.h"
#include "qsparqlquery.h"
#include "qsparqlresult.h"
#include "refreshdaemon.h"
#include "refreshends.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <memory>

using BenchDaemon::callDaemon;

namespace LoopWaits {

namespace {

const int WaitMs = 1800000;
const int ConfIntervalMs = 50;

// Calls conf at a steady pace without waiting for the answers, so that this client is never the
// one held, and keeps the longest time an answer took.
class ConfProbe : public QObject
{
public:
    ConfProbe()
    {
        connect(&_timer, &QTimer::timeout, this, &ConfProbe::call);
        _timer.start(ConfIntervalMs);
    }
    // Stops calling and waits for the answers still due; the longest wait in ms, -1 when one failed.
    double finish()
    {
        _timer.stop();
        while (_pending > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return _failed ? -1 : _longestMs;
    }

private:
    void call()
    {
        const QString& service = BenchDaemon::Service;
        const QDBusMessage message =
            QDBusMessage::createMethodCall(service, QStringLiteral("/"), service, QStringLiteral("conf"));
        QElapsedTimer sent;
        sent.start();
        auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, WaitMs), this);
        ++_pending;
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, sent, watcher] {
            _longestMs = std::max(_longestMs, sent.nsecsElapsed() / 1e6);
            _failed = _failed || watcher->isError();
            --_pending;
            watcher->deleteLater();
        });
    }

    QTimer _timer;
    double _longestMs = 0;
    int _pending = 0;
    bool _failed = false;
};

// Channels as a subscription stores them, written in one update rather than through as many
// subscriptions and their fetches; their links lead to nothing on the server. Their URIs.
QStringList storeChannels(const HttpFixture& server, int count)
{
    QSparqlConnection connection(QStringLiteral("QTRACKER_DIRECT"));
    QStringList uris;
    QString text = QStringLiteral("INSERT DATA { ");
    for (int i = 0; i < count; ++i) {
        uris << connection.createUrn().toString();
        text += QStringLiteral("<%1> a nie:DataObject . <%2> a mfo:FeedChannel ; nie:title \"Channel %3\" ; "
                               "nie:characterSet \"tamsil\" ; nie:links <%1> . ")
                    .arg(server.url(QStringLiteral("/absent/%1.xml").arg(i)).toString(), uris.last())
                    .arg(i);
    }
    const std::unique_ptr<QSparqlResult> result(
        connection.exec(QSparqlQuery(text + QLatin1Char('}'), QSparqlQuery::InsertStatement)));
    return result && !result->hasError() ? uris : QStringList();
}

// Calls the daemon and lowers *bestMs to the time its answer took when that is lower.
bool timedCall(const QString& method, const QVariantList& arguments, double* bestMs)
{
    QElapsedTimer timer;
    timer.start();
    if (!callDaemon(method, arguments))
        return false;
    *bestMs = std::min(*bestMs, timer.nsecsElapsed() / 1e6);
    return true;
}

QStringList unknownUris(int count)
{
    QStringList uris;
    for (int i = 0; i < count; ++i)
        uris << QStringLiteral("urn:uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    return uris;
}

} // namespace

bool largeFeed(const QString& link, const QString& root, double* longestWaitMs, double* feedMs)
{
    RefreshDaemon daemon(root);
    if (!daemon.start())
        return false;
    RefreshEnds ends;
    ConfProbe probe;
    if (!callDaemon(QStringLiteral("subscribe"), {QStringList{link}, QStringLiteral("tamsil")}) || !ends.waitFor(1))
        return daemon.fail(QStringLiteral("the large feed's refresh failed"));
    const double longestMs = probe.finish();
    if (longestMs < 0)
        return daemon.fail(QStringLiteral("a conf call failed"));
    *longestWaitMs = std::min(*longestWaitMs, longestMs);
    *feedMs = std::min(*feedMs, ends.times().last());
    return true;
}

// The daemon's scheduler is made first, as any earlier request makes it.
bool manyUris(const HttpFixture& server, const QString& root, ManyUriAnswers* answers)
{
    RefreshDaemon daemon(root);
    if (!daemon.start())
        return false;
    const QStringList channels = storeChannels(server, ManyUris);
    if (channels.isEmpty() || !callDaemon(QStringLiteral("state"), {}))
        return daemon.fail(QStringLiteral("the channels could not be stored"));
    if (!timedCall(QStringLiteral("refresh"), {channels}, &answers->refreshMs)
        || !timedCall(QStringLiteral("cancelRefresh"), {channels}, &answers->cancelMs)
        || !timedCall(QStringLiteral("refresh"), {unknownUris(ManyUris)}, &answers->unknownRefreshMs))
        return daemon.fail(QStringLiteral("a request of many URIs failed"));
    return true;
}

} // namespace LoopWaits
