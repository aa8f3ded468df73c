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
    class Search
    {
    public:
        Search(const QString& text, QLatin1String needle) : _text(text), _needle(needle) {}
        int from(int position);

    private:
        const QString& _text;
        QLatin1String _needle;
        bool _searched = false;
        int _found = -1;
    };

    const QString& _text;
    Search _closing;
    Search _bangClosing;
    Search _bracket;
};

#endif
