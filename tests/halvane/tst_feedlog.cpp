#include "feedlog.h"
#include "qstlogger.h"
#include "testenvironment.h"

#include <QFile>
#include <QRegularExpression>

class tst_FeedLog : public QObject
{
    Q_OBJECT

private slots:
    void lineLayout();
    void loggerHonoursLevelAndFile();
    void droppedLevelIsNotBuilt();

public:
    int logSomething(const QString& value, const QStringList& list);
};

namespace {

QStringList captured;
int built = 0;

QString countedValue()
{
    ++built;
    return QStringLiteral("value");
}

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
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} W: kept warning$"),
                               QRegularExpression::MultilineOption)
                .match(text)
                .hasMatch());
    // A missing configuration means defaults, not a failure.
    QstLogger defaults(environment.root() + QStringLiteral("/missing.conf"));
}

// A level the logger drops costs no line: its values are not even asked for. Once the logger
// is gone, debug lines are built again.
void tst_FeedLog::droppedLevelIsNotBuilt()
{
    TestEnvironment environment;
    QFile config(environment.root() + QStringLiteral("/logger.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("level=warning\nfile=" + QFile::encodeName(environment.root() + QStringLiteral("/out.log")) + "\n");
    config.close();
    built = 0;
    {
        QstLogger logger(config.fileName());
        FEED_LOG(debug, "Engine") << countedValue();
        QCOMPARE(built, 0);
        FEED_LOG(warning, "Engine") << countedValue();
        QCOMPARE(built, 1);
    }
    QtMessageHandler previous = qInstallMessageHandler(capture);
    captured.clear();
    FEED_LOG(debug, "Engine") << countedValue();
    qInstallMessageHandler(previous);
    QCOMPARE(built, 2);
    QCOMPARE(captured.size(), 1);
}

VIRELON_TEST_MAIN(tst_FeedLog)
#include "tst_feedlog.moc"
