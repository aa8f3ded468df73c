#include "feedenclosurecompletion.h"

#include "feedqueuemanager.h"

namespace {

// Refresh state: the last manual enclosure download has ended.
constexpr int ManualDownloadsEnded = 2;

} // namespace

FeedEnclosureCompletion::FeedEnclosureCompletion(FeedQueueManager* queue, QObject* parent)
    : QObject(parent)
    , _queue(queue)
{
}

quint64 FeedEnclosureCompletion::expect(const QString& channelUri, int count)
{
    return _enclosureCount.add(channelUri, count);
}

void FeedEnclosureCompletion::complete(const QString& channelUri)
{
    emit refreshCompleted(channelUri);
}

// The refresh completes before the download that completed it is told.
void FeedEnclosureCompletion::succeeded(const QString& channelUri, const FeedEnclosure& enclosure,
                                        FeedTask::Priority priority, quint64 refresh)
{
    decreaseEnclosureCount(refresh);
    emit enclosureDownloaded(channelUri, enclosure, 0);
    if (priority == FeedTask::ManualEnclosurePriority)
        manualDownloadEnded();
}

void FeedEnclosureCompletion::failed(const QString& channelUri, const FeedEnclosure& enclosure,
                                     FeedTask::Priority priority, int errorCode, quint64 refresh)
{
    decreaseEnclosureCount(refresh);
    if (priority == FeedTask::EssentialEnclosurePriority)
        return;
    if (priority == FeedTask::ManualEnclosurePriority)
        manualDownloadEnded();
    emit enclosureDownloadFailed(channelUri, enclosure, errorCode, 0);
}

void FeedEnclosureCompletion::endedUnrun(const QList<quint64>& refreshes)
{
    for (const quint64 refresh : refreshes)
        decreaseEnclosureCount(refresh);
}

void FeedEnclosureCompletion::decreaseEnclosureCount(quint64 refresh)
{
    QString channelUri;
    if (_enclosureCount.decrease(refresh, &channelUri))
        emit refreshCompleted(channelUri);
}

void FeedEnclosureCompletion::manualDownloadEnded()
{
    if (_queue->isEmpty(FeedTask::EnclosureTaskType, FeedTask::ManualEnclosurePriority))
        emit refreshState(ManualDownloadsEnded);
}
