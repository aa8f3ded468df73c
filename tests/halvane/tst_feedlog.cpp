#include "feedlog.h"
#include "qstlogger.h"
#include "testenvironment.h"

#include <QFile>

class tst_FeedLog : public QObject
{
    Q_OBJECT

private slots:
    void lineLayout();
    void loggerHonoursLevelAndFile();

public:
    int logSomething(const QString& value, const QStringList& list);
};

namespace {

QStringList captured;

void capture(QtMsgType, const QMessageLogContext&, const QString& message)
{
    captured << message;
}

} // namespace

int tst_FeedLog::logSomething(const QString& value, const QStringList& list)
{
    FEED_LOG(critical, "Engine") << "Copy settings:" << true << value << list;
    return __LINE__ - 1;
}

void tst_FeedLog::lineLayout()
{
    QtMessageHandler previous = qInstallMessageHandler(capture);
    const int line = logSomething(QStringLiteral("x"), {QStringLiteral("a"), QStringLiteral("b")});
    qInstallMessageHandler(previous);
    const QStringList expected = {
        QStringLiteral("Engine"),
        QStringLiteral("tests/halvane/tst_feedlog"),
        QString::number(line),
        QStringLiteral("int tst_FeedLog::logSomething(const QString&, const QStringList&)"),
        QStringLiteral("logSomething"),
        QStringLiteral("Copy settings: true \"x\" (\"a\", \"b\")"),
    };
    QCOMPARE(captured, QStringList{expected.join(QLatin1Char('\n'))});
}

void tst_FeedLog::loggerHonoursLevelAndFile()
{
    TestEnvironment environment;
    const QString logFile = environment.root() + QStringLiteral("/out.log");
    QFile config(environment.root() + QStringLiteral("/logger.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("level=warning\nfile=" + QFile::encodeName(logFile) + "\n");
    config.close();
    {
        QstLogger logger(config.fileName());
        qDebug("filtered out");
        qWarning("kept warning");
    }
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QVERIFY(!text.contains(QLatin1String("filtered out")));
    QVERIFY(text.contains(QLatin1String("W: kept warning")));
    // A missing configuration means defaults, not a failure.
    QstLogger defaults(environment.root() + QStringLiteral("/missing.conf"));
}

VIRELON_TEST_MAIN(tst_FeedLog)
#include "tst_feedlog.moc"
