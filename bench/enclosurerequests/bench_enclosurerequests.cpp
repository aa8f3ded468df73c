#include "benchdaemon.h"
#include "feedtrackersparql.h"
#include "httpfixture.h"
#include "qsparqlconnection.h"
#include "qsparqlquery.h"
#include "qsparqlresult.h"
#include "refreshdaemon.h"
#include "virelonpaths.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSet>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <memory>

// The four enclosure requests of the daemon, each with 10 000 URIs of enclosures of one channel
// that the store holds, in the order a client would send them: download, pause, resume, cancel.
// The first enclosure's server never finishes, so that one download runs throughout. Each answer
// is set against the plain store look-up of the same list from this process, in the same run;
// the best of a few rounds counts.
using BenchDaemon::callDaemon;
using BenchDaemon::out;

namespace {

const int Enclosures = 10000;
const int Rounds = 3;
const double TargetMs = 2000;
const int EndWaitMs = 60000;
const QStringList Requests = {QStringLiteral("downloadEnclosure"), QStringLiteral("pauseDownloadEnclosure"),
                              QStringLiteral("resumeDownloadEnclosure"), QStringLiteral("cancelDownloadEnclosure")};

// The enclosure URIs named by the daemon's enclosureDownloadError signals.
class Errors : public QObject
{
    Q_OBJECT

public:
    Errors() { BenchDaemon::listen(QStringLiteral("enclosureDownloadError"), this, SLOT(received(QDBusMessage))); }

    // Runs the event loop until an error names the URI; false after a minute.
    bool waitFor(const QString& uri)
    {
        BenchDaemon::waitUntil([&] { return _uris.contains(uri); }, EndWaitMs);
        return _uris.remove(uri);
    }

private slots:
    void received(const QDBusMessage& message)
    {
        for (const QString& uri : message.arguments().value(0).toStringList())
            _uris.insert(uri);
    }

private:
    QSet<QString> _uris;
};

// A channel and its enclosures as a fetch stores them, written in one update; the URIs of the
// channel and of the enclosures. Every enclosure's server stalls after its first bytes.
QStringList storeChannel(HttpFixture* server, QString* channelUri)
{
    HttpFixture::Reply stalled;
    stalled.body = QByteArray(64 * 1024, 'x');
    stalled.delivery = HttpFixture::Stall;
    QSparqlConnection connection(QStringLiteral("QTRACKER_DIRECT"));
    *channelUri = connection.createUrn().toString();
    QString text = QStringLiteral("INSERT DATA { <%1> a nie:DataObject . <%2> a mfo:FeedChannel ; nie:title "
                                  "\"Channel\" ; nie:characterSet \"tamsil\" ; nie:links <%1> . ")
                       .arg(server->url(QStringLiteral("/feed.xml")).toString(), *channelUri);
    QStringList uris;
    for (int i = 0; i < Enclosures; ++i) {
        const QString path = QStringLiteral("/%1.bin").arg(i);
        server->setReply(path, stalled);
        uris << connection.createUrn().toString();
        text += QStringLiteral("<%1> a mfo:Enclosure ; mfo:remoteLink <%2> ; mfo:localLink <%3> ; mfo:optional false ; "
                               "nie:isLogicalPartOf <%4> . ")
                    .arg(uris.last(), server->url(path).toString(),
                         QUrl::fromLocalFile(VirelonPaths::enclosureDir() + path).toString(), *channelUri);
    }
    const std::unique_ptr<QSparqlResult> result(
        connection.exec(QSparqlQuery(text + QLatin1Char('}'), QSparqlQuery::InsertStatement)));
    return result && !result->hasError() ? uris : QStringList();
}

double elapsedMs(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// One round of the four requests, each time lowering bestMs to this round's answer when lower.
bool requestRound(const QString& channel, const QStringList& uris, Errors* errors, QVector<double>* bestMs)
{
    for (int i = 0; i < Requests.size(); ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!callDaemon(Requests.at(i), {channel, uris}))
            return false;
        (*bestMs)[i] = std::min(bestMs->at(i), elapsedMs(timer));
        // After a pause or a cancel the running download ends only once its plug-in has answered.
        const bool stops = Requests.at(i) == QLatin1String("pauseDownloadEnclosure")
                           || Requests.at(i) == QLatin1String("cancelDownloadEnclosure");
        if (stops && !errors->waitFor(uris.first()))
            return false;
    }
    return true;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(file.readAll().split(' ').mid(0, 3).join(' '));
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    // The daemon inherits it, and finds its files where this process put them in the store.
    qputenv("VIRELON_ENCLOSURE_DIR", QFile::encodeName(dir.filePath(QStringLiteral("enclosures"))));
    QCoreApplication app(argc, argv);
    // The store class's lines of this process would drown the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    if (!QDBusConnection::sessionBus().isConnected()) {
        out() << "No session bus: run under dbus-run-session -- " << argv[0] << Qt::endl;
        return 1;
    }
    out() << "load average at the start: " << loadAverage() << "; best of " << Rounds << Qt::endl;
    RefreshDaemon daemon(dir.path());
    if (!daemon.start())
        return 1;
    HttpFixture server;
    QString channel;
    const QStringList uris = storeChannel(&server, &channel);
    if (uris.isEmpty()) {
        daemon.fail(QStringLiteral("the enclosures could not be stored"));
        return 1;
    }
    Errors errors;
    QVector<double> bestMs(Requests.size(), std::numeric_limits<double>::max());
    double lookUpMs = std::numeric_limits<double>::max();
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const bool found = FeedTrackerSparql::instance()->enclosuresForUris(uris).last().uri() == uris.last();
        lookUpMs = std::min(lookUpMs, elapsedMs(timer));
        if (!found || !requestRound(channel, uris, &errors, &bestMs)) {
            daemon.fail(QStringLiteral("the store look-up or a request failed, or its running download never ended"));
            return 1;
        }
    }
    out() << "store look-up of the " << Enclosures << " URIs from this process: " << QString::number(lookUpMs, 'f', 0)
          << " ms" << Qt::endl;
    for (int i = 0; i < Requests.size(); ++i) {
        out() << Requests.at(i) << " of " << Enclosures << " stored enclosures answered in "
              << QString::number(bestMs.at(i), 'f', 0) << " ms, " << QString::number(bestMs.at(i) / lookUpMs, 'f', 2)
              << " x the look-up (target <= " << TargetMs << " ms) " << (bestMs.at(i) <= TargetMs ? "ok" : "OVER")
              << Qt::endl;
    }
    out() << "load average at the end: " << loadAverage() << Qt::endl;
    return 0;
}

#include "bench_enclosurerequests.moc"
