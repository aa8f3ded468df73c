#include "feedtuimanager.h"

#include "feedenclosure.h"

#include <QVariant>

FeedTUIManager* FeedTUIManager::_single = nullptr;

FeedTUIManager* FeedTUIManager::instance()
{
    if (!_single)
        _single = new FeedTUIManager;
    return _single;
}

void FeedTUIManager::releaseInstance()
{
    delete _single;
    _single = nullptr;
}

void FeedTUIManager::queueRefresh(const QString& channelUri)
{
    if (channelUri.isEmpty())
        return;
    Transfer transfer;
    transfer.channelUri = channelUri;
    transfer.name = channelUri;
    _transfers.insert(channelUri, transfer);
}

void FeedTUIManager::endRefresh(const QString& channelUri, int errorCode)
{
    const auto found = _transfers.find(channelUri);
    if (found == _transfers.end() || found->download)
        return;
    found->state = errorCode == 0 ? State::Done : State::Failed;
    found->errorCode = errorCode;
}

// A download asked for again while it runs stays active.
void FeedTUIManager::queueDownload(const QString& channelUri, const FeedEnclosure& enclosure)
{
    Transfer* transfer = download(channelUri, enclosure);
    if (transfer && transfer->state != State::Active)
        transfer->state = State::Queued;
}

void FeedTUIManager::startDownload(const QString& channelUri, const FeedEnclosure& enclosure)
{
    Transfer* transfer = download(channelUri, enclosure);
    if (transfer)
        transfer->state = State::Active;
}

void FeedTUIManager::updateDownload(const QString& enclosureUri, qlonglong total, qlonglong received,
                                    qlonglong remaining)
{
    const auto found = _transfers.find(enclosureUri);
    if (found == _transfers.end() || found->state != State::Active)
        return;
    found->total = total;
    found->received = received;
    found->remaining = remaining;
}

void FeedTUIManager::endDownload(const FeedEnclosure& enclosure, int errorCode)
{
    const auto found = _transfers.find(enclosure.uri());
    if (found == _transfers.end() || !found->download)
        return;
    found->state = errorCode == 0 ? State::Done : State::Failed;
    found->errorCode = errorCode;
    found->remaining = 0;
    if (!enclosure.localUrl().isEmpty())
        found->localFile = enclosure.localUrl();
}

void FeedTUIManager::removeChannels(const QStringList& channelUris)
{
    for (auto it = _transfers.begin(); it != _transfers.end();) {
        if (channelUris.contains(it->channelUri))
            it = _transfers.erase(it);
        else
            ++it;
    }
}

int FeedTUIManager::activeDownloads() const
{
    int active = 0;
    for (const Transfer& transfer : _transfers)
        active += transfer.state == State::Active ? 1 : 0;
    return active;
}

QVariantMap FeedTUIManager::details(const QString& transferId, const QStringList& fields) const
{
    QVariantMap details;
    const auto found = _transfers.constFind(transferId);
    if (found == _transfers.constEnd())
        return details;
    for (const QString& code : fields) {
        const QVariant value = field(*found, code);
        if (value.isValid())
            details.insert(code, value);
    }
    return details;
}

// The entry of a download, made on first sight; one queued again or restarted keeps what it has
// received so far.
FeedTUIManager::Transfer* FeedTUIManager::download(const QString& channelUri, const FeedEnclosure& enclosure)
{
    if (enclosure.uri().isEmpty())
        return nullptr;
    Transfer& transfer = _transfers[enclosure.uri()];
    transfer.channelUri = channelUri;
    transfer.name = enclosure.remoteUrl();
    transfer.download = true;
    transfer.errorCode = 0;
    if (transfer.total == 0)
        transfer.total = enclosure.length();
    if (!enclosure.localUrl().isEmpty())
        transfer.localFile = enclosure.localUrl();
    return &transfer;
}

QVariant FeedTUIManager::field(const Transfer& transfer, const QString& code)
{
    static const char* const states[] = {"queued", "active", "done", "failed"};
    bool numeric = false;
    const int number = code.toInt(&numeric);
    if (!numeric || QString::number(number) != code)
        return QVariant();
    switch (number) {
    case Name:
        return transfer.name;
    case Status:
        return QString::fromLatin1(states[static_cast<int>(transfer.state)]);
    case Kind:
        return transfer.download ? QStringLiteral("download") : QStringLiteral("refresh");
    case TotalBytes:
        return transfer.total;
    case ReceivedBytes:
        return transfer.received;
    case SecondsRemaining:
        return transfer.remaining;
    case ErrorCode:
        return transfer.errorCode;
    case LocalFile:
        return transfer.localFile;
    default:
        return QVariant();
    }
}
