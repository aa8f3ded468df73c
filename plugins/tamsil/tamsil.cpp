#include "tamsil.h"

#include "feedbody.h"
#include "feeddownloadreply.h"
#include "feedqueryfile.h"
#include "feedxmlconverter.h"
#include "feedxmlreceiver.h"

#include <virelonpaths.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QUrl>
#include <QXmlQuery>

#include <limits>

namespace {

const QString FeedAccept = QStringLiteral("application/rss+xml,application/atom+xml,application/xml,text/xml,*/*");
const QString EnclosureAccept = QStringLiteral("*/*");
// Far deeper than any feed, far shallower than what exhausts the stack.
constexpr int MaximumFeedDepth = 1024;
// Feed error code of a download whose file refused it: no room left on the disk, among others.
constexpr int NoRoomCode = 407;

// The positive number an environment variable holds, or the default; one beyond the maximum
// counts as none.
qint64 setting(const char* name, qint64 fallback, qint64 maximum = std::numeric_limits<qint64>::max())
{
    bool ok = false;
    const qint64 value = qEnvironmentVariable(name).toLongLong(&ok);
    return ok && value > 0 && value <= maximum ? value : fallback;
}

int milliseconds(const char* name, int fallback)
{
    return int(setting(name, fallback, std::numeric_limits<int>::max()));
}

} // namespace

Tamsil::Tamsil()
    : FeedPluginInterface(nullptr)
    , _enclosureFile(setting("VIRELON_MIN_FREE_SPACE", DefaultMinimumFreeSpace))
    , _maximumFeedSize(setting("VIRELON_TAMSIL_MAX_FEED_SIZE", DefaultMaximumFeedSize))
    , _feedTimeout(milliseconds("VIRELON_TAMSIL_FEED_TIMEOUT_MS", DefaultFeedTimeout))
    , _maximumImageSize(setting("VIRELON_TAMSIL_MAX_IMAGE_SIZE", DefaultMaximumImageSize))
{
    _downloadManager.setStallTimeout(milliseconds("VIRELON_TAMSIL_STALL_TIMEOUT_MS", DefaultStallTimeout));
    connect(&_downloadManager, SIGNAL(finished(QNetworkReply*)), this,
            SLOT(downloadFinished(QNetworkReply*)));
    connect(&_downloadManager, SIGNAL(progress(qint64,qint64)), this,
            SIGNAL(enclosureDownloadProgress(qint64,qint64)));
    connect(&_downloadManager, SIGNAL(paused()), this, SLOT(handleEnclosureDownloadPaused()));
}

void Tamsil::downloadFeeds(const FeedChannel& channel)
{
    const QUrl url(channel.link());
    _requestChannel = channel;
    _channel = channel;
    if (!url.isValid()) {
        qDebug() << "Invalid URL!! Cant proceed download. URL: " << channel.link();
        emit downloadFeedsFailed(101);
        return;
    }
    qDebug() << "Valid URL!! : " << url.toString();
    if (_feedBuffer.isOpen())
        _feedBuffer.close();
    _feedData.clear();
    _state = FeedDownload;
    _feedBuffer.setBuffer(&_feedData);
    _downloadManager.setAcceptHeader(FeedAccept);
    _downloadManager.setRawHeader("If-Modified-Since", channel.lastModifiedTime().toLatin1());
    _downloadManager.setMaximumSize(_maximumFeedSize);
    _downloadManager.setDeadline(_feedTimeout);
    _downloadManager.start(url, &_feedBuffer);
}

void Tamsil::downloadEnclosure(const FeedEnclosure& enclosure)
{
    qDebug() << "Downloading enclosure : " << enclosure.remoteUrl();
    startEnclosure(enclosure, false);
}

void Tamsil::resumeDownloadEnclosure(const FeedEnclosure& enclosure)
{
    qDebug() << "Resuming enclosure download: " << enclosure.remoteUrl();
    startEnclosure(enclosure, true);
}

void Tamsil::startEnclosure(const FeedEnclosure& enclosure, bool resume)
{
    if (_enclosureFile.isOpen())
        _enclosureFile.close();
    _enclosureFile.setFileName(enclosure.localUrl());
    _state = EnclosureDownload;
    _downloadManager.setAcceptHeader(EnclosureAccept);
    // The daemon runs one task at a time: an image of a refresh that never ended would hold up
    // all its work. Media and what a user asks for are long by nature; the stall rule is theirs.
    if (enclosure.type() == FeedEnclosure::Essential) {
        _downloadManager.setMaximumSize(_maximumImageSize);
        _downloadManager.setDeadline(_feedTimeout);
    }
    const QUrl url(enclosure.remoteUrl());
    if (resume)
        _downloadManager.resume(url, &_enclosureFile);
    else
        _downloadManager.start(url, &_enclosureFile);
}

void Tamsil::cancelDownload()
{
    qDebug() << "Going to cancel download for channel: " << _channel.link();
    if (_state == Idle) {
        qDebug() << "Plugin is idle. Cannot cancel !";
        return;
    }
    _downloadManager.stop();
}

// A feed cannot be resumed, so pausing one stops it; the daemon then gets its one result.
void Tamsil::pauseDownloadEnclosure()
{
    qDebug() << "Going to pause download for channel: " << _channel.link();
    if (_state == Idle) {
        qDebug() << "Plugin is idle. Cannot cancel !";
        return;
    }
    if (_state == FeedDownload)
        _downloadManager.stop();
    else
        _downloadManager.pause();
}

FeedChannel Tamsil::channel()
{
    qDebug() << "Returning FeedChannel";
    return _channel;
}

void Tamsil::downloadFinished(QNetworkReply* reply)
{
    if (_state == FeedDownload)
        handleFeedReply(reply);
    else if (_state == EnclosureDownload)
        handleEnclosureReply(reply);
    reply->deleteLater();
}

void Tamsil::handleEnclosureDownloadPaused()
{
    _state = Idle;
    emit downloadEnclosureFailed(203);
}

void Tamsil::handleFeedReply(QNetworkReply* reply)
{
    _state = Idle;
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "Download Failed for feed url: " << reply->url().toString() << "Error: "
                 << reply->errorString();
        emit downloadFeedsFailed(feedErrorCode(reply->error()));
        return;
    }
    if (checkHttpStatus(reply) == 304) {
        qDebug() << "Skipping further processing!!  Got : " << 304;
        emit downloadFeedsFailed(304);
        return;
    }
    if (_feedData.isEmpty()) {
        qDebug() << "No feed content available for feed url: " << reply->url().toString();
        emit downloadFeedsFailed(301);
        return;
    }
    _feedUrl = reply->url();
    const QString contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    const QString queryFile = queryFileName(contentType);
    if (queryFile.isEmpty()) {
        qDebug() << "No Query file set. Discarding the feed !!";
        qDebug() << "Received non-feed content : " << contentType;
        emit downloadFeedsFailed(101);
        return;
    }
    if (!convertFeed(queryFile)) {
        qDebug() << "Failed to parse the feed url:" << reply->url().toString();
        emit downloadFeedsFailed(303);
        return;
    }
    qDebug() << "Done with downloading Feeds";
    updateLastModifiedTime(reply);
    emit downloadFeedsFinished();
}

// Only a whole body (200) or the rest of one (206) completes a file; anything else would
// leave a wrong file behind as if it were the enclosure.
void Tamsil::handleEnclosureReply(QNetworkReply* reply)
{
    _state = Idle;
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "Image download Failed!! continuing with other image downloads. Error: "
                 << reply->errorString();
        const int code = feedErrorCode(reply->error());
        discardEnclosureFile(reply, code);
        emit downloadEnclosureFailed(code);
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200 && status != 206) {
        qDebug() << "Enclosure download got HTTP status" << status << "for" << reply->url().toString();
        emit downloadEnclosureFailed(feedErrorCode(QNetworkReply::ProtocolFailure));
        return;
    }
    qDebug() << "Enclosure Download Complete";
    QVariantMap result;
    result.insert(QStringLiteral("mimeType"), reply->header(QNetworkRequest::ContentTypeHeader).toString());
    result.insert(QStringLiteral("length"), reply->header(QNetworkRequest::ContentLengthHeader).toUInt());
    emit downloadEnclosureFinished(result);
}

// A download past its limits, or out of room, is no start to resume from, and its part takes up
// the room; a stalled one keeps its part.
void Tamsil::discardEnclosureFile(QNetworkReply* reply, int errorCode)
{
    const auto* result = qobject_cast<const FeedDownloadReply*>(reply);
    if (errorCode != NoRoomCode && !(result && result->limitExceeded()))
        return;
    qDebug() << "Removing the partial enclosure file: " << _enclosureFile.fileName();
    _enclosureFile.remove();
}

int Tamsil::checkHttpStatus(QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    qDebug() << "Http Status is : " << status;
    if (status != 304)
        return 0;
    qDebug() << "Content NOT-MODFIED since last update for channel " << _channel.link();
    return 304;
}

int Tamsil::feedErrorCode(QNetworkReply::NetworkError error)
{
    qDebug() << "Feed download FAILED!! errorCode : " << int(error);
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::SslHandshakeFailedError:
        qDebug() << "Error: Server down";
        return 402;
    case QNetworkReply::HostNotFoundError:
        qDebug() << "Error: Host Not Found";
        return 102;
    case QNetworkReply::TimeoutError:
        qDebug() << "Error: Server timeout";
        return 401;
    case QNetworkReply::OperationCanceledError:
        qDebug() << "Operation canceled";
        return 201;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
        qDebug() << "Error: Proxy down";
        return 405;
    case QNetworkReply::ProxyNotFoundError:
        qDebug() << "Error: Proxy Not Found";
        return 403;
    case QNetworkReply::ProxyTimeoutError:
        qDebug() << "Error: Proxy timeout";
        return 404;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        qDebug() << "Error: Proxy Authentication failed !!";
        return 406;
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
        qDebug() << "Error: Access denied !!";
        return 407;
    case QNetworkReply::ContentNotFoundError:
        qDebug() << "Error: Feed Not Found";
        return 103;
    case QNetworkReply::AuthenticationRequiredError:
        qDebug() << "Error: Server authenticaiton failed !!";
        return 408;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        qDebug() << "Error: Invalid protocol or invalid protocol operation";
        return 104;
    default:
        qDebug() << "Error: Unknown network error !! code : " << int(error);
        return 499;
    }
}

void Tamsil::updateLastModifiedTime(QNetworkReply* reply)
{
    _channel.setLastModifiedTime(QString::fromLatin1(reply->rawHeader("Last-Modified")));
}

QString Tamsil::queryFileName(const QString& contentType)
{
    qDebug() << "feed mime type from http hdr: " << contentType;
    return FeedQueryFile::forFeed(contentType, FeedBody(_feedData).rootName());
}

bool Tamsil::convertFeed(const QString& queryFile)
{
    QXmlQuery* query = preparedQuery(queryFile);
    if (!query)
        return false;
    qDebug() << "Converting feed to common xml";
    FeedXmlConverter converter;
    converter.setDocumentUrl(_feedUrl.toString());
    FeedXmlReceiver receiver(&converter, query->namePool());
    const bool evaluated = query->evaluateTo(&receiver);
    _queryInput.close();
    if (!evaluated) {
        qDebug() << " Failed to evaluate query for feed url: " << _channel.link();
        return false;
    }
    if (!receiver.hasOutput()) {
        qDebug() << "No feed data available for feed url: " << _channel.link();
        return false;
    }
    return convertToChannel(converter);
}

// The compiled query of the file with the feed bound as its input; null when the feed or the
// file cannot be used.
QXmlQuery* Tamsil::preparedQuery(const QString& queryFile)
{
    // Feeds have no use for entity declarations; refusing them keeps expansion bombs and
    // external entities out of the query engine.
    const FeedBody body(_feedData);
    if (body.declaresEntities()) {
        qDebug() << "Feed declares entities, refusing it: " << _channel.link();
        return nullptr;
    }
    // The query engine copies and writes out trees with a call per level.
    const int depth = body.depth();
    if (depth > MaximumFeedDepth) {
        qDebug() << "Feed nests" << depth << "elements deep, refusing it: " << _channel.link();
        return nullptr;
    }
    QDir directory(QCoreApplication::applicationDirPath());
    if (!directory.cd(VirelonPaths::tamsilDataDir())) {
        qDebug() << "Unable to find the directory with XQuery files!!";
        return nullptr;
    }
    if (!directory.exists(queryFile)) {
        qDebug() << "Unable to find the XQuery file" << queryFile;
        return nullptr;
    }
    _queryInput.close();
    _queryInput.setData(body.forQuery());
    _queryInput.open(QIODevice::ReadOnly);
    QXmlQuery* query = compiledQuery(directory.absoluteFilePath(queryFile));
    if (!query) {
        qDebug() << " Failed to evaluate query for feed url: " << _channel.link();
        _queryInput.close();
    }
    return query;
}

// Compiling takes longer than converting a small feed, so a compiled query is kept; binding
// the input device again does not recompile it. A query that does not compile is not kept.
QXmlQuery* Tamsil::compiledQuery(const QString& path)
{
    const auto found = _queries.find(path);
    if (found != _queries.end()) {
        found->second->bindVariable(QStringLiteral("inputDocument"), &_queryInput);
        return found->second.get();
    }
    auto query = std::make_unique<QXmlQuery>();
    query->bindVariable(QStringLiteral("inputDocument"), &_queryInput);
    query->setQuery(QUrl::fromLocalFile(path), QUrl());
    if (!query->isValid())
        return nullptr;
    return _queries.emplace(path, std::move(query)).first->second.get();
}

bool Tamsil::convertToChannel(const FeedXmlConverter& converter)
{
    if (!converter.isValid()) {
        qDebug() << "Converter cannot read the common form:" << converter.errorString();
        _channel = _requestChannel;
        return false;
    }
    _channel = converter.channel();
    _channel.setUri(_requestChannel.uri());
    _channel.setLink(_requestChannel.link());
    qDebug() << "Title::Original=" << _requestChannel.title() << "New=" << _channel.title();
    if (!_requestChannel.title().isEmpty()) {
        qDebug() << "Title already exists, so not overwriting";
        _channel.setTitle(_requestChannel.title());
    }
    _channel.setType(_requestChannel.type());
    return true;
}
