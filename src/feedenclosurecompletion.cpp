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

void FeedEnclosureCompletion::expect(const QString& channelUri, int count)
{
    _enclosureCount.add(channelUri, count);
}

void FeedEnclosureCompletion::complete(const QString& channelUri)
{
    emit refreshCompleted(channelUri);
}

// The refresh completes before the download that completed it is told.
void FeedEnclosureCompletion::succeeded(const QString& channelUri, const FeedEnclosure& enclosure,
                                        FeedTask::Priority priority)
{
    if (priority == FeedTask::EssentialEnclosurePriority)
        decreaseEnclosureCount(channelUri);
    emit enclosureDownloaded(channelUri, enclosure, 0);
    if (priority == FeedTask::ManualEnclosurePriority)
        manualDownloadEnded();
}

void FeedEnclosureCompletion::failed(const QString& channelUri, const FeedEnclosure& enclosure,
                                     FeedTask::Priority priority, int errorCode)
{
    if (priority == FeedTask::EssentialEnclosurePriority) {
        decreaseEnclosureCount(channelUri);
        return;
    }
    if (priority == FeedTask::ManualEnclosurePriority)
        manualDownloadEnded();
    emit enclosureDownloadFailed(channelUri, enclosure, errorCode, 0);
}

void FeedEnclosureCompletion::endedUnrun(const QStringList& channelUris)
{
    for (const QString& channelUri : channelUris)
        decreaseEnclosureCount(channelUri);
}

void FeedEnclosureCompletion::decreaseEnclosureCount(const QString& channelUri)
{
    if (_enclosureCount.decrease(channelUri))
        emit refreshCompleted(channelUri);
}

void FeedEnclosureCompletion::manualDownloadEnded()
{
    if (_queue->isEmpty(FeedTask::EnclosureTaskType, FeedTask::ManualEnclosurePriority))
        emit refreshState(ManualDownloadsEnded);
}
