#include "feedenclosuretask.h"

#include "feedenclosuretarget.h"
#include "feedlog.h"

#include <QFile>
#include <QFileInfo>

namespace {

QString tempPath(const FeedEnclosure& enclosure)
{
    return FeedEnclosureTarget::partPath(enclosure.localUrl());
}

bool isAcceptable(const FeedEnclosure& enclosure)
{
    QString reason;
    if (FeedEnclosureTarget::isAcceptable(enclosure.localUrl(), &reason))
        return true;
    FEED_LOG(critical, "TaskManager") << "Enclosure files left alone," << reason << ":" << enclosure.localUrl();
    return false;
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

// QFile::rename never replaces an existing file.
bool FeedEnclosureTask::renameTempFile(const FeedEnclosure& enclosure)
{
    if (!isAcceptable(enclosure))
        return false;
    if (QFileInfo::exists(enclosure.localUrl())) {
        QFile::remove(tempPath(enclosure));
        return true;
    }
    return QFile::rename(tempPath(enclosure), enclosure.localUrl());
}

// Most cancelled downloads never started: a ".part" that is not there is not worth the checks of
// its path, each a walk of the folders.
void FeedEnclosureTask::deleteTempFile(const FeedEnclosure& enclosure)
{
    FEED_LOG(critical, "TaskManager") << "Removing the local file created for enclosure ";
    const QFileInfo part(tempPath(enclosure));
    if ((part.exists() || part.isSymLink()) && isAcceptable(enclosure))
        QFile::remove(part.filePath());
}
