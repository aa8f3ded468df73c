#include "feedenclosuretask.h"

#include "feedlog.h"

#include <QFile>

namespace {

QString tempPath(const FeedEnclosure& enclosure)
{
    return enclosure.localUrl() + QStringLiteral(".part");
}

} // namespace

FeedEnclosureTask::FeedEnclosureTask(Priority priority, const QString& channelUri,
                                     const FeedEnclosure& enclosure)
    : FeedTask(priority)
    , _enclosure(enclosure)
    , _channelUri(channelUri)
{
}

FeedTask::Type FeedEnclosureTask::type()
{
    return EnclosureTaskType;
}

bool FeedEnclosureTask::matchesChannel(const QString& uri)
{
    return uri == _channelUri;
}

FeedEnclosure FeedEnclosureTask::tempFileEnclosure(const FeedEnclosure& enclosure)
{
    FeedEnclosure target = enclosure;
    target.setLocalUrl(tempPath(enclosure));
    return target;
}

bool FeedEnclosureTask::renameTempFile(const FeedEnclosure& enclosure)
{
    const QString finalPath = enclosure.localUrl();
    if (finalPath.isEmpty())
        return false;
    // QFile::rename refuses to replace an existing file.
    QFile::rename(tempPath(enclosure), finalPath);
    return QFile::exists(finalPath);
}

void FeedEnclosureTask::deleteTempFile(const FeedEnclosure& enclosure)
{
    FEED_LOG(critical, "TaskManager") << "Removing the local file created for enclosure ";
    QFile::remove(tempPath(enclosure));
}
