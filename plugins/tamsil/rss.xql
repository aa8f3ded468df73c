(: RSS 0.9x and 2.0 (root <rss>) to the common form of one channel. :)
declare variable $inputDocument external;

(: The same elements the namespace plug-ins make of Media RSS, Dublin Core, the content
   module and the feed-proxy extension, in one pass over an element's children. Namespaces
   are compared one by one: comparing with a global sequence leaks memory in Qt's engine. :)
declare function local:media($parent as element(), $name as xs:string) as element()*
{
    $parent/*[local-name() eq $name and (namespace-uri() eq "http://search.yahoo.com/mrss/"
                                         or namespace-uri() eq "http://search.yahoo.com/mrss")]
};

declare function local:mediaContent($content as element()) as element()
{
    <enclosure url="{ $content/@url }" type="{ $content/@type }" size="{ $content/@fileSize }"
               isDefault="{ $content/@isDefault }" sourcenamespaceuri="http://search.yahoo.com/mrss/">{
        for $thumbnail in local:media($content, "thumbnail")
        return <enclosurethumbnail url="{ $thumbnail/@url }"/>
    }</enclosure>
};

declare function local:extensions($item as element()) as element()*
{
    for $child in $item/*[namespace-uri() ne ""]
    let $namespace := namespace-uri($child)
    let $name := local-name($child)
    return
        if ($namespace eq "http://search.yahoo.com/mrss/" or $namespace eq "http://search.yahoo.com/mrss") then
            if ($name eq "content") then local:mediaContent($child)
            else if ($name eq "group") then
                <enclosuregroup>{ for $content in local:media($child, "content") return local:mediaContent($content) }</enclosuregroup>
            else ()
        else if ($namespace eq "http://purl.org/dc/elements/1.1/") then
            if ($name eq "date") then
                <pubDate sourcenamespaceuri="http://purl.org/dc/elements/1.1/">{ string($child) }</pubDate>
            else if ($name eq "description") then
                <description sourcenamespaceuri="http://purl.org/dc/elements/1.1/">{ string($child) }</description>
            else ()
        else if ($namespace eq "http://purl.org/rss/1.0/modules/content/") then
            if ($name eq "encoded") then
                <description sourcenamespaceuri="http://purl.org/rss/1.0/modules/content/">{ string($child) }</description>
            else ()
        else if ($namespace eq "http://rssnamespace.org/feedburner/ext/1.0") then
            if ($name eq "origLink") then
                <link sourcenamespaceuri="http://rssnamespace.org/feedburner/ext/1.0">{ string($child) }</link>
            else if ($name eq "origEnclosureLink") then
                <originalenclosurelink sourcenamespaceuri="http://rssnamespace.org/feedburner/ext/1.0">{ string($child) }</originalenclosurelink>
            else ()
        else ()
};

declare function local:bases($element as element()) as element()*
{
    for $base in $element/ancestor-or-self::*/@xml:base return <base>{ string($base) }</base>
};

for $channel in doc($inputDocument)/rss/channel[1]
return
<channel>{
    <title>{ string($channel/title[1]) }</title>,
    <link>{ string($channel/link[1]) }</link>,
    <description>{ string($channel/description[1]) }</description>,
    for $url in $channel/image/url[1] return <image>{ string($url) }</image>,
    local:bases($channel),
    for $item in $channel/item
    return
    <item>{
        for $title in $item/title[1] return <title>{ string($title) }</title>,
        for $link in $item/link[1] return <link>{ string($link) }</link>,
        for $guid in $item/guid[1]
        return <guid isPermaLink="{ $guid/@isPermaLink }">{ string($guid) }</guid>,
        for $description in $item/description[1] return <description>{ string($description) }</description>,
        for $date in $item/pubDate[1] return <pubDate>{ string($date) }</pubDate>,
        local:bases($item),
        for $enclosure in $item/enclosure
        return <enclosure url="{ $enclosure/@url }" type="{ $enclosure/@type }" size="{ $enclosure/@length }"/>,
        local:extensions($item)
    }</item>
}</channel>
