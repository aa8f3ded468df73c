#ifndef FEEDCONTENTDECODER_H
#define FEEDCONTENTDECODER_H

#include <QByteArray>
#include <QString>

#include <functional>

// Undoes the content encoding of a response body (gzip or deflate) as it arrives, handing the
// decoded bytes on in pieces of bounded size: a body that inflates a thousandfold never sits
// in memory whole, and its reader can stop it after any piece.
class FeedContentDecoder
{
public:
    // The largest piece handed on at once.
    static constexpr int PieceSize = 64 * 1024;

    FeedContentDecoder();
    ~FeedContentDecoder();

    // Prepares for a body of that Content-Encoding. An empty one or "identity" needs no
    // decoding (isActive() is then false); false for an encoding this cannot undo.
    bool start(const QByteArray& contentEncoding);
    bool isActive() const { return _active; }

    // Decodes the next part of the body, giving each piece to write; false when the data is
    // not of its encoding or write returned false (decoding then stops).
    bool decode(const QByteArray& input, const std::function<bool(const QByteArray&)>& write);
    // Whether the encoded stream has come to its end.
    bool isFinished() const { return _finished; }
    QString errorString() const { return _errorString; }

private:
    Q_DISABLE_COPY(FeedContentDecoder)

    bool open(int windowBits);
    void close();
    bool inflateInput(const std::function<bool(const QByteArray&)>& write);

    struct Stream;
    Stream* _stream = nullptr;
    bool _active = false;
    bool _deflate = false;       // "deflate": zlib-wrapped, or raw as some servers send it
    bool _settled = false;       // output came, or too much to read again: the wrapping stays
    bool _finished = false;
    QByteArray _pending;         // input kept to read again as raw deflate
    QString _errorString;
};

#endif
