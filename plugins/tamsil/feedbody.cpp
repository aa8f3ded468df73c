#include "feedbody.h"

#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>
#include <QXmlStreamReader>

#include <cstring>

namespace {

// The prolog is read a piece at a time, so a large body is not decoded whole for it.
constexpr int PrologChunk = 4096;

// The encoding that the first bytes show, as XML's appendix on detecting encodings reads them:
// a byte-order mark, or the zero bytes around the first ASCII character of UTF-16 and UTF-32;
// an empty name for a body in an ASCII-compatible encoding.
const char* encodingOfFirstBytes(const QByteArray& data)
{
    if (data.startsWith(QByteArray("\xff\xfe\x00\x00", 4)) || data.startsWith(QByteArray("\x00\x00\xfe\xff", 4)))
        return "UTF-32";
    if (data.startsWith("\xff\xfe") || data.startsWith("\xfe\xff"))
        return "UTF-16";
    if (data.size() < 4)
        return "";
    const bool zero[4] = {data.at(0) == 0, data.at(1) == 0, data.at(2) == 0, data.at(3) == 0};
    if (zero[0] && zero[1] && zero[2] && !zero[3])
        return "UTF-32BE";
    if (!zero[0] && zero[1] && zero[2] && zero[3])
        return "UTF-32LE";
    if (zero[0] && !zero[1] && zero[2] && !zero[3])
        return "UTF-16BE";
    if (!zero[0] && zero[1] && !zero[2] && zero[3])
        return "UTF-16LE";
    return "";
}

// Where the encoding name of the XML declaration stands in the body; an empty match when none.
QRegularExpressionMatch declaredEncoding(const QByteArray& data)
{
    static const QRegularExpression declaration(
        QStringLiteral("^(?:\\x{ef}\\x{bb}\\x{bf})?<\\?xml[^>]*?\\sencoding\\s*=\\s*[\"']([A-Za-z0-9._:-]*)[\"']"));
    return declaration.match(QString::fromLatin1(data.left(256)));
}

// The labels that the WHATWG Encoding Standard decodes as windows-1252: bytes 0x80 to 0x9F
// are C1 controls in Latin-1 and nothing in ASCII, but in such feeds they are windows-1252's
// quotes and dashes; from 0xA0 up the two agree with Latin-1.
bool meansWindows1252(const QString& label)
{
    static const QSet<QString> labels = {
        QStringLiteral("ansi_x3.4-1968"), QStringLiteral("ascii"),      QStringLiteral("cp819"),
        QStringLiteral("csisolatin1"),    QStringLiteral("ibm819"),     QStringLiteral("iso-8859-1"),
        QStringLiteral("iso-ir-100"),     QStringLiteral("iso8859-1"),  QStringLiteral("iso88591"),
        QStringLiteral("iso_8859-1"),     QStringLiteral("iso_8859-1:1987"), QStringLiteral("l1"),
        QStringLiteral("latin1"),         QStringLiteral("us-ascii"),
    };
    return labels.contains(label.toLower());
}

bool hasHighBytes(const QByteArray& data)
{
    for (const char c : data) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return false;
}

bool startsAt(const QByteArray& data, int at, const char* text)
{
    return qstrncmp(data.constData() + at, text, qstrlen(text)) == 0;
}

// Where the text from a position on ends with the terminator; -1 when it does not.
int endOf(const QByteArray& data, int from, const char* terminator)
{
    const int at = data.indexOf(terminator, from);
    return at < 0 ? -1 : at + int(qstrlen(terminator));
}

// Past a tag or declaration: quoted values may hold '>', and a document type its internal
// subset in brackets. Whether the tag closes itself.
int endOfTag(const QByteArray& data, int from, bool* empty)
{
    int brackets = 0;
    for (int at = from; at < data.size(); ++at) {
        const char c = data.at(at);
        if (c == '"' || c == '\'') {
            at = data.indexOf(c, at + 1);
            if (at < 0)
                return -1;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            *empty = data.at(at - 1) == '/';
            return at + 1;
        }
    }
    return -1;
}

} // namespace

FeedBody::FeedBody(const QByteArray& data)
    : _data(data)
{
    dropBlanksBeforeDeclaration();
    decodeToUtf8();
    readProlog();
}

// Servers that print a blank line ahead of the XML declaration are common; the query engine
// refuses such a body, and readers take it.
void FeedBody::dropBlanksBeforeDeclaration()
{
    const int start = _data.startsWith("\xef\xbb\xbf") ? 3 : 0;
    int at = start;
    while (at < _data.size() && std::strchr(" \t\r\n", _data.at(at)) && _data.at(at))
        ++at;
    if (at > start && startsAt(_data, at, "<?xml"))
        _data.remove(start, at - start);
}

// The codec the body is written in; null for UTF-8 (and ASCII), and for a name no codec has,
// which the query engine then refuses.
QTextCodec* FeedBody::sourceCodec() const
{
    const char* wide = encodingOfFirstBytes(_data);
    if (*wide)
        return QTextCodec::codecForName(wide);
    const QRegularExpressionMatch label = declaredEncoding(_data);
    if (!label.hasMatch())
        return nullptr;
    if (meansWindows1252(label.captured(1)))
        return hasHighBytes(_data) ? QTextCodec::codecForName("windows-1252") : nullptr;
    // UTF-8, or a wide encoding that the first bytes belie.
    QTextCodec* codec = QTextCodec::codecForName(label.captured(1).toLatin1());
    const bool wideName = label.captured(1).startsWith(QLatin1String("UTF-16"), Qt::CaseInsensitive)
                          || label.captured(1).startsWith(QLatin1String("UTF-32"), Qt::CaseInsensitive);
    return codec && codec->mibEnum() != 106 && !wideName ? codec : nullptr;
}

void FeedBody::decodeToUtf8()
{
    QTextCodec* codec = sourceCodec();
    if (!codec)
        return;
    _data = codec->toUnicode(_data).toUtf8();
    const QRegularExpressionMatch label = declaredEncoding(_data);
    if (label.hasMatch())
        _data.replace(label.capturedStart(1), label.capturedLength(1), "UTF-8");
}

// Entity declarations are refused later, so they are noted here, where the prolog is read.
void FeedBody::readProlog()
{
    QXmlStreamReader reader;
    int fed = 0;
    for (;;) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            _declaresEntities = reader.text().contains(QLatin1String("<!ENTITY"));
            break;
        case QXmlStreamReader::StartElement:
            _rootName = reader.name().toString();
            return;
        case QXmlStreamReader::Invalid:
            if (reader.error() != QXmlStreamReader::PrematureEndOfDocumentError || fed >= _data.size())
                return;
            reader.addData(_data.mid(fed, PrologChunk));
            fed += PrologChunk;
            break;
        default:
            break;
        }
    }
}

// Read from the bytes without parsing them, skipping comments, character data and processing
// instructions whole: a fraction of what parsing costs, and exact for a well-formed body.
int FeedBody::depth() const
{
    int deepest = 0;
    int depth = 0;
    for (int at = _data.indexOf('<'); at >= 0 && at + 1 < _data.size(); at = _data.indexOf('<', at)) {
        const char next = _data.at(at + 1);
        bool empty = false;
        if (next == '?')
            at = endOf(_data, at + 2, "?>");
        else if (startsAt(_data, at, "<!--"))
            at = endOf(_data, at + 4, "-->");
        else if (startsAt(_data, at, "<![CDATA["))
            at = endOf(_data, at + 9, "]]>");
        else
            at = endOfTag(_data, at + 1, &empty);
        if (at < 0)
            break;
        if (next == '/')
            --depth;
        else if (next != '!' && next != '?')
            deepest = qMax(deepest, empty ? depth + 1 : ++depth);
    }
    return deepest;
}
