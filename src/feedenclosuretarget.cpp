#include "feedenclosuretarget.h"

#include "feedenclosurefiles.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString PartSuffix = QStringLiteral(".part");
// NAME_MAX of the file systems the enclosure directory lives on, in bytes.
constexpr int MaximumNameBytes = 255;

bool refuse(QString* reason, const char* text)
{
    if (reason)
        *reason = QString::fromLatin1(text);
    return false;
}

} // namespace

QString FeedEnclosureTarget::partPath(const QString& finalPath)
{
    return finalPath + PartSuffix;
}

bool FeedEnclosureTarget::isAcceptable(const QString& finalPath, QString* reason)
{
    if (finalPath.isEmpty())
        return refuse(reason, "no local path");
    if (!finalPath.startsWith(QLatin1Char('/')))
        return refuse(reason, "not an absolute path");
    if (finalPath.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return refuse(reason, "a \"..\" step");
    const QString name = QFileInfo(partPath(finalPath)).fileName();
    if (name.toUtf8().size() > MaximumNameBytes)
        return refuse(reason, "a name too long for its \".part\"");
    if (!FeedEnclosureFiles::isInsideEnclosureDir(finalPath))
        return refuse(reason, "outside the enclosure directory");
    if (QFileInfo(finalPath).isSymLink() || QFileInfo(partPath(finalPath)).isSymLink())
        return refuse(reason, "a symbolic link");
    return true;
}
