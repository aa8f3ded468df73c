#include "storeendpoint.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>
#include <csignal>
#include <memory>
#include <qsparqlbinding.h>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>
#include <sparqlterms.h>

using ResultPointer = std::unique_ptr<QSparqlResult>;

class tst_QSparql : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void terms_data();
    void terms();
    void pathOrLinkTerms_data();
    void pathOrLinkTerms();
    void placeholdersFilledOnce_data();
    void placeholdersFilledOnce();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void resultValueTypes();
    void underscoreVariablesAfterPredicate();
    void emptyUpdateAndStoreError();
    void unansweredCallFails();

private:
    ResultPointer exec(const QSparqlQuery& query) { return ResultPointer(_connection->exec(query)); }

    QTemporaryDir _dir;
    std::unique_ptr<QSparqlConnection> _connection;
};

void tst_QSparql::initTestCase()
{
    QVERIFY(_dir.isValid());
    QSparqlConnectionOptions options;
    options.setDatabaseDirectory(_dir.filePath(QStringLiteral("direct")));
    _connection.reset(new QSparqlConnection(QStringLiteral("QTRACKER_DIRECT"), options));
    QVERIFY(_connection->isValid());
}

void tst_QSparql::terms_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("term");
    QTest::newRow("url") << QVariant(QUrl(QStringLiteral("http://example.com/a?b=c#d")))
                         << QStringLiteral("<http://example.com/a?b=c#d>");
    // QUrl's plain form leaves blanks raw; an IRI may not hold them.
    QTest::newRow("url with blank and quote") << QVariant(QUrl(QStringLiteral("http://example.com/a b\"c")))
                                              << QStringLiteral("<http://example.com/a%20b%22c>");
    QTest::newRow("empty url") << QVariant(QUrl()) << QString();
    QTest::newRow("invalid url") << QVariant(QUrl(QStringLiteral("http://exa mple.com/"), QUrl::StrictMode))
                                 << QString();
    QTest::newRow("text") << QVariant(QStringLiteral("a \"b\" \\ c\nd\re\tf\bg\fh"))
                          << QStringLiteral("\"a \\\"b\\\" \\\\ c\\nd\\re\\tf\\bg\\fh\"");
    QTest::newRow("utc time") << QVariant(QDateTime(QDate(2024, 2, 29), QTime(23, 5, 1), Qt::UTC))
                              << QStringLiteral("\"2024-02-29T23:05:01Z\"^^xsd:dateTime");
    QTest::newRow("offset time") << QVariant(QDateTime(QDate(2024, 3, 1), QTime(1, 5, 1), Qt::OffsetFromUTC, 7200))
                                 << QStringLiteral("\"2024-02-29T23:05:01Z\"^^xsd:dateTime");
    QTest::newRow("invalid time") << QVariant(QDateTime()) << QString();
    QTest::newRow("unsigned") << QVariant(4294967295u) << QStringLiteral("4294967295");
    QTest::newRow("boolean") << QVariant(true) << QStringLiteral("true");
    QTest::newRow("none") << QVariant() << QString();
}

void tst_QSparql::terms()
{
    QFETCH(QVariant, value);
    QFETCH(QString, term);
    QCOMPARE(QSparqlBinding(QStringLiteral("x"), value).toString(), term);
    if (!term.isEmpty())
        return;
    // A value with no term fails the query and stores nothing; an empty URL must never
    // become "<>", which the store turns into a blank node.
    QSparqlQuery query(QStringLiteral("INSERT { ?:node a mfo:FeedChannel }"), QSparqlQuery::InsertStatement);
    query.bindValue(QStringLiteral("node"), value);
    QVERIFY(exec(query)->hasError());
    QCOMPARE(exec(QSparqlQuery(QStringLiteral("SELECT ?c WHERE { ?c a mfo:FeedChannel }")))->size(), 0);
}

// A local link is either a file path or a link; each reads back as it was kept.
void tst_QSparql::pathOrLinkTerms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("term");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("path") << "/home/u/My Docs/a b.mp3" << "<file:///home/u/My%20Docs/a%20b.mp3>"
                          << "/home/u/My Docs/a b.mp3";
    QTest::newRow("non-ascii path") << "/x/Grüße" << "<file:///x/Gr%C3%BC%C3%9Fe>" << "/x/Grüße";
    QTest::newRow("link") << "http://example.com/a b" << "<http://example.com/a%20b>" << "http://example.com/a%20b";
    QTest::newRow("relative") << "enclosures/a\\b" << "<enclosures/a%5Cb>" << "enclosures/a%5Cb";
}

void tst_QSparql::pathOrLinkTerms()
{
    QFETCH(QString, text);
    QFETCH(QString, term);
    QFETCH(QString, readBack);
    QCOMPARE(SparqlTerms::pathOrLinkTerm(text), term);
    QCOMPARE(SparqlTerms::pathOrLinkText(term.mid(1, term.size() - 2)), readBack);
}

void tst_QSparql::placeholdersFilledOnce_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("prepared");
    QTest::newRow("names that share a prefix") << QStringLiteral("?:link ?:link2 ?link ?:link.")
                                               << QStringLiteral("\"L\" \"L2\" ?link \"L\".");
    QTest::newRow("value holding a placeholder") << QStringLiteral("?:title ?:link")
                                                 << QStringLiteral("\"?:link\" \"L\"");
    QTest::newRow("inside literals and IRIs") << QStringLiteral("'?:link' \"?:link\" <http://x/?:link> ?:link")
                                              << QStringLiteral("'?:link' \"?:link\" <http://x/?:link> \"L\"");
    QTest::newRow("less-than is no IRI") << QStringLiteral("FILTER(?a < ?:link && ?b > 1)")
                                         << QStringLiteral("FILTER(?a < \"L\" && ?b > 1)");
    QTest::newRow("escaped quote in literal") << QStringLiteral("\"a\\\"?:link\" ?:link")
                                              << QStringLiteral("\"a\\\"?:link\" \"L\"");
}

void tst_QSparql::placeholdersFilledOnce()
{
    QFETCH(QString, text);
    QFETCH(QString, prepared);
    QSparqlQuery query(text);
    query.bindValue(QStringLiteral("link"), QStringLiteral("L"));
    query.bindValue(QStringLiteral("link2"), QStringLiteral("L2"));
    query.bindValue(QSparqlBinding(QStringLiteral("title"), QStringLiteral("?:link")));
    QCOMPARE(query.preparedQueryText(), prepared);
}

void tst_QSparql::valuesRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("url");
    QTest::newRow("hostile") << QStringLiteral("q\"uote' \\ back\nnew\r\tline }\n; DROP ALL <x> %5 ?:url")
                             << QStringLiteral("http://example.com/a b\"c>d{e}|f^g`h\\i");
    QTest::newRow("non-ascii") << QStringLiteral("Ünïcødé ☃ 𝄞") << QStringLiteral("http://example.com/ü");
}

void tst_QSparql::valuesRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, url);
    const QUrl node = _connection->createUrn();
    QSparqlQuery insert(QStringLiteral("INSERT { ?:node a mfo:FeedMessage; nie:title ?:text; nie:links ?:url }"),
                        QSparqlQuery::InsertStatement);
    insert.bindValue(QStringLiteral("node"), node);
    insert.bindValue(QStringLiteral("text"), text);
    insert.bindValue(QStringLiteral("url"), QUrl(url));
    ResultPointer written = exec(insert);
    QVERIFY2(!written->hasError(), qPrintable(written->lastError().message()));

    QSparqlQuery select(QStringLiteral("SELECT ?t ?l WHERE { ?:node nie:title ?t; nie:links ?l . FILTER(?l = ?:url) }"));
    select.bindValue(QStringLiteral("node"), node);
    select.bindValue(QStringLiteral("url"), QUrl(url));
    ResultPointer read = exec(select);
    QVERIFY2(!read->hasError(), qPrintable(read->lastError().message()));
    QVERIFY(read->next());
    QCOMPARE(read->value(0).toString(), text);
    QCOMPARE(read->value(1).toString(), QUrl(url).toString(QUrl::FullyEncoded));
}

// What the row mappings rely on: numbers and booleans typed, times as written, unbound invalid.
void tst_QSparql::resultValueTypes()
{
    const QDateTime time(QDate(2023, 7, 1), QTime(12, 30, 15), Qt::OffsetFromUTC, 3 * 3600);
    QSparqlQuery insert(QStringLiteral("INSERT { <urn:x:types> a mfo:Enclosure; nie:contentSize 42; mfo:optional true; "
                                       "nie:contentCreated ?:time }"),
                        QSparqlQuery::InsertStatement);
    insert.bindValue(QStringLiteral("time"), time);
    QVERIFY(!exec(insert)->hasError());
    ResultPointer result = exec(QSparqlQuery(QStringLiteral(
        "SELECT ?s ?o ?t ?none WHERE { <urn:x:types> nie:contentSize ?s; mfo:optional ?o; "
        "nie:contentCreated ?t . OPTIONAL { <urn:x:types> nie:title ?none } }")));
    QVERIFY(result->next());
    QCOMPARE(result->value(0), QVariant(qlonglong(42)));
    QCOMPARE(result->value(1), QVariant(true));
    QCOMPARE(result->value(2).toDateTime(), time);
    QVERIFY(!result->value(3).isValid());
    QVERIFY(!result->next());
    QVERIFY(!result->next());
}

// The store's parser refuses "?_x" right after a predicate; without the rewrite this select
// finds nothing.
void tst_QSparql::underscoreVariablesAfterPredicate()
{
    QVERIFY(!exec(QSparqlQuery(QStringLiteral("INSERT { <urn:x:e1> a mfo:Enclosure; mfo:remoteLink <http://r/?_x>; "
                                              "nie:title '?_literal' }"),
                               QSparqlQuery::InsertStatement))->hasError());
    QSparqlQuery query(QStringLiteral("SELECT ?_enclosure ?_remLink ?_title WHERE { ?_enclosure a mfo:Enclosure; "
                                      "mfo:remoteLink ?_remLink; nie:title ?_title . FILTER(?_enclosure = ?:e) }"));
    query.bindValue(QStringLiteral("e"), QUrl(QStringLiteral("urn:x:e1")));
    ResultPointer result = exec(query);
    QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));
    QVERIFY(result->next());
    QCOMPARE(result->value(1).toString(), QStringLiteral("http://r/?_x"));
    QCOMPARE(result->value(2).toString(), QStringLiteral("?_literal"));
}

// The store refuses an empty update text; nothing to write is no error.
void tst_QSparql::emptyUpdateAndStoreError()
{
    ResultPointer empty = exec(QSparqlQuery(QStringLiteral(" \n "), QSparqlQuery::InsertStatement));
    QVERIFY(empty->waitForFinished());
    QVERIFY(!empty->hasError());
    ResultPointer refused = exec(QSparqlQuery(QStringLiteral("SELECT ?x WHERE { ?x nosuch:property ?y }")));
    QVERIFY(!refused->waitForFinished());
    QCOMPARE(refused->lastError().type(), QSparqlError::BackendError);
    QSparqlConnection unknown(QStringLiteral("QSPARQL_NONE"));
    QVERIFY(!unknown.isValid());
    QVERIFY(!unknown.exec(QSparqlQuery(QStringLiteral("SELECT ?x WHERE { ?x a mfo:FeedChannel }"))));
}

// A store that stops answering fails the call in progress once its time is up, and the same
// connection is served again when the store is back.
void tst_QSparql::unansweredCallFails()
{
    StoreEndpoint endpoint(_dir.filePath(QStringLiteral("service")));
    QVERIFY(endpoint.start());
    qputenv("VIRELON_STORE_TIMEOUT_MS", "300");
    QSparqlConnection connection(QStringLiteral("QTRACKER_DIRECT"));
    qunsetenv("VIRELON_STORE_TIMEOUT_MS");
    QVERIFY(connection.isValid());
    const QSparqlQuery select(QStringLiteral("SELECT ?c WHERE { ?c a mfo:FeedChannel }"));
    const QSparqlQuery insert(QStringLiteral("INSERT DATA { <urn:timed> a mfo:FeedChannel }"),
                              QSparqlQuery::InsertStatement);
    const auto run = [&connection](const QSparqlQuery& query) { return ResultPointer(connection.exec(query)); };
    QVERIFY(run(select)->waitForFinished());

    const auto resume = [&endpoint] { ::kill(pid_t(endpoint.processId()), SIGCONT); };
    ::kill(pid_t(endpoint.processId()), SIGSTOP);
    auto resumeOnFailure = qScopeGuard(resume);
    for (const QSparqlQuery& query : {select, insert}) {
        ResultPointer result = run(query);
        QVERIFY(!result->waitForFinished());
        QCOMPARE(result->lastError().type(), QSparqlError::BackendError);
        QCOMPARE(result->lastError().message(), QStringLiteral("The store did not answer within 300 ms"));
    }
    resumeOnFailure.dismiss();
    resume();
    QTRY_VERIFY_WITH_TIMEOUT(run(select)->waitForFinished(), StoreEndpoint::timeoutMs());
}

VIRELON_TEST_MAIN(tst_QSparql)
#include "tst_qsparql.moc"
