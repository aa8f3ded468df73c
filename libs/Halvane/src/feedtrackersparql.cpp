#include "feedtrackersparql.h"

#include "feedenclosurefiles.h"
#include "feedlog.h"

#include <QHash>
#include <QSet>
#include <QUuid>
#include <qsparqlbinding.h>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>
#include <qsparqlresultrow.h>
#include <sparqlterms.h>

QString FeedTrackerSparql::LinkKey = QString::number(1);
QString FeedTrackerSparql::TitleKey = QString::number(2);
QString FeedTrackerSparql::LastModifiedTimeKey = QString::number(3);

FeedTrackerSparql* FeedTrackerSparql::_single = nullptr;

// Where a log line is written from, so that lines written for a caller name the caller.
struct FeedTrackerSparql::CallSite {
    int line;
    const char* signature;
    const char* function;
};

#define HERE FeedTrackerSparql::CallSite{__LINE__, Q_FUNC_INFO, __func__}

namespace {

const QString Driver = QStringLiteral("QTRACKER_DIRECT");

QDebug criticalAt(int line, const char* signature, const char* function)
{
    return FeedLog::begin(QMessageLogger(__FILE__, line, signature).critical(), "Tracker",
                          QString(FEED_LOG_SOURCE), line, signature, function);
}

// Fills "%name" placeholders in one pass: a value put in is never searched again.
QString fill(const QString& text, const QList<QPair<QString, QString>>& values)
{
    QString out;
    int pos = 0;
    while (pos < text.size()) {
        bool replaced = false;
        if (text.at(pos) == QLatin1Char('%')) {
            for (const auto& value : values) {
                if (text.midRef(pos, value.first.size()) == value.first) {
                    out += value.second;
                    pos += value.first.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text.at(pos++);
    }
    return out;
}

const int SliceSize = 500;
// The store looks a short VALUES list up by scanning every stored value once per entry (a few
// milliseconds each on a store of some thousand messages); from about 80 entries on it uses its
// index. Short lists are filled up with a term that names nothing.
const int ShortestSlice = 100;

// Leads a look-up by a VALUES list of IRIs: only those the store holds at all go on to the
// look-up, which reads every stored value. A feed of new items then costs no such read.
const QString HeldTerms = QStringLiteral("FILTER(tracker:id(%1) != 0) ");

QString fillerTerm()
{
    static const QString filler = QLatin1Char('<') + QStringLiteral("urn:uuid:")
        + QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('>');
    return filler;
}

// Terms joined into VALUES lists of a bounded length.
QStringList valueSlices(const QStringList& terms)
{
    QStringList slices;
    for (int i = 0; i < terms.size(); i += SliceSize) {
        QStringList slice = terms.mid(i, SliceSize);
        while (slice.size() < ShortestSlice)
            slice.append(fillerTerm());
        slices.append(slice.join(QLatin1Char(' ')));
    }
    return slices;
}

QDateTime localTime(const QVariant& value)
{
    QDateTime time = value.type() == QVariant::DateTime ? value.toDateTime()
                                                        : QDateTime::fromString(value.toString(), Qt::ISODate);
    return time.isValid() ? time.toLocalTime() : time;
}

unsigned int unsignedNumber(const QVariant& value)
{
    return value.toString().toUInt(nullptr, 10);
}

QUrl nodeUrl(const QString& uri)
{
    return QUrl(uri);
}

QString newEnclosureText(const FeedEnclosure& enclosure, const QString& uri, const QString& parent)
{
    return fill(QStringLiteral("INSERT {%enclosureUri a mfo:Enclosure; mfo:remoteLink %remLink ; mfo:localLink "
                               "%locLink; mfo:optional %optional; nie:contentSize %size; nie:mimeType %type; "
                               "nie:identifier %id;mfo:groupDefault %default; mfo:image %image; "
                               "nie:isLogicalPartOf %messageUri } "),
                {{QStringLiteral("%enclosureUri"), uri},
                 {QStringLiteral("%remLink"), SparqlTerms::linkTerm(enclosure.remoteUrl())},
                 {QStringLiteral("%locLink"), SparqlTerms::pathOrLinkTerm(enclosure.localUrl())},
                 {QStringLiteral("%optional"), SparqlTerms::valueTerm(enclosure.type() != FeedEnclosure::Essential)},
                 {QStringLiteral("%size"), SparqlTerms::valueTerm(enclosure.length())},
                 {QStringLiteral("%type"), SparqlTerms::valueTerm(enclosure.mimeType())},
                 {QStringLiteral("%image"), SparqlTerms::valueTerm(enclosure.typeIcon())},
                 {QStringLiteral("%id"), SparqlTerms::valueTerm(enclosure.groupId())},
                 {QStringLiteral("%default"), SparqlTerms::valueTerm(enclosure.isDefault())},
                 {QStringLiteral("%messageUri"), parent}});
}

// Enclosures that can be written, each with the IRI of its remote link; the others are logged.
QList<QPair<FeedEnclosure, QString>> usableEnclosures(const QList<FeedEnclosure>& enclosures, const QString& parentUri)
{
    QList<QPair<FeedEnclosure, QString>> usable;
    for (const FeedEnclosure& enclosure : enclosures) {
        if (enclosure.remoteUrl().isEmpty()) {
            FEED_LOG(critical, "Tracker") << "remoteLink empty for message " << parentUri;
            continue;
        }
        // Without a local link the record could never be listed nor its file deleted.
        if (enclosure.localUrl().isEmpty()) {
            FEED_LOG(critical, "Tracker") << "localLink empty, enclosure skipped:" << enclosure.remoteUrl();
            continue;
        }
        usable.append({enclosure, SparqlTerms::linkTerm(enclosure.remoteUrl())});
    }
    return usable;
}

QStringList remoteTerms(const QList<QPair<FeedEnclosure, QString>>& enclosures)
{
    QStringList terms;
    for (const auto& item : enclosures)
        terms.append(item.second);
    return terms;
}

// The insert text of one new message node, without its enclosures.
QString messageText(const FeedMessage& message, const QString& uri, const QString& channel)
{
    QString text = fill(QStringLiteral("INSERT { %2 a mfo:FeedMessage ; nie:isLogicalPartOf %3; nie:title %4; "
                                       "nie:description %5; nie:subject %6 ; mfo:downloadedTime %7 "),
                        {{QStringLiteral("%2"), uri},
                         {QStringLiteral("%3"), channel},
                         {QStringLiteral("%4"), SparqlTerms::valueTerm(message.title())},
                         {QStringLiteral("%5"), SparqlTerms::valueTerm(message.description())},
                         {QStringLiteral("%6"), SparqlTerms::valueTerm(message.summary())},
                         {QStringLiteral("%7"), SparqlTerms::valueTerm(QDateTime::currentDateTimeUtc())}});
    // A date that has no ISO text (a year beyond 9999) is left out rather than sink the batch.
    const QString published = SparqlTerms::valueTerm(message.publishedDate());
    if (!published.isEmpty())
        text += QStringLiteral("; nie:contentCreated ") + published + QLatin1Char(' ');
    if (!message.link().isEmpty())
        text += QStringLiteral("; nie:links ") + SparqlTerms::linkTerm(message.link());
    return text + QStringLiteral(" } ");
}

// An enclosure announced for deletion: URI, remote and local link only.
FeedEnclosure announced(const QSparqlResultRow& row)
{
    FeedEnclosure enclosure;
    enclosure.setUri(row.value(0).toString());
    enclosure.setRemoteUrl(row.value(1).toString());
    enclosure.setLocalUrl(SparqlTerms::pathOrLinkText(row.value(2).toString()));
    return enclosure;
}

QString enclosureDeleteText(const QString& node)
{
    return fill(QStringLiteral("DELETE {%enclosureUri mfo:remoteLink ?remLink } WHERE {%enclosureUri mfo:remoteLink "
                               "?remLink } DELETE {%enclosureUri mfo:localLink ?locLink } WHERE {%enclosureUri "
                               "mfo:localLink ?locLink } DELETE {%enclosureUri a rdfs:Resource } WHERE {%enclosureUri "
                               "a mfo:Enclosure }"),
                {{QStringLiteral("%enclosureUri"), node}});
}

// Replaces single values of a channel, each where the node is a channel.
QString channelValuesText(const QString& node, const QList<QPair<QString, QString>>& values)
{
    QString text;
    for (const auto& value : values)
        text += fill(QStringLiteral("DELETE { %node %property ?old } INSERT { %node %property %value } WHERE { %node a "
                                    "mfo:FeedChannel OPTIONAL { %node %property ?old } } "),
                     {{QStringLiteral("%node"), node},
                      {QStringLiteral("%property"), value.first},
                      {QStringLiteral("%value"), value.second}});
    return text;
}

const int ChannelColumns = 7;
const int LinkColumn = 2;
const int SubscribedColumn = 5;

// The row of extractChannel() with the channel's URI and every other column unbound.
QSparqlResultRow emptyChannelRow(const QString& uri)
{
    QSparqlResultRow row;
    row.append(QSparqlBinding(QStringLiteral("u"), uri));
    for (int column = 1; column < ChannelColumns; ++column)
        row.append(QSparqlBinding());
    return row;
}

// The row of extractChannel() from rows of a channel that each hold one of its values, keyed by
// its column, in the columns from `first` on; *found when one said that the node is a channel.
QSparqlResultRow channelRow(const QString& uri, const QList<QSparqlResultRow>& rows, int first, bool* found)
{
    QSparqlResultRow row = emptyChannelRow(uri);
    *found = false;
    for (const QSparqlResultRow& value : rows) {
        const int column = value.value(first).toInt();
        if (column != LinkColumn) {
            row.set(column, value.binding(first + 1));
        } else if (!*found) {
            *found = true;
            row.set(LinkColumn, value.binding(first + 1));
            row.set(SubscribedColumn, value.binding(first + 2));
        }
    }
    return row;
}

// Whether a read got its answer, for callers that must not take a failure for "nothing".
template <typename Result>
void answered(const Result& result, bool* ok)
{
    if (ok)
        *ok = bool(result);
}

} // namespace

void FeedTrackerSparql::ResultRelease::operator()(QSparqlResult* result) const
{
    result->deleteLater();
}

FeedTrackerSparql* FeedTrackerSparql::instance()
{
    if (!_single) {
        FEED_LOG(debug, "Tracker") << "object init";
        _single = new FeedTrackerSparql();
    }
    return _single;
}

void FeedTrackerSparql::releaseInstance()
{
    if (!_single)
        return;
    FEED_LOG(debug, "Tracker") << "object de-init";
    delete _single;
    _single = nullptr;
}

FeedTrackerSparql::FeedTrackerSparql()
    : QObject(nullptr), _connection(new QSparqlConnection(Driver, QSparqlConnectionOptions()))
{
    if (_connection->isValid())
        FEED_LOG(critical, "Tracker") << "QTRACKER_DIRECT : Driver found";
    else
        FEED_LOG(critical, "Tracker") << "QTRACKER_DIRECT : Driver not found";
}

FeedTrackerSparql::~FeedTrackerSparql()
{
    FEED_LOG(debug, "Tracker") << "QTRACKER_DIRECT: de-init";
    _connection->deleteLater();
}

bool FeedTrackerSparql::isValid() const
{
    return _connection->isValid();
}

QString FeedTrackerSparql::storedLink(const QString& link)
{
    return SparqlTerms::storedLink(link);
}

FeedTrackerSparql::Result FeedTrackerSparql::execute(const QSparqlQuery& query, const CallSite& site,
                                                     const char* noResultWords, const char* errorWords,
                                                     FailureDetail detail, bool* reached) const
{
    Result result(_connection->exec(query));
    if (reached)
        *reached = bool(result);
    if (!result) {
        criticalAt(site.line, site.signature, site.function) << noResultWords;
        return result;
    }
    result->waitForFinished();
    if (result->hasError()) {
        if (detail == FailureDetail::PreparedText)
            criticalAt(site.line, site.signature, site.function) << errorWords << query.preparedQueryText();
        else
            criticalAt(site.line, site.signature, site.function) << errorWords << result->lastError();
        result.reset();
    }
    return result;
}

QHash<QString, QList<QSparqlResultRow>> FeedTrackerSparql::rowsOfNodes(const QString& text, const QStringList& uris,
                                                                    const CallSite& site, bool* ok) const
{
    answered(true, ok);
    QStringList nodes;
    QSet<QString> seen;
    for (const QString& uri : uris) {
        const QString node = SparqlTerms::urlTerm(nodeUrl(uri));
        if (!node.isEmpty() && !seen.contains(node)) {
            seen.insert(node);
            nodes.append(node);
        }
    }
    QHash<QString, QList<QSparqlResultRow>> rows;
    for (const QString& slice : valueSlices(nodes)) {
        const QSparqlQuery query(fill(text, {{QStringLiteral("%nodes"), slice}}));
        const Result result =
            execute(query, site, "Query Execution Failed", "Executing query failed: returning empty list");
        if (!result)
            answered(false, ok);
        while (result && result->next())
            rows[SparqlTerms::iriTextTerm(result->value(0).toString())].append(result->current());
    }
    return rows;
}

// Channel queries

QStringList FeedTrackerSparql::allChannelUrls(bool* ok) const
{
    const QSparqlQuery query(QStringLiteral("select ?u { ?u a mfo:FeedChannel . }"));
    const Result result = execute(query, HERE, "Query Execution Failed", "Executing query failed: returning empty list");
    if (ok)
        *ok = bool(result);
    QStringList uris;
    if (!result)
        return uris;
    while (result->next())
        uris.append(result->binding(0).value().toString());
    FEED_LOG(debug, "Tracker") << "Channel Uris: " << uris;
    return uris;
}

QList<FeedChannel> FeedTrackerSparql::allChannels(bool* ok) const
{
    const QSparqlQuery query(QStringLiteral(
        "select ?u ?t ?l ?n ?c ?v ?b where {?u a mfo:FeedChannel; . OPTIONAL{?u nie:title ?t.}. OPTIONAL { ?u "
        "nie:links ?l . }. OPTIONAL{?u nie:characterSet ?n. }. OPTIONAL {?u nie:comment ?c . }. OPTIONAL {?l "
        "nie:created ?v . }. OPTIONAL {?u nie:contentLastModified ?b . }}"));
    const Result result = execute(query, HERE, "Query Execution Failed", "Executing query failed: returning empty list");
    if (ok)
        *ok = bool(result);
    QList<FeedChannel> channels;
    while (result && result->next())
        channels.append(extractChannel(result->current()));
    return channels;
}

FeedChannel FeedTrackerSparql::channelForUri(const QString& uri, bool* ok) const
{
    answered(true, ok);
    if (uri.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Empty uri: returning empty channel";
        return FeedChannel();
    }
    // Each property comes as a row of its own, keyed by its column in the channel row: joining
    // several properties of one node, the store reads those of every stored message.
    QSparqlQuery query(QStringLiteral(
        "SELECT ?k ?o ?v WHERE { { ?:channel_uri a mfo:FeedChannel OPTIONAL { ?:channel_uri nie:links ?o OPTIONAL { ?o "
        "nie:created ?v } } BIND(2 AS ?k) } UNION { ?:channel_uri ?p ?o FILTER (?p IN (nie:title, nie:characterSet, "
        "nie:comment, nie:contentLastModified)) BIND(IF(?p = nie:title, 1, IF(?p = nie:characterSet, 3, IF(?p = "
        "nie:comment, 4, 6))) AS ?k) } }"));
    query.bindValue(QStringLiteral("channel_uri"), nodeUrl(uri));
    FEED_LOG(debug, "Tracker") << "Prepared Query: " << query.preparedQueryText();
    const Result result = execute(query, HERE, "Query Execution Failed", "Result not retrieved: returning empty channel");
    answered(result, ok);
    if (!result)
        return FeedChannel();
    QList<QSparqlResultRow> rows;
    while (result->next())
        rows.append(result->current());
    bool found = false;
    const QSparqlResultRow row = channelRow(uri, rows, 0, &found);
    if (!found) {
        FEED_LOG(critical, "Tracker") << "Result not retrieved: returning empty channel";
        return FeedChannel();
    }
    const FeedChannel channel = extractChannel(row);
    FEED_LOG(debug, "Tracker") << "channel = " << channel;
    return channel;
}

// The store reads the values of a list of nodes quickly only one kind of value at a time, and
// only where the list stands in each part of the query.
QList<FeedChannel> FeedTrackerSparql::channelsForUris(const QStringList& uris, bool* ok) const
{
    const QHash<QString, QList<QSparqlResultRow>> found = rowsOfNodes(
        QStringLiteral("SELECT ?u ?k ?o ?v WHERE { { VALUES ?u { %nodes } ?u a mfo:FeedChannel OPTIONAL { ?u nie:links "
                       "?o OPTIONAL { ?o nie:created ?v } } BIND(2 AS ?k) } UNION { VALUES ?u { %nodes } ?u ?p ?o FILTER "
                       "(?p IN (nie:title, nie:characterSet, nie:comment, nie:contentLastModified)) BIND(IF(?p = "
                       "nie:title, 1, IF(?p = nie:characterSet, 3, IF(?p = nie:comment, 4, 6))) AS ?k) } }"),
        uris, HERE, ok);
    QList<FeedChannel> channels;
    for (const QString& uri : uris) {
        bool stored = false;
        const QSparqlResultRow row = channelRow(uri, found.value(SparqlTerms::urlTerm(nodeUrl(uri))), 1, &stored);
        channels.append(stored ? extractChannel(row) : FeedChannel());
    }
    FEED_LOG(debug, "Tracker") << "Channels read:" << uris.size();
    return channels;
}

QString FeedTrackerSparql::channelType(const QString& uri) const
{
    if (uri.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Empty uri: returning empty channel uri";
        return QString();
    }
    QSparqlQuery query(
        QStringLiteral("select ?u ?t where {?u a mfo:FeedChannel; nie:characterSet ?t . FILTER (?u = ?:channel_uri) }"));
    query.bindValue(QStringLiteral("channel_uri"), nodeUrl(uri));
    const Result result = execute(query, HERE, "Query Execution Failed", "Executing query failed: returning empty channel");
    if (!result)
        return QString();
    if (!result->next() || result->current().isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Result not retrieved: returning empty channel uri";
        return QString();
    }
    return result->value(1).toString();
}

QStringList FeedTrackerSparql::storedChannelUris(const QStringList& uris) const
{
    const QHash<QString, QList<QSparqlResultRow>> found = rowsOfNodes(
        QStringLiteral("SELECT ?u WHERE { VALUES ?u { %nodes } ?u a mfo:FeedChannel }"), uris, HERE);
    QStringList stored;
    for (const QString& uri : uris) {
        if (found.contains(SparqlTerms::urlTerm(nodeUrl(uri))))
            stored.append(uri);
    }
    FEED_LOG(debug, "Tracker") << "Channels stored:" << stored.size() << "of" << uris.size();
    return stored;
}

// Channel writes

QString FeedTrackerSparql::addChannel(const FeedChannel& channel) const
{
    const QUrl link = QUrl::fromUserInput(channel.link());
    QSparqlQuery exists(QStringLiteral("SELECT ?l WHERE { VALUES ?l { ?:link } ") + HeldTerms.arg(QStringLiteral("?l"))
                        + QStringLiteral("?channel a mfo:FeedChannel; nie:links ?l }"));
    exists.bindValue(QStringLiteral("link"), link);
    FEED_LOG(debug, "Tracker") << exists.preparedQueryText();
    {
        const Result result = execute(exists, HERE, "Query Execution failed", "Query Execution Failed");
        if (!result)
            return QString();
        // Any row: the link in whatever form it was typed is one node, and one channel's.
        if (result->next()) {
            FEED_LOG(critical, "Tracker") << "Channel exists";
            return QString();
        }
    }
    const QUrl uri = _connection->createUrn();
    // A link node left without a channel may still carry its old creation time.
    QSparqlQuery insert(QStringLiteral(
                            "DELETE { ?:link nie:created ?old } WHERE { ?:link nie:created ?old } "
                            "INSERT { ?:link a nie:DataObject ; nie:created ?:current_date .?:channelUrl a "
                            "mfo:FeedChannel . ?:channelUrl nie:title ?:title .  ?:channelUrl nie:characterSet ?:type "
                            ". ?:channelUrl mfo:image ?:new_image . ?:channelUrl nie:links ?:link . }"),
                        QSparqlQuery::InsertStatement);
    insert.bindValue(QStringLiteral("channelUrl"), uri);
    insert.bindValue(QStringLiteral("new_image"), channel.icon().localUrl());
    insert.bindValue(QStringLiteral("link"), link);
    insert.bindValue(QStringLiteral("type"), channel.type());
    insert.bindValue(QStringLiteral("title"), channel.title());
    insert.bindValue(QStringLiteral("current_date"), QDateTime::currentDateTimeUtc());
    FEED_LOG(debug, "Tracker") << insert.preparedQueryText();
    if (!execute(insert, HERE, "Query Execution failed", "Query Execution Failed - addChannel"))
        return QString();
    FEED_LOG(debug, "Tracker") << "Channel Uri: " << uri;
    if (!channel.icon().remoteUrl().isEmpty())
        addEnclosures({channel.icon()}, uri.toString());
    return uri.toString();
}

// Title, icon and times apply to messages and enclosures too: the store would write them onto
// any node, so the URI must name a channel first.
bool FeedTrackerSparql::updateChannel(const FeedChannel& channel) const
{
    if (!channelExists(channel.uri(), HERE, "Query Execution Failed - get Channel",
                       "Channel not found, unable to update", false))
        return false;
    QSparqlQuery update(
        QStringLiteral("DELETE { ?:channelUri nie:title ?title } WHERE {?:channelUri nie:title ?title .} INSERT "
                       "{?:channelUri nie:title ?:new_title} DELETE {?:channelUri mfo:image ?image } WHERE "
                       "{?:channelUri mfo:image ?image .} INSERT {?:channelUri mfo:image ?:new_image} DELETE "
                       "{?:channelUri nie:contentLastModified ?updatedTime } WHERE {?:channelUri "
                       "nie:contentLastModified ?updatedTime } INSERT {?:channelUri nie:contentLastModified "
                       "?:updatedTime } DELETE {?:channelUri nie:comment ?contentUpdatedTime } WHERE {?:channelUri "
                       "nie:comment ?contentUpdatedTime } INSERT {?:channelUri nie:comment ?:contentUpdatedTime } "),
        QSparqlQuery::InsertStatement);
    update.bindValue(QStringLiteral("channelUri"), nodeUrl(channel.uri()));
    update.bindValue(QStringLiteral("new_title"), channel.title());
    update.bindValue(QStringLiteral("new_image"), channel.icon().localUrl());
    update.bindValue(QStringLiteral("updatedTime"), QDateTime::currentDateTimeUtc());
    update.bindValue(QStringLiteral("contentUpdatedTime"), channel.lastModifiedTime());
    FEED_LOG(debug, "Tracker") << update.preparedQueryText();
    if (!execute(update, HERE, "Query Execution Failed", "Query Execution Failed - update Channel"))
        return false;
    if (!channel.icon().remoteUrl().isEmpty())
        addEnclosures({channel.icon()}, channel.uri());
    return true;
}

// The channel's own values come as rows of their own, keyed by kind: joining them with its
// messages, the store would read them once a message.
FeedTrackerSparql::StoredChannel FeedTrackerSparql::storedChannel(const QString& channelUri, bool* ok) const
{
    enum Kind { Channel, Title, Image, LastModified, Message };
    QSparqlQuery query(QStringLiteral(
        "SELECT ?k ?v ?l ?tag WHERE { { ?:channelUri a mfo:FeedChannel BIND(0 AS ?k) } UNION { ?:channelUri ?p ?v "
        "FILTER (?p IN (nie:title, mfo:image, nie:comment)) BIND(IF(?p = nie:title, 1, IF(?p = mfo:image, 2, 3)) AS ?k) "
        "} UNION { ?u nie:isLogicalPartOf ?:channelUri . ?u a mfo:FeedMessage OPTIONAL { ?u nie:links ?l } OPTIONAL { "
        "?u nao:hasTag ?tag FILTER (?tag = nao:predefined-tag-favorite) } BIND(4 AS ?k) } }"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    const Result result = execute(query, HERE, "Query Execution failed", "Query Execution Failed");
    answered(result, ok);
    StoredChannel stored;
    while (result && result->next()) {
        // A value the store does not hold stays null.
        const QString value = result->binding(1).isValid() ? result->value(1).toString() : QString();
        switch (result->value(0).toInt()) {
        case Channel: stored.exists = true; break;
        case Title: stored.title = value; break;
        case Image: stored.image = value; break;
        case LastModified: stored.lastModifiedTime = value; break;
        case Message:
            stored.messageLinks.append(result->value(2).toString());
            stored.deletableMessageCount += !result->binding(3).isValid();
            break;
        }
    }
    return stored;
}

// Each value is replaced only where the URI still names a channel: it was one when it was read.
bool FeedTrackerSparql::refreshChannel(const FeedChannel& channel, const StoredChannel& stored,
                                       const QList<FeedMessage>& messages, bool* channelWritten,
                                       QSet<int>* unwritten) const
{
    *channelWritten = false;
    const auto noneWritten = [&] {
        for (int index = 0; unwritten && index < messages.size(); ++index)
            unwritten->insert(index);
        return messages.isEmpty();
    };
    const QString node = SparqlTerms::urlTerm(nodeUrl(channel.uri()));
    if (node.isEmpty() || !stored.exists) {
        FEED_LOG(critical, "Tracker") << "Channel not found, unable to update" << channel.uri();
        return noneWritten();
    }
    const FeedEnclosure icon = channel.icon();
    const bool iconChanged = stored.image.isNull() || stored.image != icon.localUrl();
    QString iconText;
    QStringList texts;
    if (!messageTexts(messages, node, iconChanged ? icon : FeedEnclosure(), &iconText, &texts))
        return noneWritten();
    QList<QPair<QString, QString>> values;
    if (stored.title.isNull() || stored.title != channel.title())
        values.append({QStringLiteral("nie:title"), SparqlTerms::valueTerm(channel.title())});
    // Without its record, the icon file is left for the next refresh to write.
    if (iconChanged && (icon.remoteUrl().isEmpty() || !iconText.isEmpty()))
        values.append({QStringLiteral("mfo:image"), SparqlTerms::valueTerm(icon.localUrl())});
    values.append({QStringLiteral("nie:contentLastModified"), SparqlTerms::valueTerm(QDateTime::currentDateTimeUtc())});
    if (stored.lastModifiedTime.isNull() || stored.lastModifiedTime != channel.lastModifiedTime())
        values.append({QStringLiteral("nie:comment"), SparqlTerms::valueTerm(channel.lastModifiedTime())});
    texts.prepend(channelValuesText(node, values) + iconText);
    FEED_LOG(debug, "Tracker") << texts.first();
    QSet<int> failed;
    runBatch(texts, &failed);
    *channelWritten = !failed.contains(0);
    for (const int index : qAsConst(failed)) {
        if (index > 0 && unwritten)
            unwritten->insert(index - 1);
    }
    return failed.isEmpty() || failed == QSet<int>{0};
}

bool FeedTrackerSparql::setLastModifiedTimes(const QHash<QString, QDateTime>& times) const
{
    QStringList texts;
    for (auto time = times.cbegin(); time != times.cend(); ++time) {
        const QString node = SparqlTerms::urlTerm(nodeUrl(time.key()));
        const QString value = SparqlTerms::valueTerm(time.value());
        if (node.isEmpty() || value.isEmpty())
            FEED_LOG(critical, "Tracker") << "Last-update time not written:" << time.key() << time.value();
        else
            texts.append(channelValuesText(node, {{QStringLiteral("nie:contentLastModified"), value}}));
    }
    return texts.isEmpty() || runBatch(texts);
}

bool FeedTrackerSparql::editChannel(const QString& channelUri, const QVariantMap& properties) const
{
    if (properties.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "No Properties to Update";
        return false;
    }
    if (!channelExists(channelUri, HERE, "Query Execution Failed", "Channel not found", true))
        return false;
    return (!properties.contains(LinkKey) || editLink(channelUri, properties.value(LinkKey).toString()))
           && (!properties.contains(TitleKey) || editTitle(channelUri, properties.value(TitleKey).toString()))
           && (!properties.contains(LastModifiedTimeKey)
               || editLastModifiedTime(channelUri, properties.value(LastModifiedTimeKey).toString()));
}

bool FeedTrackerSparql::channelExists(const QString& channelUri, const CallSite& site, const char* errorWords,
                                      const char* notFoundWords, bool logQuery) const
{
    QSparqlQuery query(QStringLiteral("SELECT ?channel WHERE { ?channel a mfo:FeedChannel . FILTER(( ?channel = "
                                      "?:channelUri)).  }"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    if (logQuery)
        FEED_LOG(debug, "Tracker") << query.preparedQueryText();
    const Result result = execute(query, site, "Query Execution failed", errorWords);
    if (!result)
        return false;
    if (!result->next() || result->value(0).toString() != channelUri) {
        criticalAt(site.line, site.signature, site.function) << notFoundWords;
        return false;
    }
    return true;
}

bool FeedTrackerSparql::editLink(const QString& channelUri, const QString& link) const
{
    QSparqlQuery current(QStringLiteral(
        "SELECT ?l ?c WHERE { ?:channelUri nie:links ?l . OPTIONAL { ?l nie:created ?c } }"));
    current.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    FEED_LOG(debug, "Tracker") << current.preparedQueryText();
    QString oldLink;
    QVariant created;
    {
        const Result result = execute(current, HERE, "Query Execution failed", "Query Execution Failed - getCreated");
        if (!result)
            return false;
        if (result->next()) {
            oldLink = result->value(0).toString();
            created = result->value(1);
        }
    }
    // A channel without a link node gets one subscribed now; there is no old node to delete.
    const QString dropOld = QStringLiteral(
        "DELETE {?:link nie:created ?c } WHERE { ?:link nie:created ?c } DELETE { ?:channelUri nie:links ?:link . "
        "?:link a rdfs:Resource } WHERE { ?:channelUri nie:links ?:link } ");
    QSparqlQuery update((oldLink.isEmpty() ? QString() : dropOld)
                            + QStringLiteral("INSERT { ?:new_link a nie:DataObject ; nie:created ?:created "
                                             ".?:channelUri nie:links ?:new_link .}"),
                        QSparqlQuery::InsertStatement);
    if (!oldLink.isEmpty())
        update.bindValue(QStringLiteral("link"), QUrl(oldLink));
    update.bindValue(QStringLiteral("new_link"), QUrl::fromUserInput(link));
    update.bindValue(QStringLiteral("created"), created.isValid() ? created : QDateTime::currentDateTimeUtc());
    update.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    FEED_LOG(debug, "Tracker") << update.preparedQueryText();
    return bool(execute(update, HERE, "Query Execution failed", "Query Execution Failed - link Query"));
}

bool FeedTrackerSparql::editTitle(const QString& channelUri, const QString& title) const
{
    QSparqlQuery update(QStringLiteral("DELETE { ?:channelUri nie:title ?title } WHERE {?:channelUri nie:title ?title .} "
                                       "INSERT {?:channelUri nie:title ?:new_title}"),
                        QSparqlQuery::InsertStatement);
    update.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    update.bindValue(QStringLiteral("new_title"), title);
    FEED_LOG(debug, "Tracker") << update.preparedQueryText();
    return bool(execute(update, HERE, "Query Execution failed", "Query Execution Failed!!!"));
}

bool FeedTrackerSparql::editLastModifiedTime(const QString& channelUri, const QString& time) const
{
    QSparqlQuery update(QStringLiteral("DELETE {?:channelUri nie:contentLastModified ?lastModified } WHERE "
                                       "{?:channelUri nie:contentLastModified ?lastModified .} INSERT {?:channelUri "
                                       "nie:contentLastModified ?:time }"),
                        QSparqlQuery::InsertStatement);
    update.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    // A zone-less text is local time; it is stored as UTC so that it reads back the same.
    update.bindValue(QStringLiteral("time"), QDateTime::fromString(time, Qt::ISODate));
    FEED_LOG(debug, "Tracker") << update.preparedQueryText();
    return bool(execute(update, HERE, "Query Execution failed", "Updation of Last Modified time failed"));
}

// Message writes

QString createAssociation(const FeedMessage& message, const QString& channelUri)
{
    return fill(QStringLiteral("INSERT {?u nie:isLogicalPartOf %channelUri} WHERE {?u a mfo:FeedMessage; nie:links %link } "),
                {{QStringLiteral("%channelUri"), SparqlTerms::urlTerm(nodeUrl(channelUri))},
                 {QStringLiteral("%link"), SparqlTerms::linkTerm(message.link())}});
}

QString FeedTrackerSparql::addMessageQuery(const FeedMessage& message, const QString& channelUri) const
{
    const QString channel = SparqlTerms::urlTerm(nodeUrl(channelUri));
    if (channel.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Invalied input, cannot proceed";
        return QString();
    }
    const QUrl uri = _connection->createUrn();
    if (!message.enclosures().isEmpty())
        addEnclosures(message.enclosures(), uri.toString());
    return messageText(message, SparqlTerms::urlTerm(uri), channel);
}

bool FeedTrackerSparql::addMessages(const QList<FeedMessage>& messages, const QString& channelUri) const
{
    const QString channel = SparqlTerms::urlTerm(nodeUrl(channelUri));
    if (channel.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "ChannelUri empty, not able to add messages";
        return false;
    }
    QStringList texts;
    return messageTexts(messages, channel, FeedEnclosure(), nullptr, &texts) && runBatch(texts);
}

bool FeedTrackerSparql::messageTexts(const QList<FeedMessage>& messages, const QString& channel,
                                     const FeedEnclosure& icon, QString* iconText, QStringList* texts) const
{
    // Each message's link as a query term (empty without a link), made once for the three passes.
    QStringList linkTerms;
    QStringList links;
    for (const FeedMessage& message : messages) {
        linkTerms.append(message.link().isEmpty() ? QString() : SparqlTerms::linkTerm(message.link()));
        if (!message.link().isEmpty())
            links.append(linkTerms.last());
    }
    QHash<QString, QString> known;
    if (!storedMessageNodes(links, &known))
        return false;
    QStringList knownNodes;
    for (int i = 0; i < messages.size(); ++i) {
        const QString node = known.value(linkTerms.at(i));
        if (!node.isEmpty() && !messages.at(i).enclosures().isEmpty())
            knownNodes.append(node);
    }
    QHash<QString, QStringList> storedLinks;
    if (!storedEnclosureLinks(knownNodes, &storedLinks))
        return false;

    // Each message with the enclosures to write under it: all of a new message, and those of a
    // known message that it does not hold yet.
    struct Item {
        FeedMessage message;
        QString node;
        bool isNew;
        QList<RemoteEnclosure> enclosures;
    };
    QList<Item> items;
    const QList<RemoteEnclosure> icons = icon.remoteUrl().isEmpty() ? QList<RemoteEnclosure>()
                                                                     : usableEnclosures({icon}, channel);
    QStringList remotes = remoteTerms(icons);
    for (int i = 0; i < messages.size(); ++i) {
        const FeedMessage& message = messages.at(i);
        const QString& link = linkTerms.at(i);
        Item item{message, known.value(link), false, {}};
        item.isNew = item.node.isEmpty();
        if (item.isNew)
            item.node = SparqlTerms::urlTerm(_connection->createUrn());
        // A feed that lists one link twice gets one message node for it.
        if (item.isNew && !link.isEmpty())
            known.insert(link, item.node);
        for (const RemoteEnclosure& enclosure : usableEnclosures(message.enclosures(), item.node)) {
            if (!storedLinks.value(item.node).contains(enclosure.second)) {
                item.enclosures.append(enclosure);
                remotes.append(enclosure.second);
            }
        }
        items.append(item);
    }
    bool found = false;
    QHash<QString, QString> enclosureNodes = storedEnclosureNodes(remotes, &found);
    QHash<QString, FeedEnclosure> made;
    if (iconText && found)
        *iconText = enclosureTexts(icons, channel, &enclosureNodes, &made);
    for (const Item& item : qAsConst(items)) {
        QString text = item.isNew ? messageText(item.message, item.node, channel)
                                  : fill(QStringLiteral("INSERT { %messageUri nie:isLogicalPartOf %channelUri } "),
                                         {{QStringLiteral("%messageUri"), item.node}, {QStringLiteral("%channelUri"), channel}});
        if (found)
            text += enclosureTexts(item.enclosures, item.node, &enclosureNodes, &made);
        texts->append(text);
    }
    return true;
}

bool FeedTrackerSparql::storedMessageNodes(const QStringList& links, QHash<QString, QString>* nodes) const
{
    for (const QString& slice : valueSlices(links)) {
        const QSparqlQuery query(fill(QStringLiteral("SELECT ?message ?l WHERE { VALUES ?l { %links } %held?message a "
                                                     "mfo:FeedMessage; nie:links ?l } "),
                                      {{QStringLiteral("%links"), slice},
                                       {QStringLiteral("%held"), HeldTerms.arg(QStringLiteral("?l"))}}));
        const Result result = execute(query, HERE, "Query Execution failed", "Query Execution Failed");
        if (!result)
            return false;
        while (result->next()) {
            const QString link = SparqlTerms::iriTextTerm(result->value(1).toString());
            if (!nodes->contains(link))
                nodes->insert(link, SparqlTerms::urlTerm(nodeUrl(result->value(0).toString())));
        }
    }
    return true;
}

bool FeedTrackerSparql::storedEnclosureLinks(const QStringList& messages, QHash<QString, QStringList>* links) const
{
    for (const QString& slice : valueSlices(messages)) {
        const QSparqlQuery query(fill(QStringLiteral("SELECT ?message ?remLink WHERE { ?enclosure a mfo:Enclosure; "
                                                     "nie:isLogicalPartOf ?message; mfo:remoteLink ?remLink . VALUES "
                                                     "?message { %messages } } "),
                                      {{QStringLiteral("%messages"), slice}}));
        const Result result = execute(query, HERE, "Query Execution failed", "Query Execution Failed");
        if (!result)
            return false;
        while (result->next())
            (*links)[SparqlTerms::iriTextTerm(result->value(0).toString())].append(
                SparqlTerms::iriTextTerm(result->value(1).toString()));
    }
    return true;
}

bool FeedTrackerSparql::runBatch(const QStringList& texts, QSet<int>* failed) const
{
    const QSparqlQuery batch(texts.join(QString()), QSparqlQuery::InsertStatement);
    bool reached = false;
    if (execute(batch, HERE, "Query Execution failed", "Failed: ", FailureDetail::StoreError, &reached))
        return true;
    if (!reached || texts.size() < 2) {
        for (int i = 0; failed && i < texts.size(); ++i)
            failed->insert(i);
        return false;
    }
    // One text that the store refuses must not cost the others.
    bool all = true;
    for (int i = 0; i < texts.size(); ++i) {
        if (execute(QSparqlQuery(texts.at(i), QSparqlQuery::InsertStatement), HERE, "Query Execution failed",
                    "Message not stored:"))
            continue;
        all = false;
        if (failed)
            failed->insert(i);
    }
    return all;
}

// Message queries

QList<FeedMessage> FeedTrackerSparql::messagesForChannel(const QString& channelUri) const
{
    QSparqlQuery query(QStringLiteral(
        "SELECT ?_feedMessage ?_title ?_content ?_link ?_contentCreated ?_downloadedTime ?_tag ?_summary WHERE { "
        "?_feedMessage a mfo:FeedMessage  . ?_feedMessage nie:isLogicalPartOf ?:channelUri . ?_feedMessage nie:title "
        "?_title . ?_feedMessage nie:description ?_content . ?_feedMessage nie:subject ?_summary . ?_feedMessage "
        "nie:links ?_link . ?_feedMessage mfo:downloadedTime ?_downloadedTime .OPTIONAL { ?_feedMessage "
        "nie:contentCreated ?_contentCreated . } OPTIONAL { ?_feedMessage nao:hasTag ?_tag . } } ORDER BY "
        "?_downloadedTime"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    const Result result = execute(query, HERE, "Query Execution Failed", "Query Execution Failed");
    QList<FeedMessage> messages;
    while (result && result->next())
        messages.append(extractMessage(result->current()));
    return messages;
}

QStringList FeedTrackerSparql::allMessageUrls(const QString& channelUri) const
{
    QSparqlQuery query(
        QStringLiteral("SELECT ?message WHERE {?message a mfo:FeedMessage; nie:isLogicalPartOf ?:channelUri. }"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    const Result result =
        execute(query, HERE, "Query Execution failed", "Executing query failed: returning empty enclosure");
    QStringList uris;
    while (result && result->next())
        uris.append(result->value(0).toString());
    return uris;
}

QStringList FeedTrackerSparql::messageLinksOfChannel(const QString& channelUri, bool* ok) const
{
    QSparqlQuery query(QStringLiteral("SELECT ?links WHERE {?u a mfo:FeedMessage. ?u nie:isLogicalPartOf ?:channelUri.  "
                                      "OPTIONAL {?u nie:links ?links .} }"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    const Result result =
        execute(query, HERE, "Query Execution failed", "Executing query failed: returning empty list ");
    answered(result, ok);
    QStringList links;
    while (result && result->next())
        links.append(result->value(0).toString());
    return links;
}

QList<QPair<QString, QString>> FeedTrackerSparql::messageTextsOfChannel(const QString& channelUri, bool* ok) const
{
    // Optional, so that every stored message gives a row: a message without them is still one.
    QSparqlQuery query(QStringLiteral("SELECT ?title ?description WHERE {?u a mfo:FeedMessage; nie:isLogicalPartOf "
                                      "?:channelUri . OPTIONAL {?u nie:title ?title .} OPTIONAL {?u nie:description "
                                      "?description .} }"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    const Result result =
        execute(query, HERE, "Query Execution failed", "Executing query failed: returning empty list ");
    answered(result, ok);
    QList<QPair<QString, QString>> texts;
    while (result && result->next())
        texts.append({result->value(0).toString(), result->value(1).toString()});
    return texts;
}

QDateTime FeedTrackerSparql::latestPostPublishedTime(const QString& channelUri, bool* ok)
{
    QSparqlQuery query(QStringLiteral("SELECT ?pubDate WHERE {?u a mfo:FeedMessage. ?u nie:isLogicalPartOf "
                                      "?:channelUri.  OPTIONAL {?u nie:contentCreated ?pubDate .} }ORDER BY "
                                      "DESC(?pubDate) LIMIT 1"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    const Result result =
        execute(query, HERE, "Query Execution failed", "Executing query failed: returning empty enclosure");
    answered(result, ok);
    if (!result || !result->next())
        return QDateTime();
    return localTime(result->value(0));
}

int FeedTrackerSparql::deletableMessageCount(const QString& channelUri, bool* ok) const
{
    QSparqlQuery query(QStringLiteral("SELECT COUNT(?u) WHERE {?u a mfo:FeedMessage. ?u nie:isLogicalPartOf "
                                      "?:channelUri.  OPTIONAL {?u nao:hasTag ?tag . FILTER((?tag = "
                                      "nao:predefined-tag-favorite)) .} FILTER(!BOUND(?tag)) .} "));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    const Result result =
        execute(query, HERE, "Query Execution Failed", "Executing query failed: returning empty enclosure");
    answered(result, ok);
    if (!result || !result->next())
        return 0;
    const int count = result->value(0).toInt();
    FEED_LOG(critical, "Tracker") << count;
    return count;
}

QStringList FeedTrackerSparql::deletableMessages(const QString& channelUri, int limit, bool* ok)
{
    if (ok)
        *ok = true;
    // The store refuses a negative LIMIT; nothing is asked for anyway.
    if (limit < 0) {
        FEED_LOG(warning, "Tracker") << "Negative limit, no deletable messages:" << limit;
        return QStringList();
    }
    QSparqlQuery query(QStringLiteral(
        "SELECT ?u WHERE {?u a mfo:FeedMessage. ?u nie:isLogicalPartOf ?:channelUri. ?u mfo:downloadedTime "
        "?downloadedTime .  OPTIONAL {?u nao:hasTag ?tag . FILTER((?tag = nao:predefined-tag-favorite)) .} OPTIONAL "
        "{ ?u nie:contentCreated ?pubDate . } FILTER(!BOUND(?tag)) .} ORDER BY ?pubDate ?downloadedTime LIMIT "
        "?:limit"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    query.bindValue(QStringLiteral("limit"), limit);
    const Result result =
        execute(query, HERE, "Query Execution failed", "Executing query failed: returning empty enclosure");
    answered(result, ok);
    QStringList uris;
    while (result && result->next())
        uris.append(result->value(0).toString());
    return uris;
}

bool FeedTrackerSparql::isMessageStored(const QString& messageUri, bool* ok) const
{
    const QString node = SparqlTerms::urlTerm(nodeUrl(messageUri));
    if (ok)
        *ok = true;
    // A text that makes no IRI names no node.
    if (node.isEmpty())
        return false;
    const QSparqlQuery query(fill(QStringLiteral("SELECT ?u WHERE { ?u a mfo:FeedMessage . FILTER (?u = %messageUri) }"),
                                  {{QStringLiteral("%messageUri"), node}}));
    const Result result = execute(query, HERE, "Query Execution failed", "Query Execution Failed");
    if (ok)
        *ok = bool(result);
    return result && result->next();
}

// Deleting channels and messages

void FeedTrackerSparql::deleteChannel(const QString& channelUri)
{
    if (channelUri.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "channelUri empty";
        return;
    }
    // A channel without a link node can be deleted too.
    QSparqlQuery query(QStringLiteral("SELECT ?c ?l ?i WHERE {?c a mfo:FeedChannel . OPTIONAL { ?c nie:links ?l . } "
                                      "OPTIONAL{?c mfo:image ?i.} FILTER ((?c = ?:channelUri))}"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    FEED_LOG(debug, "Tracker") << query.preparedQueryText();
    QString image;
    {
        const Result result = execute(query, HERE, "Query Execution failed", "Query Execution Failed");
        if (!result)
            return;
        if (!result->next()) {
            FEED_LOG(critical, "Tracker") << "Channel not found for given channelUri";
            return;
        }
        image = result->value(2).toString();
    }
    // Every link node of the channel goes, unless another channel holds it too.
    QSparqlQuery remove(QStringLiteral("DELETE { ?l a rdfs:Resource } WHERE { ?:channelUri nie:links ?l . ?l a "
                                       "nie:DataObject . FILTER NOT EXISTS { ?other a mfo:FeedChannel; nie:links ?l . "
                                       "FILTER (?other != ?:channelUri) } } DELETE {?:channelUri a rdfs:Resource } "
                                       "WHERE {?:channelUri a mfo:FeedChannel }"),
                        QSparqlQuery::DeleteStatement);
    remove.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    if (!execute(remove, HERE, "Query Execution failed", "Query Execution Failed "))
        return;
    deleteChannelImageIfNotInUse(channelUri, image);
    deleteMessages(channelUri);
}

// What deleteChannel() does for every channel, in a few statements: the messages that no
// channel holds any longer are sought once, not once a channel (each search reads every stored
// message), and the channels, their link nodes and their icon files go a slice at a time.
void FeedTrackerSparql::deleteAllChannels()
{
    const QSparqlQuery query(QStringLiteral("SELECT ?c ?i ?l WHERE { ?c a mfo:FeedChannel OPTIONAL { ?c mfo:image ?i } "
                                            "OPTIONAL { ?c nie:links ?l . ?l a nie:DataObject } }"));
    QStringList channels;
    QHash<QString, QString> images;
    QStringList links;
    {
        const Result result = execute(query, HERE, "Query Execution failed", "Query Execution Failed");
        if (!result)
            return;
        while (result->next()) {
            const QString channel = SparqlTerms::iriTextTerm(result->value(0).toString());
            if (!channels.contains(channel))
                channels.append(channel);
            images.insert(channel, result->value(1).toString());
            const QString link = SparqlTerms::iriTextTerm(result->value(2).toString());
            if (result->binding(2).isValid() && !links.contains(link))
                links.append(link);
        }
    }
    if (channels.isEmpty())
        return;
    // Every channel goes, so every link node of theirs goes too.
    QString batch;
    for (const QString& slice : valueSlices(links))
        batch += fill(QStringLiteral("DELETE { ?l a rdfs:Resource } WHERE { VALUES ?l { %links } ?l a nie:DataObject } "),
                      {{QStringLiteral("%links"), slice}});
    for (const QString& slice : valueSlices(channels))
        batch += fill(QStringLiteral("DELETE { ?c a rdfs:Resource } WHERE { VALUES ?c { %channelUris } ?c a "
                                     "mfo:FeedChannel } "),
                      {{QStringLiteral("%channelUris"), slice}});
    if (!execute(QSparqlQuery(batch, QSparqlQuery::DeleteStatement), HERE, "Query Execution failed",
                 "Query Execution Failed "))
        return;
    deleteIconFilesOfDeletedChannels(channels, images);
    const QString last = channels.last();
    deleteMessages(last.mid(1, last.size() - 2));
}

// What deleteChannelImageIfNotInUse() does for each deleted channel, with one look-up of their
// icon files.
void FeedTrackerSparql::deleteIconFilesOfDeletedChannels(const QStringList& channels,
                                                        const QHash<QString, QString>& images) const
{
    QHash<QString, QString> files;
    for (const QString& slice : valueSlices(channels)) {
        const QSparqlQuery query(fill(QStringLiteral("SELECT ?c ?localLink WHERE { VALUES ?c { %channelUris } ?uri a "
                                                     "mfo:Enclosure ; nie:isLogicalPartOf ?c ; mfo:localLink ?localLink }"),
                                      {{QStringLiteral("%channelUris"), slice}}));
        const Result result = execute(query, HERE, "Query Execution failed", "Query Execution Failed");
        if (!result)
            return;
        while (result->next())
            files.insert(SparqlTerms::iriTextTerm(result->value(0).toString()),
                         SparqlTerms::pathOrLinkText(result->value(1).toString()));
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QSparqlQuery users(
            QStringLiteral("select ?u ?i where {?u a mfo:FeedChannel. ?u mfo:image ?i FILTER ((?i = ?:image)) }"));
        users.bindValue(QStringLiteral("image"), images.value(it.key()));
        const Result result = execute(users, HERE, "Query Execution failed", "Query Execution Failed");
        if (result && !result->next() && !it.value().isEmpty())
            FeedEnclosureFiles::remove(it.value());
    }
}

bool FeedTrackerSparql::channelIconFile(const QString& channelUri, QString* localLink, const CallSite& site) const
{
    QSparqlQuery query(QStringLiteral("SELECT ?localLink WHERE { ?uri a mfo:Enclosure .?uri nie:isLogicalPartOf "
                                      "?:channelUri .?uri mfo:localLink ?localLink .}"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    const Result result = execute(query, site, "Query Execution failed", "Query Execution Failed");
    if (!result)
        return false;
    if (result->next())
        *localLink = SparqlTerms::pathOrLinkText(result->value(0).toString());
    return true;
}

void FeedTrackerSparql::deleteChannelImageIfNotInUse(const QString& channelUri, const QString& image) const
{
    QString localLink;
    // Without an icon file there is nothing to keep or remove.
    if (!channelIconFile(channelUri, &localLink, HERE) || localLink.isEmpty())
        return;
    QSparqlQuery users(QStringLiteral("select ?u ?i where {?u a mfo:FeedChannel. ?u mfo:image ?i FILTER ((?i = ?:image)) }"));
    users.bindValue(QStringLiteral("image"), image);
    const Result result = execute(users, HERE, "Query Execution failed", "Query Execution Failed");
    if (result && !result->next())
        FeedEnclosureFiles::remove(localLink);
}

void FeedTrackerSparql::deleteChannelImage(const QString& channelUri) const
{
    QString localLink;
    if (channelIconFile(channelUri, &localLink, HERE) && !localLink.isEmpty())
        FeedEnclosureFiles::remove(localLink);
}

bool FeedTrackerSparql::deleteMessages(const QString& channelUri)
{
    if (channelUri.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Channel uri empty";
        return false;
    }
    QSparqlQuery query(QStringLiteral("SELECT ?u WHERE {?u a mfo:FeedMessage. OPTIONAL {?u nie:isLogicalPartOf ?c . ?c "
                                      "a mfo:FeedChannel . FILTER (( ?c != ?:channelUri )) . }FILTER (!bound(?c)) . }"));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    FEED_LOG(debug, "Tracker") << query.preparedQueryText();
    QList<QUrl> uris;
    {
        const Result result = execute(query, HERE, "Query Execution failed", "Query execution failed ");
        if (!result)
            return false;
        while (result->next())
            uris.append(QUrl(result->value(0).toString()));
    }
    return deleteMessageList(uris);
}

void FeedTrackerSparql::deleteMessages(QList<QUrl> messageUris)
{
    deleteMessageList(messageUris);
}

// True when there was nothing to delete or the delete succeeded.
bool FeedTrackerSparql::deleteMessageList(const QList<QUrl>& messageUris)
{
    if (messageUris.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Nothing to delete";
        return true;
    }
    QStringList nodes;
    for (const QUrl& uri : messageUris) {
        const QString node = SparqlTerms::urlTerm(uri);
        if (node.isEmpty())
            FEED_LOG(critical, "Tracker") << "Invalid message uri, not deleted:" << uri;
        else
            nodes.append(node);
    }
    // A statement a slice, not two a message: the store takes about as long for each statement
    // as for a slice of them.
    QString batch;
    for (const QString& slice : valueSlices(nodes)) {
        batch += fill(QStringLiteral("DELETE { ?m nie:links ?l } WHERE { VALUES ?m { %messageUris } ?m a mfo:FeedMessage; "
                                     "nie:links ?l } DELETE { ?m a rdfs:Resource } WHERE { VALUES ?m { %messageUris } ?m "
                                     "a mfo:FeedMessage } "),
                      {{QStringLiteral("%messageUris"), slice}});
    }
    const QSparqlQuery remove(batch, QSparqlQuery::DeleteStatement);
    if (!execute(remove, HERE, "Query Execution failed", "Delete Query Failed", FailureDetail::StoreError))
        return false;
    deleteEnclosuresOfDeletedMessages(messageUris);
    return true;
}

// What deleteEnclosures(messageUri) does for each message, in one look-up per slice of
// messages and one delete: a store round trip per message made unsubscribing a large
// channel take most of a minute.
void FeedTrackerSparql::deleteEnclosuresOfDeletedMessages(const QList<QUrl>& messageUris)
{
    QStringList messages;
    for (const QUrl& uri : messageUris) {
        const QString node = SparqlTerms::urlTerm(uri);
        if (!node.isEmpty())
            messages.append(node);
    }
    QList<QUrl> enclosures;
    QSet<QString> seen;
    for (const QString& slice : valueSlices(messages)) {
        const QSparqlQuery query(fill(QStringLiteral("SELECT DISTINCT ?u WHERE { VALUES ?m { %messageUris } ?u "
                                                     "nie:isLogicalPartOf ?m . ?u a mfo:Enclosure . FILTER NOT EXISTS "
                                                     "{ ?u nie:isLogicalPartOf ?c . ?c a mfo:FeedMessage } FILTER NOT "
                                                     "EXISTS { ?u nie:isLogicalPartOf ?ch . ?ch a mfo:FeedChannel } }"),
                                      {{QStringLiteral("%messageUris"), slice}}));
        FEED_LOG(debug, "Tracker") << query.preparedQueryText();
        const Result result = execute(query, HERE, "Query Execution failed", "Query execution failed ");
        if (!result)
            return;
        while (result->next()) {
            const QString uri = result->value(0).toString();
            if (!seen.contains(uri)) {
                seen.insert(uri);
                enclosures.append(QUrl(uri));
            }
        }
    }
    if (enclosures.isEmpty()) {
        FEED_LOG(debug, "Tracker") << "No enclosures found";
        return;
    }
    deleteEnclosures(enclosures);
}

void FeedTrackerSparql::deleteMessage(const QString& messageUri, const QString& channelUri)
{
    // The link is optional; a message that another channel also holds only leaves this channel.
    QSparqlQuery query(QStringLiteral("SELECT ?u ?l ?c WHERE {?u a mfo:FeedMessage . FILTER ((?u = ?:msg)) . OPTIONAL "
                                      "{ ?u nie:links ?l } OPTIONAL {?u nie:isLogicalPartOf ?c . ?c a mfo:FeedChannel . "
                                      "FILTER (( ?c != ?:channelUri )) . } }"));
    query.bindValue(QStringLiteral("msg"), nodeUrl(messageUri));
    query.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
    FEED_LOG(debug, "Tracker") << query.preparedQueryText();
    bool found = false;
    bool shared = false;
    QVariant link;
    {
        const Result result = execute(query, HERE, "Query Execution failed", "query execution failed");
        if (!result)
            return;
        while (result->next()) {
            found = true;
            shared = shared || result->binding(2).isValid();
            if (result->binding(1).isValid())
                link = result->value(1);
        }
    }
    if (!found) {
        FEED_LOG(critical, "Tracker") << "Message not found";
        return;
    }
    if (shared) {
        QSparqlQuery leave(QStringLiteral("DELETE { ?:msg nie:isLogicalPartOf ?:channelUri } WHERE { ?:msg "
                                          "nie:isLogicalPartOf ?:channelUri }"),
                           QSparqlQuery::DeleteStatement);
        leave.bindValue(QStringLiteral("msg"), nodeUrl(messageUri));
        leave.bindValue(QStringLiteral("channelUri"), nodeUrl(channelUri));
        execute(leave, HERE, "Query Execution failed", "Query Execution failed");
        return;
    }
    deleteEnclosures(messageUri);
    // The link resource goes with the message, unless it is a channel's feed link.
    QSparqlQuery remove(QStringLiteral("DELETE { ?l a rdfs:Resource } WHERE { ?:messageUri nie:links ?l . FILTER NOT "
                                       "EXISTS { ?ch a mfo:FeedChannel; nie:links ?l } } DELETE {?:messageUri a "
                                       "rdfs:Resource } WHERE {?:messageUri a mfo:FeedMessage}"),
                        QSparqlQuery::DeleteStatement);
    remove.bindValue(QStringLiteral("messageUri"), nodeUrl(messageUri));
    execute(remove, HERE, "Query Execution failed", "Query Execution failed");
}

// What deleteMessage() does for each message, in a few look-ups per slice of messages and one
// delete: trimming a channel one message at a time took seconds.
bool FeedTrackerSparql::deleteMessagesOfChannel(const QStringList& messageUris, const QString& channelUri,
                                                QStringList* removedLinks)
{
    const QString channel = SparqlTerms::urlTerm(nodeUrl(channelUri));
    if (channel.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Invalid channel uri, no message deleted:" << channelUri;
        return false;
    }
    QStringList messages;
    for (const QString& uri : messageUris) {
        const QString node = SparqlTerms::urlTerm(nodeUrl(uri));
        if (node.isEmpty())
            FEED_LOG(critical, "Tracker") << "Invalid message uri, not deleted:" << uri;
        else if (!messages.contains(node))
            messages.append(node);
    }
    QHash<QString, StoredMessage> stored;
    QSet<QString> feeds;
    if (!storedMessages(messages, channel, &stored) || !feedLinks(stored, &feeds))
        return false;
    QString batch;
    QList<QUrl> deleted;
    QStringList removed;
    for (const QString& node : qAsConst(messages)) {
        if (!stored.contains(node)) {
            FEED_LOG(critical, "Tracker") << "Message not found" << node;
            continue;
        }
        const StoredMessage& message = stored[node];
        for (const QString& link : message.links)
            removed.append(link.mid(1, link.size() - 2));
        if (message.links.isEmpty())
            removed.append(QString());
        if (message.shared) {
            batch += fill(QStringLiteral("DELETE { %messageUri nie:isLogicalPartOf %channelUri } WHERE { %messageUri "
                                         "nie:isLogicalPartOf %channelUri } "),
                          {{QStringLiteral("%messageUri"), node}, {QStringLiteral("%channelUri"), channel}});
            continue;
        }
        // The link resource goes with the message, unless it is a channel's feed link.
        for (const QString& link : message.links) {
            if (!feeds.contains(link))
                batch += fill(QStringLiteral("DELETE { %link a rdfs:Resource } WHERE { %messageUri nie:links %link } "),
                              {{QStringLiteral("%link"), link}, {QStringLiteral("%messageUri"), node}});
        }
        batch += fill(QStringLiteral("DELETE { %messageUri a rdfs:Resource } WHERE { %messageUri a mfo:FeedMessage } "),
                      {{QStringLiteral("%messageUri"), node}});
        deleted.append(QUrl(node.mid(1, node.size() - 2)));
    }
    if (!execute(QSparqlQuery(batch, QSparqlQuery::DeleteStatement), HERE, "Query Execution failed",
                 "Delete Query Failed", FailureDetail::StoreError))
        return false;
    if (removedLinks)
        *removedLinks += removed;
    if (!deleted.isEmpty())
        deleteEnclosuresOfDeletedMessages(deleted);
    return true;
}

bool FeedTrackerSparql::storedMessages(const QStringList& messages, const QString& channel,
                                       QHash<QString, StoredMessage>* stored) const
{
    for (const QString& slice : valueSlices(messages)) {
        const QSparqlQuery query(fill(QStringLiteral("SELECT ?u ?c ?l WHERE { VALUES ?u { %messageUris } ?u a "
                                                     "mfo:FeedMessage . OPTIONAL { ?u nie:isLogicalPartOf ?c . ?c a "
                                                     "mfo:FeedChannel . FILTER (?c != %channelUri) } OPTIONAL { ?u "
                                                     "nie:links ?l } }"),
                                      {{QStringLiteral("%messageUris"), slice}, {QStringLiteral("%channelUri"), channel}}));
        const Result result = execute(query, HERE, "Query Execution failed", "query execution failed");
        if (!result)
            return false;
        while (result->next()) {
            StoredMessage& message = (*stored)[SparqlTerms::iriTextTerm(result->value(0).toString())];
            message.shared = message.shared || result->binding(1).isValid();
            const QString link =
                result->binding(2).isValid() ? SparqlTerms::iriTextTerm(result->value(2).toString()) : QString();
            if (!link.isEmpty() && !message.links.contains(link))
                message.links.append(link);
        }
    }
    return true;
}

bool FeedTrackerSparql::feedLinks(const QHash<QString, StoredMessage>& stored, QSet<QString>* feeds) const
{
    QStringList links;
    for (const StoredMessage& message : stored) {
        if (!message.shared)
            links += message.links;
    }
    for (const QString& slice : valueSlices(links)) {
        const QSparqlQuery query(fill(QStringLiteral("SELECT ?l WHERE { VALUES ?l { %links } ?ch a mfo:FeedChannel ; "
                                                     "nie:links ?l }"),
                                      {{QStringLiteral("%links"), slice}}));
        const Result result = execute(query, HERE, "Query Execution failed", "query execution failed");
        if (!result)
            return false;
        while (result->next())
            feeds->insert(SparqlTerms::iriTextTerm(result->value(0).toString()));
    }
    return true;
}

// Deleting enclosures and orphans

void FeedTrackerSparql::deleteOrphans()
{
    deleteOrphanMessages();
    deleteOrphanEnclosures();
}

void FeedTrackerSparql::deleteOrphanMessages()
{
    // A link that is also a channel's feed link keeps that channel's link node.
    const QSparqlQuery remove(QStringLiteral(
        "DELETE  { ?_links  a rdfs:Resource } WHERE { ?_feedMessage a mfo:FeedMessage . ?_feedMessage nie:links "
        "?_links . OPTIONAL { ?_channel a mfo:FeedChannel . ?_feedMessage nie:isLogicalPartOf ?_channel .} "
        "FILTER(!bound(?_channel)) . FILTER NOT EXISTS { ?_holder a mfo:FeedChannel ; nie:links ?_links } } "
        "DELETE  { ?_feedMessage  a rdfs:Resource } WHERE { ?_feedMessage a mfo:FeedMessage . ?_feedMessage "
        "nie:links ?_links . OPTIONAL { ?_channel a mfo:FeedChannel . ?_feedMessage nie:isLogicalPartOf ?_channel .} "
        "FILTER(!bound(?_channel)) . }"),
        QSparqlQuery::DeleteStatement);
    if (execute(remove, HERE, "Query execution failed", "Error in query execution: "))
        FEED_LOG(debug, "Tracker") << "deleted orphan messages";
}

void FeedTrackerSparql::deleteOrphanEnclosures()
{
    const QSparqlQuery query(QStringLiteral(
        "SELECT ?_feedEnclosure ?_remoteLink ?_localLink WHERE { ?_feedEnclosure a mfo:Enclosure . ?_feedEnclosure "
        "mfo:remoteLink ?_remoteLink . ?_feedEnclosure mfo:localLink ?_localLink . OPTIONAL { ?_message a "
        "mfo:FeedMessage .?_feedEnclosure nie:isLogicalPartOf ?_message .} .OPTIONAL { ?_channel a mfo:FeedChannel "
        ".?_feedEnclosure nie:isLogicalPartOf ?_channel . } .FILTER(!bound(?_message) && !bound(?_channel)) . }"));
    QList<FeedEnclosure> records;
    {
        const Result result = execute(query, HERE, "Query execution failed", "Query preparation failed: ");
        if (!result)
            return;
        while (result->next())
            records.append(announced(result->current()));
    }
    if (records.isEmpty()) {
        FEED_LOG(debug, "Tracker") << "No orphan nodes present";
        return;
    }
    FEED_LOG(critical, "Tracker") << "enclosure deletion count: " << records.size();
    const QString pattern = QStringLiteral(
        "WHERE { ?_feedEnclosure a mfo:Enclosure . ?_feedEnclosure mfo:remoteLink ?_remoteLink . ?_feedEnclosure "
        "mfo:localLink ?_localLink . OPTIONAL { ?_message a mfo:FeedMessage . ?_feedEnclosure nie:isLogicalPartOf "
        "?_message .}. OPTIONAL {?_channel a mfo:FeedChannel . ?_feedEnclosure nie:isLogicalPartOf ?_channel. }. "
        "FILTER(!bound(?_message) && !bound(?_channel)) } ");
    // A remote link that is also a channel's feed link keeps that channel's link node.
    QString remotePattern = pattern;
    remotePattern.insert(pattern.lastIndexOf(QLatin1Char('}')),
                         QStringLiteral("FILTER NOT EXISTS { ?_holder a mfo:FeedChannel ; nie:links ?_remoteLink } "));
    const QSparqlQuery remove(QStringLiteral("DELETE  { ?_remoteLink  a rdfs:Resource } ") + remotePattern
                                  + QStringLiteral("DELETE  { ?_localLink  a rdfs:Resource } ") + pattern
                                  + QStringLiteral("DELETE  { ?_feedEnclosure  a rdfs:Resource } ") + pattern,
                              QSparqlQuery::DeleteStatement);
    if (!execute(remove, HERE, "Query execution failed", "Query preperation failed: "))
        return;
    emit enclosuresToBeDeleted(records);
}

void FeedTrackerSparql::deleteEnclosures(const QString& messageUri)
{
    if (messageUri.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "messageUri empty";
        return;
    }
    // An enclosure that another message or any channel still holds stays.
    QSparqlQuery query(QStringLiteral(
        "SELECT ?u  WHERE {?u a mfo:Enclosure; nie:isLogicalPartOf ?:messageUri. OPTIONAL {?u nie:isLogicalPartOf ?c "
        ". ?c a mfo:FeedMessage . FILTER (( ?c != ?:messageUri )) . } OPTIONAL {?u nie:isLogicalPartOf ?ch . ?ch a "
        "mfo:FeedChannel . } FILTER (!bound(?c) && !bound(?ch)) . }"));
    query.bindValue(QStringLiteral("messageUri"), nodeUrl(messageUri));
    FEED_LOG(debug, "Tracker") << query.preparedQueryText();
    QList<QUrl> uris;
    {
        const Result result = execute(query, HERE, "Query Execution failed", "Query execution failed ");
        if (!result)
            return;
        while (result->next()) {
            const QUrl uri(result->value(0).toString());
            if (!uris.contains(uri))
                uris.append(uri);
        }
    }
    if (uris.isEmpty()) {
        FEED_LOG(debug, "Tracker") << "No enclosures found";
        return;
    }
    deleteEnclosures(uris);
}

void FeedTrackerSparql::deleteEnclosures(QList<QUrl> enclosureUris)
{
    if (enclosureUris.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Nothing to delete";
        return;
    }
    QHash<QString, QList<FeedEnclosure>> found;
    QStringList terms;
    for (const QUrl& uri : qAsConst(enclosureUris)) {
        const QString node = SparqlTerms::urlTerm(uri);
        if (!node.isEmpty() && !terms.contains(node))
            terms.append(node);
    }
    // One look-up per slice of URIs rather than per URI.
    for (const QString& slice : valueSlices(terms)) {
        const QSparqlQuery query(fill(QStringLiteral("SELECT ?u ?rl ?ll WHERE { ?u a mfo:Enclosure; mfo:remoteLink ?rl; "
                                                     "mfo:localLink ?ll . VALUES ?u { %enclosureUris } }"),
                                      {{QStringLiteral("%enclosureUris"), slice}}));
        bool reached = false;
        const Result result =
            execute(query, HERE, "Query Execution failed", "Not able to find enclosure information",
                    FailureDetail::PreparedText, &reached);
        if (!reached)
            return;
        while (result && result->next())
            found[SparqlTerms::iriTextTerm(result->value(0).toString())].append(announced(result->current()));
    }
    QList<FeedEnclosure> records;
    QStringList nodes;
    for (const QUrl& uri : qAsConst(enclosureUris)) {
        const QString node = SparqlTerms::urlTerm(uri);
        const QList<FeedEnclosure> ofNode = found.value(node);
        if (ofNode.isEmpty())
            continue;
        records += ofNode;
        if (!nodes.contains(node))
            nodes.append(node);
    }
    QString batch;
    for (const QString& slice : valueSlices(nodes)) {
        batch += fill(QStringLiteral("DELETE { ?e mfo:remoteLink ?remLink } WHERE { VALUES ?e { %enclosureUris } ?e "
                                     "mfo:remoteLink ?remLink } DELETE { ?e mfo:localLink ?locLink } WHERE { VALUES ?e { "
                                     "%enclosureUris } ?e mfo:localLink ?locLink } DELETE { ?e a rdfs:Resource } WHERE { "
                                     "VALUES ?e { %enclosureUris } ?e a mfo:Enclosure } "),
                      {{QStringLiteral("%enclosureUris"), slice}});
    }
    if (records.isEmpty()) {
        FEED_LOG(debug, "Tracker") << "No enclosures found";
        return;
    }
    const QSparqlQuery remove(batch, QSparqlQuery::DeleteStatement);
    FEED_LOG(debug, "Tracker") << remove.preparedQueryText();
    if (!execute(remove, HERE, "Query Execution failed", "Delete Query Failed", FailureDetail::StoreError))
        return;
    emit enclosuresToBeDeleted(records);
}

void FeedTrackerSparql::deleteEnclosure(const QString& enclosureUri) const
{
    const QString node = SparqlTerms::urlTerm(nodeUrl(enclosureUri));
    if (node.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Invalid enclosure uri:" << enclosureUri;
        return;
    }
    const QSparqlQuery remove(enclosureDeleteText(node), QSparqlQuery::DeleteStatement);
    execute(remove, HERE, "Query Execution failed", "Enclosure delete failed");
}

// Enclosure records

bool FeedTrackerSparql::addEnclosures(const QList<FeedEnclosure>& enclosures, const QString& parentUri) const
{
    const QString parent = SparqlTerms::urlTerm(nodeUrl(parentUri));
    if (parent.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Invalid parent uri for enclosures" << parentUri;
        return false;
    }
    const QList<RemoteEnclosure> usable = usableEnclosures(enclosures, parentUri);
    bool found = false;
    QHash<QString, QString> nodes = storedEnclosureNodes(remoteTerms(usable), &found);
    // Without the look-up nothing is written, and that is no success.
    if (!found)
        return false;
    QHash<QString, FeedEnclosure> made;
    const QSparqlQuery update(enclosureTexts(usable, parent, &nodes, &made), QSparqlQuery::InsertStatement);
    return bool(execute(update, HERE, "Query Execution failed", "Query Execution failed"));
}

QString FeedTrackerSparql::enclosureTexts(const QList<RemoteEnclosure>& enclosures, const QString& parent,
                                          QHash<QString, QString>* nodes, QHash<QString, FeedEnclosure>* made) const
{
    QString texts;
    for (const RemoteEnclosure& item : enclosures) {
        const QString known = nodes->value(item.second);
        // A node made earlier in this batch is written again whole, with the same values: the
        // text that made it may be dropped when the batch is stored message by message.
        if (!known.isEmpty() && made->contains(item.second)) {
            texts += newEnclosureText(made->value(item.second), known, parent);
            continue;
        }
        if (!known.isEmpty()) {
            texts += fill(QStringLiteral("INSERT { %enclosureUri a mfo:Enclosure; nie:isLogicalPartOf %messageUri } "),
                          {{QStringLiteral("%enclosureUri"), known}, {QStringLiteral("%messageUri"), parent}});
            continue;
        }
        // A remote link made new here: a later enclosure with it joins this node.
        const QString uri = SparqlTerms::urlTerm(_connection->createUrn());
        nodes->insert(item.second, uri);
        made->insert(item.second, item.first);
        texts += newEnclosureText(item.first, uri, parent);
    }
    return texts;
}

QHash<QString, QString> FeedTrackerSparql::storedEnclosureNodes(const QStringList& remotes, bool* found) const
{
    QHash<QString, QString> nodes = enclosureUrisOfTerms(remotes, found);
    for (QString& node : nodes)
        node = SparqlTerms::urlTerm(nodeUrl(node));
    return nodes;
}

QHash<QString, QString> FeedTrackerSparql::enclosureUrisOfTerms(const QStringList& remotes, bool* found) const
{
    QHash<QString, QString> uris;
    *found = true;
    // Look-ups go in slices of a list: a store round trip per enclosure costs more than the write.
    for (const QString& slice : valueSlices(remotes)) {
        // Only enclosures have a remote link; naming the class as well makes the store read
        // every enclosure first.
        const QSparqlQuery lookup(fill(QStringLiteral("SELECT ?enclosureUri ?remLink WHERE { VALUES ?remLink { "
                                                      "%remLinks } %held?enclosureUri mfo:remoteLink ?remLink } "),
                                       {{QStringLiteral("%remLinks"), slice},
                                        {QStringLiteral("%held"), HeldTerms.arg(QStringLiteral("?remLink"))}}));
        const Result result = execute(lookup, HERE, "Query Execution failed", "Query Execution Failed");
        if (!result) {
            *found = false;
            return uris;
        }
        while (result->next()) {
            const QString remote = SparqlTerms::iriTextTerm(result->value(1).toString());
            if (!uris.contains(remote))
                uris.insert(remote, result->value(0).toString());
        }
    }
    return uris;
}

QList<FeedEnclosure> FeedTrackerSparql::enclosuresForMessage(const QString& messageUri) const
{
    QSparqlQuery query(QStringLiteral(
        "SELECT ?_enclosure ?_remLink ?_locLink ?_id ?_size ?_default ?_optional ?_image ?_mimeType WHERE { "
        "?_enclosure a mfo:Enclosure;  nie:isLogicalPartOf ?:messageUri; mfo:remoteLink ?_remLink; mfo:localLink "
        "?_locLink; nie:identifier ?_id; nie:contentSize ?_size; mfo:groupDefault ?_default; mfo:optional ?_optional. "
        "OPTIONAL { ?_enclosure mfo:image ?_image. }OPTIONAL { ?_enclosure nie:mimeType ?_mimeType. } }"));
    query.bindValue(QStringLiteral("messageUri"), nodeUrl(messageUri));
    const Result result = execute(query, HERE, "Query Execution failed", "Query Execution Failed");
    QList<FeedEnclosure> enclosures;
    while (result && result->next())
        enclosures.append(extractEnclosure(result->current()));
    return enclosures;
}

FeedEnclosure FeedTrackerSparql::enclosureForUri(const QString& uri) const
{
    if (uri.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Empty uri: returning empty enclosure";
        return FeedEnclosure();
    }
    QSparqlQuery query(QStringLiteral(
        "select ?u ?rl ?ll ?i ?s ?d ?o ?icon ?m where {?u a mfo:Enclosure. OPTIONAL {?u mfo:remoteLink ?rl.} . "
        "OPTIONAL {?u mfo:localLink ?ll.} . OPTIONAL {?u nie:identifier ?i.} . OPTIONAL {?u nie:contentSize ?s.}. "
        "OPTIONAL {?u mfo:groupDefault ?d.}. OPTIONAL {?u mfo:optional ?o.}. OPTIONAL {?u mfo:image ?icon.}. "
        "OPTIONAL {?u nie:mimeType ?m.} FILTER (?u = ?:enclosure_uri)}"));
    query.bindValue(QStringLiteral("enclosure_uri"), nodeUrl(uri));
    const Result result =
        execute(query, HERE, "Query Execution Failed", "Executing query failed: returning empty enclosure");
    if (!result)
        return FeedEnclosure();
    if (!result->next()) {
        FEED_LOG(critical, "Tracker") << "Result not retrieved: returning empty enclosure";
        return FeedEnclosure();
    }
    const FeedEnclosure enclosure = extractEnclosure(result->current());
    FEED_LOG(critical, "Tracker") << enclosure.uri();
    return enclosure;
}

QList<FeedEnclosure> FeedTrackerSparql::enclosuresForUris(const QStringList& uris) const
{
    const QHash<QString, QList<QSparqlResultRow>> found = rowsOfNodes(
        QStringLiteral("SELECT ?u ?rl ?ll ?i ?s ?d ?o ?icon ?m WHERE { VALUES ?u { %nodes } ?u a mfo:Enclosure. "
                       "OPTIONAL {?u mfo:remoteLink ?rl.} . OPTIONAL {?u mfo:localLink ?ll.} . OPTIONAL {?u "
                       "nie:identifier ?i.} . OPTIONAL {?u nie:contentSize ?s.}. OPTIONAL {?u mfo:groupDefault ?d.}. "
                       "OPTIONAL {?u mfo:optional ?o.}. OPTIONAL {?u mfo:image ?icon.}. OPTIONAL {?u nie:mimeType "
                       "?m.} }"),
        uris, HERE);
    QList<FeedEnclosure> enclosures;
    int stored = 0;
    for (const QString& uri : uris) {
        const auto row = found.constFind(SparqlTerms::urlTerm(nodeUrl(uri)));
        if (row == found.constEnd()) {
            enclosures.append(FeedEnclosure());
            continue;
        }
        enclosures.append(extractEnclosure(row->first()));
        ++stored;
    }
    FEED_LOG(debug, "Tracker") << "Enclosures stored:" << stored << "of" << uris.size();
    return enclosures;
}

QHash<QString, QString> FeedTrackerSparql::enclosureUrisForRemoteUrls(const QStringList& remoteUrls) const
{
    // Texts that differ only in escaping name one remote link.
    QMultiHash<QString, QString> remotesOfTerm;
    for (const QString& remote : remoteUrls) {
        if (!remote.isEmpty())
            remotesOfTerm.insert(SparqlTerms::linkTerm(remote), remote);
    }
    bool found = false;
    const QHash<QString, QString> urisOfTerms = enclosureUrisOfTerms(remotesOfTerm.uniqueKeys(), &found);
    QHash<QString, QString> uris;
    if (!found)
        return uris;
    for (auto uri = urisOfTerms.cbegin(); uri != urisOfTerms.cend(); ++uri) {
        for (const QString& remote : remotesOfTerm.values(uri.key()))
            uris.insert(remote, uri.value());
    }
    return uris;
}

bool FeedTrackerSparql::updateEnclosure(const FeedEnclosure& enclosure) const
{
    if (enclosure.remoteUrl().isEmpty()) {
        FEED_LOG(critical, "Tracker") << "mfo:remoteLink is empty";
        return false;
    }
    const QSparqlQuery lookup(fill(QStringLiteral("SELECT ?u WHERE {?u a mfo:Enclosure; mfo:remoteLink %remLink }"),
                                   {{QStringLiteral("%remLink"), SparqlTerms::linkTerm(enclosure.remoteUrl())}}));
    FEED_LOG(critical, "Tracker") << lookup.preparedQueryText();
    QString uri;
    {
        const Result result = execute(lookup, HERE, "Query Execution failed", "Invalid mfo:remoteLink");
        if (!result)
            return false;
        if (result->next())
            uri = result->value(0).toString();
    }
    // An enclosure that is not stored gets nothing written.
    if (uri.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "No enclosure with this remote link:" << enclosure.remoteUrl();
        return false;
    }
    QSparqlQuery update(
        QStringLiteral("DELETE {?:enclosureUri nie:mimeType ?mime } WHERE {?:enclosureUri nie:mimeType ?mime } INSERT "
                       "{?:enclosureUri nie:mimeType ?:mime } DELETE {?:enclosureUri nie:contentSize ?size} WHERE "
                       "{?:enclosureUri nie:contentSize ?size} INSERT {?:enclosureUri nie:contentSize ?:size} DELETE "
                       "{?:enclosureUri mfo:image ?icon} WHERE {?:enclosureUri mfo:image ?icon} INSERT "
                       "{?:enclosureUri mfo:image ?:icon} "),
        QSparqlQuery::InsertStatement);
    update.bindValue(QStringLiteral("enclosureUri"), nodeUrl(uri));
    update.bindValue(QStringLiteral("mime"), enclosure.mimeType());
    update.bindValue(QStringLiteral("size"), enclosure.length());
    update.bindValue(QStringLiteral("icon"), enclosure.typeIcon());
    FEED_LOG(critical, "Tracker") << update.preparedQueryText();
    return bool(execute(update, HERE, "Query Execution failed", "mfo:Enclosure updation failed"));
}

// Row mappings

FeedChannel extractChannel(const QSparqlResultRow& row)
{
    FeedChannel channel;
    if (row.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Empty row: returning empty channel";
        return channel;
    }
    channel.setUri(row.value(0).toString());
    channel.setTitle(row.value(1).toString());
    channel.setLink(row.value(2).toString());
    channel.setType(row.value(3).toString());
    channel.setLastModifiedTime(row.value(4).toString());
    channel.setSubscribedTime(localTime(row.value(5)));
    channel.setUpdatedTime(localTime(row.value(6)));
    return channel;
}

FeedMessage extractMessage(const QSparqlResultRow& row)
{
    FeedMessage message;
    if (row.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Empty row: returning empty message";
        return message;
    }
    message.setTitle(row.value(1).toString());
    message.setDescription(row.value(2).toString());
    message.setLink(row.value(3).toString());
    message.setPublishedDate(localTime(row.value(4)));
    message.setDownloadedTime(localTime(row.value(5)));
    message.setFavorite(row.value(6).toBool());
    message.setSummary(row.value(7).toString());
    return message;
}

FeedEnclosure extractEnclosure(const QSparqlResultRow& row)
{
    FeedEnclosure enclosure;
    if (row.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Empty row: returning empty enclosure";
        return enclosure;
    }
    enclosure.setUri(row.value(0).toString());
    enclosure.setRemoteUrl(row.value(1).toString());
    enclosure.setLocalUrl(SparqlTerms::pathOrLinkText(row.value(2).toString()));
    enclosure.setGroupId(unsignedNumber(row.value(3)));
    enclosure.setLength(unsignedNumber(row.value(4)));
    enclosure.setDefault(row.value(5).toString() == QLatin1String("true"));
    enclosure.setType(row.value(6).toString() == QLatin1String("true") ? FeedEnclosure::Optional
                                                                       : FeedEnclosure::Essential);
    enclosure.setTypeIcon(row.value(7).toString());
    enclosure.setMimeType(row.value(8).toString());
    return enclosure;
}
