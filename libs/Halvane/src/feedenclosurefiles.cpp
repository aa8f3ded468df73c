#include "feedenclosurefiles.h"

#include "feedlog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <virelonpaths.h>

namespace {

const QString PartSuffix = QStringLiteral(".part");

QString plainPath(const QString& localPath)
{
    const QUrl url(localPath);
    return url.isLocalFile() ? url.toLocalFile() : localPath;
}

// The entry's real path: its folder resolved, its own name kept, so that a link inside the
// folder is removed itself and never the file it points at. Empty when there is none.
QString resolvedPath(const QString& path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (!info.isAbsolute() || name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    const QString folder = QFileInfo(info.path()).canonicalFilePath();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + name;
}

bool insideFolder(const QString& resolved)
{
    const QString folder = QFileInfo(VirelonPaths::enclosureDir()).canonicalFilePath();
    return !folder.isEmpty() && !resolved.isEmpty() && resolved.startsWith(folder + QLatin1Char('/'));
}

// A missing file is no failure: it may never have been downloaded.
bool removeEntry(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    return QFile::remove(path);
}

} // namespace

namespace FeedEnclosureFiles {

bool isInsideEnclosureDir(const QString& localPath)
{
    return insideFolder(resolvedPath(plainPath(localPath)));
}

bool remove(const QString& localPath)
{
    if (localPath.isEmpty())
        return false;
    const QString path = plainPath(localPath);
    const QString resolved = resolvedPath(path);
    if (!insideFolder(resolved)) {
        FEED_LOG(warning, "Tracker") << "Not removed, outside the enclosure directory:" << localPath;
        return false;
    }
    const bool file = removeEntry(resolved);
    const bool part = removeEntry(resolved + PartSuffix);
    if (!file || !part)
        FEED_LOG(critical, "Tracker") << "Failed to remove enclosure file:" << localPath;
    return file && part;
}

void remove(const QList<FeedEnclosure>& enclosures)
{
    for (const FeedEnclosure& enclosure : enclosures)
        remove(enclosure.localUrl());
}

} // namespace FeedEnclosureFiles
