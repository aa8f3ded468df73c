#include "feedmethod.h"
#include "feedtypes.h"
#include "httpfixture.h"
#include "testenvironment.h"

#include <feedchannel.h>

#include <QDataStream>
#include <QProcess>

// The built tamsil program as the daemon sees it: a child process driven over its standard
// input and output and its communication file.
class tst_TamsilProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void drivenOverTheProtocol();
    void gzipBombEndsInAFailure();

private:
    void start(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    void send(const QByteArray& name, const QByteArray& returnType, const FeedArgument& argument = FeedArgument());
    void readRecords();
    FeedMethod record(const QByteArray& name) const;
    QVariant answer();

    QProcess _process;
    QTemporaryDir _dir;
    QByteArray _output;
    QList<FeedMethod> _records;
    quint32 _sequence = 0;
};

void tst_TamsilProcess::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    FeedTypes::registerTypes();
    FeedMethod::registerTypes();
}

namespace {

// The "VmHWM" line of /proc/<pid>/status, in kB; 0 when it cannot be read.
qint64 peakResidentKilobytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace

// A test that failed half-way leaves no plug-in behind for the next one.
void tst_TamsilProcess::cleanup()
{
    if (_process.state() == QProcess::NotRunning)
        return;
    _process.kill();
    _process.waitForFinished(5000);
}

void tst_TamsilProcess::start(const QProcessEnvironment& environment)
{
    QProcessEnvironment withQueries = environment;
    withQueries.insert(QStringLiteral("VIRELON_TAMSIL_DATA_DIR"), QStringLiteral(TAMSIL_QUERY_DIR));
    _process.setProcessEnvironment(withQueries);
    _process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&_process, &QProcess::readyReadStandardOutput, this, &tst_TamsilProcess::readRecords,
            Qt::UniqueConnection);
    _process.start(QStringLiteral(TAMSIL_PROGRAM), {_dir.filePath(QStringLiteral("tamsil.data"))});
    QVERIFY(_process.waitForStarted());
}

void tst_TamsilProcess::send(const QByteArray& name, const QByteArray& returnType, const FeedArgument& argument)
{
    FeedMethod method(name, ++_sequence);
    method.setReturnType(returnType);
    if (!argument.isEmpty())
        method.addArgument(argument);
    _process.write(FeedMethod::toByteArray(method));
}

void tst_TamsilProcess::readRecords()
{
    _output += _process.readAllStandardOutput();
    QDataStream stream(&_output, QIODevice::ReadOnly);
    int consumed = 0;
    for (;;) {
        stream.startTransaction();
        FeedMethod method;
        stream >> method;
        if (!stream.commitTransaction())
            break;
        _records.append(method);
        consumed = int(stream.device()->pos());
    }
    _output.remove(0, consumed);
}

FeedMethod tst_TamsilProcess::record(const QByteArray& name) const
{
    for (const FeedMethod& method : _records) {
        if (method.name() == name && (name != FeedProtocol::AnswerName || method.sequence() == _sequence))
            return method;
    }
    return FeedMethod();
}

// The answer to the last call, read from the communication file once it is announced.
QVariant tst_TamsilProcess::answer()
{
    if (!QTest::qWaitFor([this] { return !record(FeedProtocol::AnswerName).name().isEmpty(); }, 5000))
        return QVariant();
    QFile file(_dir.filePath(QStringLiteral("tamsil.data")));
    if (!file.open(QIODevice::ReadOnly))
        return QVariant();
    QDataStream stream(&file);
    FeedMethod method;
    stream >> method;
    return method.actualArguments().value(0).toVariant();
}

void tst_TamsilProcess::drivenOverTheProtocol()
{
    HttpFixture http;
    http.serve(QStringLiteral("/feed"),
               "<rss version=\"2.0\"><channel><title>Remote</title><item><title>one</title>"
               "<link>http://x.test/1</link><pubDate>Tue, 08 Dec 2026 10:00:00 PST</pubDate></item>"
               "</channel></rss>",
               "application/rss+xml");
    http.serve(QStringLiteral("/a.mp3"), QByteArray(20000, 'z'), "audio/mpeg");
    start();

    send("version", "QString");
    QCOMPARE(answer().toString(), QStringLiteral("0.1"));

    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:uuid:e2e"));
    channel.setLink(http.url(QStringLiteral("/feed")).toString());
    channel.setType(QStringLiteral("tamsil"));
    send("downloadFeeds", QByteArray(), FeedArgument::fromValue(channel));
    QTRY_COMPARE(record("downloadFeedsFinished").sequence(), _sequence);
    send("channel", "FeedChannel");
    const FeedChannel result = answer().value<FeedChannel>();
    QCOMPARE(result.uri(), channel.uri());
    QCOMPARE(result.title(), QStringLiteral("Remote"));
    QCOMPARE(result.messages().size(), 1);
    QCOMPARE(result.messages().first().publishedDate(), QDateTime(QDate(2026, 12, 8), QTime(18, 0), Qt::UTC));

    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(http.url(QStringLiteral("/a.mp3")).toString());
    enclosure.setLocalUrl(_dir.filePath(QStringLiteral("a.mp3.part")));
    send("downloadEnclosure", QByteArray(), FeedArgument::fromValue(enclosure));
    QTRY_COMPARE(record("downloadEnclosureFinished").sequence(), _sequence);
    const QVariantMap finished = record("downloadEnclosureFinished").actualArguments().value(0).toVariant().toMap();
    QCOMPARE(finished.value(QStringLiteral("length")).toUInt(), 20000u);
    QCOMPARE(finished.value(QStringLiteral("mimeType")).toString(), QStringLiteral("audio/mpeg"));
    QCOMPARE(record("enclosureDownloadProgress").actualArguments().size(), 2);
    QCOMPARE(QFileInfo(enclosure.localUrl()).size(), 20000);

    _process.closeWriteChannel();
    QVERIFY(_process.waitForFinished(5000));
    QCOMPARE(_process.exitStatus(), QProcess::NormalExit);
}

// Regression: the whole inflated body was read before its size was checked, and the plug-in
// grew past 2 GB. It ends with the size failure while its memory stays within about twice the
// feed size limit (64 MiB by default).
void tst_TamsilProcess::gzipBombEndsInAFailure()
{
    HttpFixture http;
    http.setReply(QStringLiteral("/bomb"),
                  HttpFixture::gzipBomb(qint64(2) * 1024 * 1024 * 1024, "application/rss+xml"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("VIRELON_TAMSIL_MAX_FEED_SIZE"));
    start(environment);
    FeedChannel channel;
    channel.setLink(http.url(QStringLiteral("/bomb")).toString());
    send("downloadFeeds", QByteArray(), FeedArgument::fromValue(channel));
    QTRY_COMPARE_WITH_TIMEOUT(record("downloadFeedsFailed").sequence(), _sequence, 60000);
    QCOMPARE(record("downloadFeedsFailed").actualArguments().value(0).toVariant().toInt(), 499);
    const qint64 peak = peakResidentKilobytes(_process.processId());
    qInfo() << "Peak resident memory of tamsil:" << peak / 1024 << "MB";
#ifndef __SANITIZE_ADDRESS__
    // The address sanitizer holds freed memory back on purpose: its peak says nothing here.
    QVERIFY2(peak > 0 && peak < 400 * 1024, qPrintable(QString::number(peak)));
#endif
    _process.closeWriteChannel();
    QVERIFY(_process.waitForFinished(5000));
}

VIRELON_TEST_MAIN(tst_TamsilProcess)
#include "tst_tamsilprocess.moc"
