#include "feedfilenamegenerator.h"

#include "feedlog.h"

#include <QCryptographicHash>
#include <QUrl>
#include <virelonpaths.h>

namespace {

const QString separator = QStringLiteral("_");
// The file system counts a name in bytes, not in characters, and takes at most 255; a
// download is written under the name plus ".part", which must fit as well.
const int maximumNameBytes = 255 - 5;
const int hashLength = 6;

int utf8Size(uint code)
{
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

int utf8Size(const QString& text)
{
    return text.toUtf8().size();
}

// The longest head of text that fits into maximumBytes UTF-8 bytes, never half a character.
QString cutToUtf8Size(const QString& text, int maximumBytes)
{
    int bytes = 0;
    int index = 0;
    while (index < text.size()) {
        const QChar character = text.at(index);
        const bool pair = character.isHighSurrogate() && index + 1 < text.size()
                          && text.at(index + 1).isLowSurrogate();
        const uint code = pair ? QChar::surrogateToUcs4(character, text.at(index + 1))
                               : character.unicode();
        bytes += utf8Size(code);
        if (bytes > maximumBytes)
            break;
        index += pair ? 2 : 1;
    }
    return text.left(index);
}

// Decoded path characters reach the file name: control characters and broken surrogates
// have no place there.
QString withoutControlCharacters(QString name)
{
    for (int index = 0; index < name.size(); ++index) {
        const QChar character = name.at(index);
        if (character.isHighSurrogate() && index + 1 < name.size()
            && name.at(index + 1).isLowSurrogate()) {
            ++index;
        } else if (character.category() == QChar::Other_Control || character.isSurrogate()) {
            name[index] = QLatin1Char('_');
        }
    }
    return name;
}

} // namespace

FeedFilenameGenerator::FeedFilenameGenerator()
    : _directory(VirelonPaths::enclosureDir())
{
    if (!_directory.endsWith(QLatin1Char('/')))
        _directory += QLatin1Char('/');
}

FeedFilenameGenerator::~FeedFilenameGenerator() = default;

QString FeedFilenameGenerator::generateFileName(const QString& remoteUrl) const
{
    const QUrl url(remoteUrl);
    if (!url.isValid())
        FEED_LOG(warning, "Engine") << "Url is not valid! Url:" << remoteUrl;

    QString path = url.path(QUrl::FullyDecoded);
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    const int slash = path.lastIndexOf(QLatin1Char('/'));

    QString base;
    QString extension;
    if (dot != -1 && dot > slash) {
        extension = path.mid(dot);
        if (slash != -1)
            base = path.mid(slash + 1, dot - slash - 1);
    }
    if (base.isEmpty() && slash != -1)
        base = path.mid(slash + 1);
    if (dot == slash + 1) {
        base = extension;
        extension.clear();
    }
    if (base.isEmpty() && extension.isEmpty())
        base = url.host();
    if (base.isEmpty()) {
        FEED_LOG(warning, "Engine") << "Could not parse suitable file name from :" << remoteUrl;
        base = QStringLiteral(" ");
    }
    base = withoutControlCharacters(base);
    extension = withoutControlCharacters(extension);

    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(remoteUrl.toUtf8(), QCryptographicHash::Md5).toHex().left(hashLength));

    const int fixedBytes = separator.size() + hashLength;
    if (utf8Size(base) + fixedBytes + utf8Size(extension) > maximumNameBytes) {
        base = cutToUtf8Size(base, qMax(0, maximumNameBytes - fixedBytes - utf8Size(extension)));
        FEED_LOG(warning, "Engine") << "Filename base too long, truncating to:" << base;
        // An extension that leaves no room at all would make a name no file system takes.
        if (fixedBytes + utf8Size(extension) > maximumNameBytes) {
            extension = cutToUtf8Size(extension, maximumNameBytes - fixedBytes);
            FEED_LOG(warning, "Engine") << "Filename extension too long, truncating to:" << extension;
        }
    }
    return _directory + base + separator + hash + extension;
}
