#ifndef HTMLCOMMENTREADER_H
#define HTMLCOMMENTREADER_H

#include <QString>

// Finds the comments of one HTML text as a browser reads them: "<!--" up to "-->" or "--!>"
// ("<!-->" and "<!--->" are whole comments), and the bogus comments "<!", "<?" and "</"
// without a letter, each up to the next ">" ("</>" is dropped whole). Asked in increasing
// positions, the reader goes over the text once, however many comments never close.
class HtmlCommentReader
{
public:
    explicit HtmlCommentReader(const QString& text);

    static bool startsAt(const QString& text, int position);

    // The end of the comment that starts at start (startsAt() holds there), after its ">",
    // or -1 when it never closes.
    int end(int start);

private:
    // The end of the first "-->" or "--!>" at or after position, or -1.
    int closingEnd(int position);
    int bracketAfter(int position);

    const QString& _text;
    // The last finding of each search, reused while the walk has not passed it.
    int _closingEnd = -2;
    int _closingStart = 0;
    int _bracket = -2;
};

#endif
