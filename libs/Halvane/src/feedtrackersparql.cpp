#include "feedtrackersparql.h"

#include "feedlog.h"

#include <QHash>
#include <qsparqlbinding.h>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>
#include <qsparqlresultrow.h>

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

// A value as it stands in a query text: an encoded IRI, an escaped literal or a bare value.
QString term(const QVariant& value)
{
    return QSparqlBinding(QString(), value).toString();
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

// Message and enclosure links are kept exactly as given: every character outside a small safe
// set is percent-encoded, '%' included, so the IRI is valid and reads back to the same text.
QByteArray encodedLink(const QString& text)
{
    return text.toUtf8().toPercentEncoding(":/?#@!$&'()*+,;=");
}

QUrl linkUrl(const QString& text)
{
    return QUrl::fromEncoded(encodedLink(text), QUrl::StrictMode);
}

QString linkText(const QVariant& value)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(value.toString().toUtf8()));
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
                 {QStringLiteral("%remLink"), term(linkUrl(enclosure.remoteUrl()))},
                 {QStringLiteral("%locLink"), term(linkUrl(enclosure.localUrl()))},
                 {QStringLiteral("%optional"), term(enclosure.type() != FeedEnclosure::Essential)},
                 {QStringLiteral("%size"), term(enclosure.length())},
                 {QStringLiteral("%type"), term(enclosure.mimeType())},
                 {QStringLiteral("%image"), term(enclosure.typeIcon())},
                 {QStringLiteral("%id"), term(enclosure.groupId())},
                 {QStringLiteral("%default"), term(enclosure.isDefault())},
                 {QStringLiteral("%messageUri"), parent}});
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

// Channel queries

QStringList FeedTrackerSparql::allChannelUrls() const
{
    const QSparqlQuery query(QStringLiteral("select ?u { ?u a mfo:FeedChannel . }"));
    const Result result = execute(query, HERE, "Query Execution Failed", "Executing query failed: returning empty list");
    QStringList uris;
    if (!result)
        return uris;
    while (result->next())
        uris.append(result->binding(0).value().toString());
    FEED_LOG(debug, "Tracker") << "Channel Uris: " << uris;
    return uris;
}

QList<FeedChannel> FeedTrackerSparql::allChannels() const
{
    const QSparqlQuery query(QStringLiteral(
        "select ?u ?t ?l ?n ?c ?v ?b where {?u a mfo:FeedChannel; . OPTIONAL{?u nie:title ?t.}. OPTIONAL { ?u "
        "nie:links ?l . }. OPTIONAL{?u nie:characterSet ?n. }. OPTIONAL {?u nie:comment ?c . }. OPTIONAL {?l "
        "nie:created ?v . }. OPTIONAL {?u nie:contentLastModified ?b . }}"));
    const Result result = execute(query, HERE, "Query Execution Failed", "Executing query failed: returning empty list");
    QList<FeedChannel> channels;
    while (result && result->next())
        channels.append(extractChannel(result->current()));
    return channels;
}

FeedChannel FeedTrackerSparql::channelForUri(const QString& uri) const
{
    if (uri.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Empty uri: returning empty channel";
        return FeedChannel();
    }
    QSparqlQuery query(QStringLiteral(
        "select ?u ?t ?l ?n ?c ?v ?b where {?u a mfo:FeedChannel. OPTIONAL{?u nie:title ?t.}. OPTIONAL { ?u nie:links "
        "?l . }. OPTIONAL{?u nie:characterSet ?n . }. OPTIONAL {?u nie:comment ?c . }. OPTIONAL {?l nie:created ?v . "
        "}. OPTIONAL {?u nie:contentLastModified ?b . } FILTER ((?u = ?:channel_uri)) }"));
    query.bindValue(QStringLiteral("channel_uri"), nodeUrl(uri));
    FEED_LOG(debug, "Tracker") << "Prepared Query: " << query.preparedQueryText();
    const Result result = execute(query, HERE, "Query Execution Failed", "Result not retrieved: returning empty channel");
    if (!result)
        return FeedChannel();
    if (!result->next()) {
        FEED_LOG(critical, "Tracker") << "Result not retrieved: returning empty channel";
        return FeedChannel();
    }
    const FeedChannel channel = extractChannel(result->current());
    FEED_LOG(debug, "Tracker") << "channel = " << channel;
    return channel;
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

// Enclosure records

bool FeedTrackerSparql::addEnclosures(const QList<FeedEnclosure>& enclosures, const QString& parentUri) const
{
    const QString parent = term(nodeUrl(parentUri));
    if (parent.isEmpty()) {
        FEED_LOG(critical, "Tracker") << "Invalid parent uri for enclosures" << parentUri;
        return false;
    }
    QList<QPair<FeedEnclosure, QString>> usable;
    QStringList remotes;
    for (const FeedEnclosure& enclosure : enclosures) {
        if (enclosure.remoteUrl().isEmpty()) {
            FEED_LOG(critical, "Tracker") << "remoteLink empty for message " << parentUri;
            continue;
        }
        const QString remote = term(linkUrl(enclosure.remoteUrl()));
        if (remote.isEmpty() || term(linkUrl(enclosure.localUrl())).isEmpty()) {
            FEED_LOG(critical, "Tracker") << "Enclosure links not usable, skipped:" << enclosure;
            continue;
        }
        usable.append({enclosure, remote});
        remotes.append(remote);
    }
    bool found = false;
    // Nodes by remote link: those stored before, then those made new in this call, so that a
    // second enclosure with a new remote link joins the first one's node.
    QHash<QString, QString> nodes = storedEnclosureNodes(remotes, &found);
    QString batch;
    for (const auto& item : qAsConst(usable)) {
        if (!found)
            break;
        const QString known = nodes.value(item.second);
        if (!known.isEmpty()) {
            batch += fill(QStringLiteral("INSERT { %enclosureUri a mfo:Enclosure; nie:isLogicalPartOf %messageUri } "),
                          {{QStringLiteral("%enclosureUri"), known}, {QStringLiteral("%messageUri"), parent}});
            continue;
        }
        const QString uri = term(_connection->createUrn());
        nodes.insert(item.second, uri);
        batch += newEnclosureText(item.first, uri, parent);
    }
    const QSparqlQuery update(batch, QSparqlQuery::InsertStatement);
    return bool(execute(update, HERE, "Query Execution failed", "Query Execution failed"));
}

QHash<QString, QString> FeedTrackerSparql::storedEnclosureNodes(const QStringList& remotes, bool* found) const
{
    QHash<QString, QString> nodes;
    *found = true;
    if (remotes.isEmpty())
        return nodes;
    // One look-up for the whole list: a store round trip per enclosure costs more than the write.
    const QSparqlQuery lookup(fill(QStringLiteral("SELECT ?enclosureUri ?remLink WHERE { ?enclosureUri a mfo:Enclosure; "
                                                  "mfo:remoteLink ?remLink . VALUES ?remLink { %remLinks } } "),
                                   {{QStringLiteral("%remLinks"), remotes.join(QLatin1Char(' '))}}));
    const Result result = execute(lookup, HERE, "Query Execution failed", "Query Execution Failed");
    *found = bool(result);
    while (result && result->next()) {
        const QString remote = QLatin1Char('<') + result->value(1).toString() + QLatin1Char('>');
        if (!nodes.contains(remote))
            nodes.insert(remote, term(nodeUrl(result->value(0).toString())));
    }
    return nodes;
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

bool FeedTrackerSparql::updateEnclosure(const FeedEnclosure& enclosure) const
{
    if (enclosure.remoteUrl().isEmpty()) {
        FEED_LOG(critical, "Tracker") << "mfo:remoteLink is empty";
        return false;
    }
    QSparqlQuery lookup(QStringLiteral("SELECT ?u WHERE {?u a mfo:Enclosure; mfo:remoteLink ?:remLink }"));
    lookup.bindValue(QStringLiteral("remLink"), linkUrl(enclosure.remoteUrl()));
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
    message.setLink(linkText(row.value(3)));
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
    enclosure.setRemoteUrl(linkText(row.value(1)));
    enclosure.setLocalUrl(linkText(row.value(2)));
    enclosure.setGroupId(unsignedNumber(row.value(3)));
    enclosure.setLength(unsignedNumber(row.value(4)));
    enclosure.setDefault(row.value(5).toString() == QLatin1String("true"));
    enclosure.setType(row.value(6).toString() == QLatin1String("true") ? FeedEnclosure::Optional
                                                                       : FeedEnclosure::Essential);
    enclosure.setTypeIcon(row.value(7).toString());
    enclosure.setMimeType(row.value(8).toString());
    return enclosure;
}
