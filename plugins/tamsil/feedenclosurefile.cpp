#include "feedenclosurefile.h"

#include <sys/statvfs.h>

namespace {

// Asking the file system costs a call, so it is asked once per this much written at most; a
// disk that another writer fills meanwhile is noticed within it.
constexpr qint64 CheckInterval = 1024 * 1024;

} // namespace

FeedEnclosureFile::FeedEnclosureFile(qint64 minimumFreeSpace)
    : _minimumFreeSpace(minimumFreeSpace)
{
}

bool FeedEnclosureFile::open(OpenMode mode)
{
    _unchecked = 0;
    return QFile::open(mode);
}

qint64 FeedEnclosureFile::writeData(const char* data, qint64 length)
{
    if (!hasRoomFor(length)) {
        setErrorString(QStringLiteral("Less than %1 bytes would stay free on the disk of %2")
                           .arg(_minimumFreeSpace)
                           .arg(fileName()));
        return -1;
    }
    return QFile::writeData(data, length);
}

// A file system that cannot tell its free space is left to refuse the write itself when full.
bool FeedEnclosureFile::hasRoomFor(qint64 length)
{
    if (length <= _unchecked) {
        _unchecked -= length;
        return true;
    }
    struct statvfs fileSystem;
    if (fstatvfs(handle(), &fileSystem) != 0)
        return true;
    const qint64 room = qint64(fileSystem.f_bavail) * qint64(fileSystem.f_frsize) - _minimumFreeSpace;
    if (length > room)
        return false;
    _unchecked = qMin(room - length, CheckInterval);
    return true;
}
