#ifndef FEEDMARKUPCLEANER_H
#define FEEDMARKUPCLEANER_H

#include <QString>
#include <QStringView>

// Makes the HTML of a message description safe to show in a web view, in one walk over the
// text in a browser's reading:
// - script and style elements go where they are closed; an unclosed or self-closed start tag
//   goes alone, and the text after it stays;
// - base, object, embed, applet, frame, frameset and portal tags go, and so does an iframe
//   that does not show an http or https page;
// - event handlers, srcdoc and http-equiv go, and so does every URL-bearing attribute whose
//   scheme, as a browser sees it, is not http, https or mailto (an image's source may also
//   be an embedded png, gif, jpeg or webp image);
// - a tag that never closes is shown as text, and a "<" inside a tag or a comment is written
//   as a character reference, so that no reading of the result finds a tag this walk did not.
// Every word outside the removed script and style elements stays.
class FeedMarkupCleaner
{
public:
    // baseUrl resolves a relative iframe source; it may be empty.
    static QString clean(const QString& text, const QString& baseUrl);

    // Whether a browser may follow this URL (an attribute value with its character
    // references decoded): a relative reference, http, https or mailto.
    static bool isSafeUrl(QStringView url);
    // Whether an image embedded in a description as data may be of that type: png, gif, jpeg
    // or webp.
    static bool isEmbeddableImageType(const QString& mimeType);
};

#endif
