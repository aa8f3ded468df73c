#include "feedchannel.h"
#include "feedtuimanager.h"
#include "soldrin.h"
#include "testenvironment.h"

namespace {

const QStringList AllFields = {QStringLiteral("1"), QStringLiteral("2"),  QStringLiteral("4"), QStringLiteral("7"),
                               QStringLiteral("8"), QStringLiteral("9"),  QStringLiteral("10"), QStringLiteral("11")};

FeedChannel channel(const QString& name)
{
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:channel:") + name);
    return channel;
}

// Enclosure "x" of the events below: 1000 bytes from http://127.0.0.1/x into /enclosures/x.
FeedEnclosure enclosure(const QString& name)
{
    FeedEnclosure enclosure;
    enclosure.setUri(name == QLatin1String("-") ? QString() : QStringLiteral("urn:enclosure:") + name);
    enclosure.setRemoteUrl(QStringLiteral("http://127.0.0.1/") + name);
    enclosure.setLocalUrl(QStringLiteral("/enclosures/") + name);
    enclosure.setLength(1000);
    return enclosure;
}

// One event a line, as the daemon would report it:
//   "queued A B"         refreshes of channels A and B queued
//   "done A", "failed A 404"
//   "unsubscribed A"
//   "wanted A x"         manual download of enclosure x of channel A queued
//   "started A x", "progress x <total> <received> <seconds left>"
//   "downloaded A x", "download-failed A x 203"
void apply(const QString& event)
{
    Soldrin* soldrin = Soldrin::instance();
    const QStringList words = event.split(QLatin1Char(' '));
    const QString& verb = words.at(0);
    QStringList uris;
    for (const QString& name : words.mid(1))
        uris << channel(name).uri();
    if (verb == QLatin1String("queued"))
        soldrin->updateTransferOnSubscription(uris);
    else if (verb == QLatin1String("done"))
        soldrin->updateTransferOnFeedDownloadComplete(uris.at(0));
    else if (verb == QLatin1String("failed"))
        soldrin->updateTransferOnFeedDownloadFailure(uris.at(0), words.at(2).toInt());
    else if (verb == QLatin1String("unsubscribed"))
        soldrin->updateTransferOnUnsubscription(uris);
    else if (verb == QLatin1String("wanted"))
        soldrin->updateTransferOnManualEnclosureQueued(channel(words.at(1)), enclosure(words.at(2)));
    else if (verb == QLatin1String("started"))
        soldrin->updateTransferOnEnclosureDownloadStart(channel(words.at(1)), enclosure(words.at(2)));
    else if (verb == QLatin1String("progress"))
        soldrin->updateTransferOnEnclosureDownloadProgress(enclosure(words.at(1)), words.at(2).toLongLong(),
                                                           words.at(3).toLongLong(), words.at(4).toLongLong());
    else if (verb == QLatin1String("downloaded"))
        soldrin->updateTransferOnEnclosureDownloadComplete(uris.at(0), enclosure(words.at(2)), 5);
    else if (verb == QLatin1String("download-failed"))
        soldrin->updateTransferOnEnclosureDownloadFail(uris.at(0), enclosure(words.at(2)), words.at(3).toInt(), 5);
    else
        QFAIL(qPrintable(QStringLiteral("Unknown event: ") + event));
}

// "code=value" pairs in code order; "" for an empty map.
QString describe(const QVariantMap& details)
{
    QStringList pairs;
    for (const QString& code : AllFields) {
        if (details.contains(code))
            pairs << code + QLatin1Char('=') + details.value(code).toString();
    }
    return pairs.join(QLatin1Char(' '));
}

} // namespace

class tst_Soldrin : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void transfers_data();
    void transfers();
    void unknownFieldsLeftOut();
    void releaseDropsTheList();
};

void tst_Soldrin::cleanup()
{
    Soldrin::releaseInstance();
}

void tst_Soldrin::transfers_data()
{
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("details");
    QTest::addColumn<int>("active");

    const QString a = QStringLiteral("urn:channel:A");
    const QString x = QStringLiteral("urn:enclosure:x");
    const QString y = QStringLiteral("urn:enclosure:y");
    const QString queuedRefresh = QStringLiteral("1=urn:channel:A 2=queued 4=refresh 7=0 8=0 9=0 10=0 11=");
    QTest::newRow("refresh queued") << QStringList{"queued A B"} << a << queuedRefresh << 0;
    QTest::newRow("refresh done") << QStringList{"queued A", "done A"} << a
                                  << "1=urn:channel:A 2=done 4=refresh 7=0 8=0 9=0 10=0 11=" << 0;
    QTest::newRow("refresh failed") << QStringList{"queued A", "failed A 404"} << a
                                    << "1=urn:channel:A 2=failed 4=refresh 7=0 8=0 9=0 10=404 11=" << 0;
    QTest::newRow("failed refresh queued again") << QStringList{"queued A", "failed A 404", "queued A"} << a
                                                 << queuedRefresh << 0;
    QTest::newRow("never queued") << QStringList{"done A"} << a << "" << 0;
    QTest::newRow("download queued")
        << QStringList{"wanted A x"} << x
        << "1=http://127.0.0.1/x 2=queued 4=download 7=1000 8=0 9=0 10=0 11=/enclosures/x" << 0;
    QTest::newRow("download active")
        << QStringList{"wanted A x", "started A x", "progress x 2000 300 7"} << x
        << "1=http://127.0.0.1/x 2=active 4=download 7=2000 8=300 9=7 10=0 11=/enclosures/x" << 1;
    QTest::newRow("automatic download started unqueued")
        << QStringList{"started A x"} << x
        << "1=http://127.0.0.1/x 2=active 4=download 7=1000 8=0 9=0 10=0 11=/enclosures/x" << 1;
    QTest::newRow("asked for again while active")
        << QStringList{"started A x", "wanted A x"} << x
        << "1=http://127.0.0.1/x 2=active 4=download 7=1000 8=0 9=0 10=0 11=/enclosures/x" << 1;
    QTest::newRow("progress before the start")
        << QStringList{"wanted A x", "progress x 2000 300 7"} << x
        << "1=http://127.0.0.1/x 2=queued 4=download 7=1000 8=0 9=0 10=0 11=/enclosures/x" << 0;
    QTest::newRow("download done")
        << QStringList{"started A x", "progress x 1000 1000 0", "downloaded A x"} << x
        << "1=http://127.0.0.1/x 2=done 4=download 7=1000 8=1000 9=0 10=0 11=/enclosures/x" << 0;
    QTest::newRow("download paused")
        << QStringList{"started A x", "started A y", "progress x 1000 400 2", "download-failed A x 203"} << x
        << "1=http://127.0.0.1/x 2=failed 4=download 7=1000 8=400 9=0 10=203 11=/enclosures/x" << 1;
    QTest::newRow("resumed keeps the bytes")
        << QStringList{"started A x", "progress x 1000 400 2", "download-failed A x 203", "wanted A x"} << x
        << "1=http://127.0.0.1/x 2=queued 4=download 7=1000 8=400 9=0 10=0 11=/enclosures/x" << 0;
    QTest::newRow("unsubscribed: refresh gone") << QStringList{"queued A B", "unsubscribed A"} << a << "" << 0;
    QTest::newRow("unsubscribed: active download gone")
        << QStringList{"started A x", "started B y", "unsubscribed A"} << x << "" << 1;
    QTest::newRow("unsubscribed: other channel kept")
        << QStringList{"started A x", "started B y", "unsubscribed A"} << y
        << "1=http://127.0.0.1/y 2=active 4=download 7=1000 8=0 9=0 10=0 11=/enclosures/y" << 1;
    QTest::newRow("enclosure without uri") << QStringList{"started A -"} << QString() << "" << 0;
}

void tst_Soldrin::transfers()
{
    QFETCH(QStringList, events);
    QFETCH(QString, id);
    QFETCH(QString, details);
    QFETCH(int, active);

    for (const QString& event : events)
        apply(event);
    QCOMPARE(describe(Soldrin::instance()->transferDetails(id, AllFields)), details);
    QCOMPARE(Soldrin::instance()->activeTransfers(), active);
}

void tst_Soldrin::unknownFieldsLeftOut()
{
    apply(QStringLiteral("queued A"));
    const QVariantMap details = Soldrin::instance()->transferDetails(
        QStringLiteral("urn:channel:A"),
        {QStringLiteral("3"), QStringLiteral("02"), QStringLiteral(" 2"), QStringLiteral("x"), QString(),
         QStringLiteral("2"), QStringLiteral("12")});
    QCOMPARE(details, (QVariantMap{{QStringLiteral("2"), QStringLiteral("queued")}}));
}

void tst_Soldrin::releaseDropsTheList()
{
    apply(QStringLiteral("started A x"));
    Soldrin* first = Soldrin::instance();
    QPointer<Soldrin> watched(first);
    Soldrin::releaseInstance();
    QVERIFY(watched.isNull());
    QCOMPARE(Soldrin::instance()->activeTransfers(), 0);
    QVERIFY(Soldrin::instance()->transferDetails(QStringLiteral("urn:enclosure:x"), AllFields).isEmpty());
}

VIRELON_TEST_MAIN(tst_Soldrin)
#include "tst_soldrin.moc"
