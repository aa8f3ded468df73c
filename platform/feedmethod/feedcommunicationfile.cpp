#include "feedcommunicationfile.h"

#include "feedmethod.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// The file is open unbuffered, and a record is written and read a field at a time.
bool openBuffered(QFile& file, QIODevice::OpenMode mode, QFile* buffered)
{
    return buffered->open(file.handle(), mode, QFileDevice::DontCloseHandle) && buffered->seek(0);
}

} // namespace

bool FeedCommunicationFile::open(QFile& file, QString* error)
{
    const QString name = file.fileName();
    const QByteArray path = QFile::encodeName(name);
    if (path.isEmpty())
        return fail(error, QStringLiteral("no file name"));
    // A folder of our own is made for the user alone.
    const QByteArray folder = QFile::encodeName(QFileInfo(name).path());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return fail(error, QString::fromLocal8Bit(std::strerror(errno)));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(error, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat status;
    QString refusal;
    if (::fstat(fd, &status) != 0)
        refusal = QString::fromLocal8Bit(std::strerror(errno));
    else if (!S_ISREG(status.st_mode))
        refusal = QStringLiteral("not a regular file");
    else if (status.st_uid != ::geteuid())
        refusal = QStringLiteral("owned by another user");
    else if ((status.st_mode & 0077) && ::fchmod(fd, 0600) != 0)
        refusal = QString::fromLocal8Bit(std::strerror(errno));
    if (!refusal.isEmpty()) {
        ::close(fd);
        return fail(error, refusal);
    }
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(error, file.errorString());
    }
    file.setObjectName(name);
    return true;
}

bool FeedCommunicationFile::writeRecord(QFile& file, const FeedMethod& record)
{
    QFile buffered;
    if (!file.resize(0) || !openBuffered(file, QIODevice::WriteOnly, &buffered))
        return false;
    QDataStream stream(&buffered);
    stream << record;
    return stream.status() == QDataStream::Ok && buffered.flush();
}

bool FeedCommunicationFile::readRecord(QFile& file, FeedMethod* record, QString* error)
{
    const qint64 size = file.size();
    if (size > qint64(sizeof(quint32)) + FeedProtocol::MaximumRecordSize)
        return fail(error, QStringLiteral("%1 bytes, more than a record may have (%2)")
                               .arg(size)
                               .arg(FeedProtocol::MaximumRecordSize));
    QFile buffered;
    return openBuffered(file, QIODevice::ReadOnly, &buffered) && FeedMethod::readFrom(&buffered, record);
}
