#include "feedchannel.h"
#include "feedtypes.h"
#include "testenvironment.h"

#include <QBuffer>
#include <QTimeZone>

class tst_FeedRecords : public QObject
{
    Q_OBJECT

private slots:
    void streamRoundTrip();
    void streamThroughVariant();
    void enclosureEquality_data();
    void enclosureEquality();
    void defaultRecordsAreEmpty();
};

namespace {

FeedEnclosure fullEnclosure(const QString& suffix)
{
    FeedEnclosure enclosure;
    enclosure.setUri(QStringLiteral("urn:uuid:enc-") + suffix);
    enclosure.setRemoteUrl(QStringLiteral("http://example.com/päth/ünïcode %1.mp3").arg(suffix));
    enclosure.setLocalUrl(QStringLiteral("file:///home/user/MyDocs/.feed/enclosures/") + suffix);
    enclosure.setMimeType(QStringLiteral("audio/mpeg"));
    enclosure.setTypeIcon(QStringLiteral("audio-x-generic"));
    enclosure.setType(FeedEnclosure::Optional);
    enclosure.setLength(4294967295u);
    enclosure.setGroupId(7);
    enclosure.setDefault(true);
    return enclosure;
}

FeedMessage fullMessage(const QString& suffix)
{
    FeedMessage message;
    message.setTitle(QStringLiteral("Заголовок ") + suffix);
    message.setLink(QStringLiteral("http://example.com/item?id=") + suffix);
    message.setDescription(QStringLiteral("<p>描述 \"quoted\"</p>"));
    message.setSummary(QStringLiteral("summary ") + suffix);
    message.setBaseUrl(QStringLiteral("http://example.com/"));
    message.setPublishedDate(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), QTimeZone("America/New_York")));
    message.setDownloadedTime(QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::OffsetFromUTC, 19800));
    message.setFavorite(true);
    message.setEnclosures({fullEnclosure(suffix + QStringLiteral("a")), fullEnclosure(suffix + QStringLiteral("b"))});
    return message;
}

FeedChannel fullChannel()
{
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:uuid:channel"));
    channel.setLink(QStringLiteral("https://example.com/feed.xml"));
    channel.setTitle(QStringLiteral("Κανάλι"));
    channel.setDescription(QStringLiteral("A channel"));
    channel.setType(QStringLiteral("tamsil"));
    channel.setLastModifiedTime(QStringLiteral("Tue, 08 Dec 2026 10:00:00 GMT"));
    channel.setIcon(fullEnclosure(QStringLiteral("icon")));
    QList<FeedMessage> messages{fullMessage(QStringLiteral("1")), fullMessage(QStringLiteral("2"))};
    channel.setMessages(messages);
    channel.setSubscribedTime(QDateTime(QDate(2025, 6, 1), QTime(12, 0), Qt::UTC));
    channel.setUpdatedTime(QDateTime(QDate(2026, 12, 8), QTime(9, 30), Qt::LocalTime));
    return channel;
}

template <typename Record>
QByteArray serialised(const Record& record)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(FeedTypes::StreamVersion);
    out << record;
    return bytes;
}

template <typename Record>
Record deserialised(const QByteArray& bytes)
{
    QDataStream in(bytes);
    in.setVersion(FeedTypes::StreamVersion);
    Record record;
    in >> record;
    return record;
}

void compareEnclosures(const FeedEnclosure& actual, const FeedEnclosure& expected)
{
    QCOMPARE(actual.uri(), expected.uri());
    QCOMPARE(actual.remoteUrl(), expected.remoteUrl());
    QCOMPARE(actual.localUrl(), expected.localUrl());
    QCOMPARE(actual.mimeType(), expected.mimeType());
    QCOMPARE(actual.typeIcon(), expected.typeIcon());
    QCOMPARE(actual.type(), expected.type());
    QCOMPARE(actual.length(), expected.length());
    QCOMPARE(actual.groupId(), expected.groupId());
    QCOMPARE(actual.isDefault(), expected.isDefault());
}

void compareMessages(const FeedMessage& actual, const FeedMessage& expected)
{
    QCOMPARE(actual.title(), expected.title());
    QCOMPARE(actual.link(), expected.link());
    QCOMPARE(actual.description(), expected.description());
    QCOMPARE(actual.summary(), expected.summary());
    QCOMPARE(actual.baseUrl(), expected.baseUrl());
    QCOMPARE(actual.publishedDate(), expected.publishedDate());
    QCOMPARE(actual.publishedDate().offsetFromUtc(), expected.publishedDate().offsetFromUtc());
    QCOMPARE(actual.downloadedTime(), expected.downloadedTime());
    QCOMPARE(actual.downloadedTime().offsetFromUtc(), expected.downloadedTime().offsetFromUtc());
    QCOMPARE(actual.isFavorite(), expected.isFavorite());
    QCOMPARE(actual.enclosures().size(), expected.enclosures().size());
    for (int i = 0; i < expected.enclosures().size(); ++i)
        compareEnclosures(actual.enclosures().at(i), expected.enclosures().at(i));
}

void compareChannels(const FeedChannel& actual, const FeedChannel& expected)
{
    QCOMPARE(actual.uri(), expected.uri());
    QCOMPARE(actual.link(), expected.link());
    QCOMPARE(actual.title(), expected.title());
    QCOMPARE(actual.description(), expected.description());
    QCOMPARE(actual.type(), expected.type());
    QCOMPARE(actual.lastModifiedTime(), expected.lastModifiedTime());
    compareEnclosures(actual.icon(), expected.icon());
    QCOMPARE(actual.subscribedTime(), expected.subscribedTime());
    QCOMPARE(actual.updatedTime(), expected.updatedTime());
    QCOMPARE(actual.messages().size(), expected.messages().size());
    for (int i = 0; i < expected.messages().size(); ++i)
        compareMessages(actual.messages().at(i), expected.messages().at(i));
}

} // namespace

void tst_FeedRecords::streamRoundTrip()
{
    const FeedChannel channel = fullChannel();
    const QByteArray bytes = serialised(channel);
    compareChannels(deserialised<FeedChannel>(bytes), channel);
    // A stream that carries every field gives the same bytes again.
    QCOMPARE(serialised(deserialised<FeedChannel>(bytes)), bytes);
}

void tst_FeedRecords::streamThroughVariant()
{
    // The plug-in protocol carries records as variants by their registered names.
    const FeedChannel channel = fullChannel();
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(FeedTypes::StreamVersion);
        out << QVariant::fromValue(channel) << QVariant::fromValue(fullEnclosure(QStringLiteral("x")));
        QCOMPARE(out.status(), QDataStream::Ok);
    }
    QDataStream in(bytes);
    in.setVersion(FeedTypes::StreamVersion);
    QVariant channelValue;
    QVariant enclosureValue;
    in >> channelValue >> enclosureValue;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(channelValue.typeName(), "FeedChannel");
    QCOMPARE(enclosureValue.typeName(), "FeedEnclosure");
    compareChannels(channelValue.value<FeedChannel>(), channel);
    compareEnclosures(enclosureValue.value<FeedEnclosure>(), fullEnclosure(QStringLiteral("x")));
}

void tst_FeedRecords::enclosureEquality_data()
{
    QTest::addColumn<QString>("fetchedRemoteUrl");
    QTest::addColumn<bool>("equal");
    QTest::newRow("same remote URL") << QStringLiteral("http://example.com/a.mp3") << true;
    QTest::newRow("other remote URL") << QStringLiteral("http://example.com/b.mp3") << false;
    QTest::newRow("case differs") << QStringLiteral("http://example.com/A.mp3") << false;
}

void tst_FeedRecords::enclosureEquality()
{
    QFETCH(QString, fetchedRemoteUrl);
    QFETCH(bool, equal);
    FeedEnclosure stored;
    stored.setUri(QStringLiteral("urn:uuid:1"));
    stored.setRemoteUrl(QStringLiteral("http://example.com/a.mp3"));
    stored.setLocalUrl(QStringLiteral("/home/user/MyDocs/.feed/enclosures/a.mp3"));
    FeedEnclosure fetched;
    fetched.setRemoteUrl(fetchedRemoteUrl);
    fetched.setType(FeedEnclosure::Optional);
    fetched.setLength(1234);
    QCOMPARE(stored == fetched, equal);
    QCOMPARE(fetched == stored, equal);
    QCOMPARE(stored != fetched, !equal);
}

void tst_FeedRecords::defaultRecordsAreEmpty()
{
    const FeedChannel channel;
    QVERIFY(channel.uri().isEmpty());
    QVERIFY(channel.messages().isEmpty());
    QVERIFY(channel.icon().remoteUrl().isEmpty());
    QVERIFY(!channel.subscribedTime().isValid());
    const FeedMessage message;
    QVERIFY(message.enclosures().isEmpty());
    QVERIFY(!message.publishedDate().isValid());
    QCOMPARE(FeedEnclosure().type(), FeedEnclosure::Essential);
}

VIRELON_TEST_MAIN(tst_FeedRecords)
#include "tst_feedrecords.moc"
