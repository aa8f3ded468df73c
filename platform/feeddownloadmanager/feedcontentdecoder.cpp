#include "feedcontentdecoder.h"

#include <zlib.h>

struct FeedContentDecoder::Stream
{
    z_stream zlib = {};
};

namespace {

// 15 bits of window; +32 reads a zlib or a gzip wrapping alike; negative means no wrapping.
const int WrappedWindow = 15 + 32;
const int RawWindow = -15;

} // namespace

FeedContentDecoder::FeedContentDecoder() = default;

FeedContentDecoder::~FeedContentDecoder()
{
    close();
}

bool FeedContentDecoder::start(const QByteArray& contentEncoding)
{
    close();
    _active = _settled = _finished = false;
    _pending.clear();
    _errorString.clear();
    const QByteArray encoding = contentEncoding.trimmed().toLower();
    if (encoding.isEmpty() || encoding == "identity")
        return true;
    if (encoding != "gzip" && encoding != "x-gzip" && encoding != "deflate") {
        _errorString = QStringLiteral("Content encoding \"%1\" is not supported").arg(QString::fromLatin1(encoding));
        return false;
    }
    _deflate = encoding == "deflate";
    _active = true;
    return open(WrappedWindow);
}

bool FeedContentDecoder::open(int windowBits)
{
    close();
    _stream = new Stream;
    if (inflateInit2(&_stream->zlib, windowBits) == Z_OK)
        return true;
    delete _stream;
    _stream = nullptr;
    _errorString = QStringLiteral("Cannot start decoding");
    return false;
}

void FeedContentDecoder::close()
{
    if (!_stream)
        return;
    inflateEnd(&_stream->zlib);
    delete _stream;
    _stream = nullptr;
}

bool FeedContentDecoder::decode(const QByteArray& input, const std::function<bool(const QByteArray&)>& write)
{
    if (!_stream)
        return false;
    // Nothing may follow the end of the stream but what servers pad it with.
    if (_finished || input.isEmpty())
        return true;
    if (_deflate && !_settled) {
        _pending += input;
        _settled = _pending.size() > PieceSize;
        if (_settled)
            _pending.clear();
    }
    _stream->zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
    _stream->zlib.avail_in = uInt(input.size());
    if (inflateInput(write))
        return true;
    // Only corrupt data (an error text, not a refusal of write) may be raw deflate.
    if (!_deflate || _settled || _errorString.isEmpty())
        return false;
    // "deflate" without its zlib wrapping: read what came so far again as raw deflate.
    _deflate = false;
    const QByteArray pending = _pending;
    _pending.clear();
    _errorString.clear();
    if (!open(RawWindow))
        return false;
    _stream->zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(pending.constData()));
    _stream->zlib.avail_in = uInt(pending.size());
    return inflateInput(write);
}

bool FeedContentDecoder::inflateInput(const std::function<bool(const QByteArray&)>& write)
{
    QByteArray piece(PieceSize, Qt::Uninitialized);
    z_stream& zlib = _stream->zlib;
    for (;;) {
        zlib.next_out = reinterpret_cast<Bytef*>(piece.data());
        zlib.avail_out = uInt(piece.size());
        const int result = inflate(&zlib, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            _errorString = QStringLiteral("Corrupt compressed body: %1").arg(QString::fromLatin1(zlib.msg ? zlib.msg : "?"));
            return false;
        }
        const int produced = piece.size() - int(zlib.avail_out);
        if (produced > 0) {
            _settled = true;
            _pending.clear();
            if (!write(QByteArray(piece.constData(), produced)))
                return false;
        }
        if (result == Z_STREAM_END) {
            // Several gzip members one after another make one body; anything else after the
            // end is padding.
            if (zlib.avail_in > 0 && *zlib.next_in == 0x1f && inflateReset(&zlib) == Z_OK)
                continue;
            _finished = true;
            return true;
        }
        // A full piece may leave more output inside; otherwise the input is used up.
        if (zlib.avail_out > 0 && (zlib.avail_in == 0 || produced == 0))
            return true;
    }
}
