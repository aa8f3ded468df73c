#include "feeddownloadmanager.h"

#include "feeddownloadreply.h"

#include <QIODevice>
#include <QNetworkRequest>
#include <QRegularExpression>

namespace {

int statusOf(const QNetworkReply& reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// The whole size named by "Content-Range: bytes a-b/total", or -1.
qint64 rangeTotal(const QByteArray& contentRange)
{
    static const QRegularExpression form(QStringLiteral("/(\\d+)\\s*$"));
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(contentRange));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// Whether "Content-Range: bytes a-b/total" starts at the offset and runs to the end of the
// resource, so that it completes what the device holds.
bool rangeContinues(const QByteArray& contentRange, qint64 offset)
{
    static const QRegularExpression form(QStringLiteral("^\\s*bytes\\s+(\\d+)-(\\d+)/(\\d+|\\*)\\s*$"));
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(contentRange));
    if (!match.hasMatch() || match.captured(1).toLongLong() != offset)
        return false;
    return match.captured(3) == QLatin1String("*")
           || match.captured(2).toLongLong() + 1 == match.captured(3).toLongLong();
}

} // namespace

FeedDownloadManager::FeedDownloadManager(QObject* parent)
    : QObject(parent)
{
    _stallTimer.setSingleShot(true);
    _stallTimer.setInterval(DefaultStallTimeout);
    connect(&_stallTimer, &QTimer::timeout, this, &FeedDownloadManager::handleStall);
    _deadlineTimer.setSingleShot(true);
    connect(&_deadlineTimer, &QTimer::timeout, this, [this] {
        if (_reply)
            fail(QNetworkReply::TimeoutError, tr("Not done within %1 ms").arg(_deadlineTimer.interval()), true);
    });
}

FeedDownloadManager::~FeedDownloadManager()
{
    discard();
}

void FeedDownloadManager::setAcceptHeader(const QString& accept)
{
    _accept = accept.toLatin1();
}

void FeedDownloadManager::setRawHeader(const QByteArray& name, const QByteArray& value)
{
    _rawHeaders.append({name, value});
}

void FeedDownloadManager::setMaximumSize(qint64 bytes)
{
    _maximumSize = bytes;
}

void FeedDownloadManager::setStallTimeout(int milliseconds)
{
    _stallTimer.setInterval(milliseconds);
}

void FeedDownloadManager::setDeadline(int milliseconds)
{
    _nextDeadline = milliseconds;
}

void FeedDownloadManager::start(const QUrl& url, QIODevice* device)
{
    discard();
    if (device->isOpen())
        device->close();
    request(url, device, 0);
}

void FeedDownloadManager::resume(const QUrl& url, QIODevice* device)
{
    discard();
    if (device->isOpen())
        device->close();
    request(url, device, device->size());
}

void FeedDownloadManager::pause()
{
    if (!_reply)
        return;
    discard();
    emit paused();
}

void FeedDownloadManager::stop()
{
    if (_reply)
        fail(QNetworkReply::OperationCanceledError, tr("Download stopped"));
}

void FeedDownloadManager::request(const QUrl& url, QIODevice* device, qint64 offset)
{
    const QList<QPair<QByteArray, QByteArray>> rawHeaders = _rawHeaders;
    _rawHeaders.clear();
    _limit = _maximumSize;
    _maximumSize = 0;
    const int deadline = _nextDeadline;
    _nextDeadline = 0;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        refuse(url, QNetworkReply::ProtocolUnknownError,
               tr("Only http and https are fetched: %1").arg(url.toString()));
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaximumRedirects);
    if (!_accept.isEmpty())
        request.setRawHeader("Accept", _accept);
    // Set here, Qt leaves the body as it came: inflated in one go, a small compressed body
    // would fill the memory before its size could be checked. The rest of a file cannot be
    // inflated without its start.
    request.setRawHeader("Accept-Encoding", offset > 0 ? "identity" : "gzip, deflate");
    // A stored value with a line break would smuggle its own header lines into the request.
    for (const auto& header : rawHeaders) {
        if (!header.second.isEmpty() && !header.second.contains('\r') && !header.second.contains('\n'))
            request.setRawHeader(header.first, header.second);
    }
    if (offset > 0)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(offset) + '-');
    _device = device;
    _offset = offset;
    _received = 0;
    _receivedInWindow = 0;
    _bodyBegun = false;
    _decoder.start(QByteArray());
    _storeFailure = Failure();
    if (!_network)
        _network = new QNetworkAccessManager(this);
    _reply = _network->get(request);
    _reply->setReadBufferSize(ReadBufferSize);
    connect(_reply, &QNetworkReply::metaDataChanged, this, &FeedDownloadManager::handleMetaData);
    connect(_reply, &QNetworkReply::readyRead, this, &FeedDownloadManager::handleData);
    connect(_reply, &QNetworkReply::finished, this, &FeedDownloadManager::handleFinished);
    _stallTimer.start();
    if (deadline > 0)
        _deadlineTimer.start(deadline);
}

// Fails a request before it reaches the network, after start() or resume() has returned.
void FeedDownloadManager::refuse(const QUrl& url, QNetworkReply::NetworkError error, const QString& text)
{
    auto* result = new FeedDownloadReply(url, this);
    result->setFailure(error, text);
    const quint64 generation = ++_generation;
    QMetaObject::invokeMethod(
        this,
        [this, result, generation] {
            if (generation == _generation)
                emit finished(result);
            else
                result->deleteLater();
        },
        Qt::QueuedConnection);
}

// Only the body of a successful answer is kept; a 200 to a range request starts over.
bool FeedDownloadManager::accepted() const
{
    const int status = statusOf(*_reply);
    return status == 200 || (status == 206 && rangeContinues(_reply->rawHeader("Content-Range"), _offset));
}

void FeedDownloadManager::handleMetaData()
{
    // The answer has begun: the stall time-out counts from here.
    _receivedInWindow = 0;
    _stallTimer.start();
    // Any other part would leave a file with a hole or a missing end, taken for complete.
    if (statusOf(*_reply) == 206 && !accepted()) {
        fail(QNetworkReply::ProtocolFailure,
             tr("Partial answer \"%1\" does not continue at byte %2")
                 .arg(QString::fromLatin1(_reply->rawHeader("Content-Range")))
                 .arg(_offset));
        return;
    }
    if (!accepted())
        return;
    if (statusOf(*_reply) == 200)
        _offset = 0;
    const qint64 announced = _reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (_limit > 0 && _offset + announced > _limit) {
        fail(QNetworkReply::UnknownContentError,
             tr("Body of %1 bytes exceeds the limit of %2 bytes").arg(_offset + announced).arg(_limit), true);
        return;
    }
    beginBody();
}

// Opens the device for the body of a successful answer, once; false when that failed.
bool FeedDownloadManager::beginBody()
{
    if (_bodyBegun)
        return true;
    _bodyBegun = true;
    if (!_decoder.start(_reply->rawHeader("Content-Encoding"))) {
        fail(QNetworkReply::UnknownContentError, _decoder.errorString());
        return false;
    }
    if (_decoder.isActive() && _offset > 0) {
        fail(QNetworkReply::ProtocolFailure, tr("The rest of a file came compressed"));
        return false;
    }
    // Written through: a process killed mid-transfer leaves every byte it reported, to resume from.
    if (!_device->open(QIODevice::WriteOnly | QIODevice::Unbuffered
                       | (_offset > 0 ? QIODevice::Append : QIODevice::Truncate))) {
        fail(QNetworkReply::ContentAccessDenied, _device->errorString());
        return false;
    }
    return true;
}

void FeedDownloadManager::handleData()
{
    const QByteArray data = _reply->readAll();
    _receivedInWindow += data.size();
    if (!accepted() || !beginBody())
        return;
    const bool stored = _decoder.isActive()
                            ? _decoder.decode(data, [this](const QByteArray& piece) { return store(piece); })
                            : store(data);
    if (!stored) {
        if (_storeFailure.error == QNetworkReply::NoError)
            _storeFailure = {QNetworkReply::ProtocolFailure, _decoder.errorString()};
        fail(_storeFailure.error, _storeFailure.text, _storeFailure.limitExceeded);
        return;
    }
    // The announced length is that of the compressed body, which says nothing of the total.
    const qint64 length = _decoder.isActive() ? 0 : _reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    emit progress(_offset + _received, length > 0 ? _offset + length : -1);
}

// Writes a piece of the body; false, with the failure noted, when it is over the limit or
// the device takes it not.
bool FeedDownloadManager::store(const QByteArray& data)
{
    _received += data.size();
    if (_limit > 0 && _offset + _received > _limit) {
        _storeFailure = {QNetworkReply::UnknownContentError, tr("Body exceeds the limit of %1 bytes").arg(_limit), true};
        return false;
    }
    if (_device->write(data) != data.size()) {
        _storeFailure = {QNetworkReply::ContentAccessDenied, _device->errorString()};
        return false;
    }
    return true;
}

void FeedDownloadManager::handleFinished()
{
    if (_reply->bytesAvailable() > 0)
        handleData();
    if (!_reply)
        return;
    // An empty body still makes an (empty) file.
    if (_reply->error() == QNetworkReply::NoError && accepted() && !beginBody())
        return;
    if (_bodyBegun && _reply->error() == QNetworkReply::NoError && _decoder.isActive() && !_decoder.isFinished()) {
        fail(QNetworkReply::ProtocolFailure, tr("The compressed body ends early"));
        return;
    }
    auto* result = new FeedDownloadReply(*_reply, this);
    const qint64 total = rangeTotal(_reply->rawHeader("Content-Range"));
    if (statusOf(*_reply) == 206 && _offset > 0)
        result->setTotalLength(total >= 0 ? total : _offset + _received);
    else if (statusOf(*_reply) == 416 && _offset > 0 && total == _offset)
        result->setAlreadyComplete(total);
    complete(result);
}

// A transfer that goes on at a byte now and then is as good as stalled.
void FeedDownloadManager::handleStall()
{
    if (!_reply)
        return;
    if (_receivedInWindow >= MinimumStallProgress) {
        _receivedInWindow = 0;
        _stallTimer.start();
        return;
    }
    fail(QNetworkReply::TimeoutError,
         tr("Less than %1 bytes in %2 ms").arg(MinimumStallProgress).arg(_stallTimer.interval()));
}

void FeedDownloadManager::fail(QNetworkReply::NetworkError error, const QString& text, bool limitExceeded)
{
    auto* result = new FeedDownloadReply(*_reply, this);
    result->setFailure(error, text, limitExceeded);
    complete(result);
}

void FeedDownloadManager::complete(FeedDownloadReply* result)
{
    discard();
    emit finished(result);
}

// Forgets the running request without a word: no signal of it reaches anyone any more.
void FeedDownloadManager::discard()
{
    ++_generation;
    _stallTimer.stop();
    _deadlineTimer.stop();
    if (_device && _device->isOpen())
        _device->close();
    _device = nullptr;
    if (!_reply)
        return;
    QNetworkReply* reply = _reply;
    _reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}
