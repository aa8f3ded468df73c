#ifndef HTMLENDTAGFINDER_H
#define HTMLENDTAGFINDER_H

#include <QLatin1String>
#include <QString>

// Finds the end tags of one name ("</script", in any case, followed by white space, "/",
// ">" or the end of the text) that close an element whose content a browser does not read
// as markup. Asked in increasing positions, it goes over the text once.
class HtmlEndTagFinder
{
public:
    // name is lower case; the text must outlive the finder.
    HtmlEndTagFinder(const QString& text, QLatin1String name);

    // The start of the first such end tag at or after position, or -1.
    int from(int position);

private:
    int search(int position) const;

    const QString& _text;
    QString _opening;
    bool _searched = false;
    int _found = -1;
};

#endif
