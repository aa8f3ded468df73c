(: RSS 0.90 and 1.0 (root <rdf:RDF>) to the common form of one channel. :)
declare namespace rdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
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


declare function local:rss($parent as element(), $name as xs:string) as element()*
{
    $parent/*[local-name() eq $name and (namespace-uri() eq "http://purl.org/rss/1.0/"
                                         or namespace-uri() eq "http://my.netscape.com/rdf/simple/0.9/")]
};

for $rdf in doc($inputDocument)/rdf:RDF
let $channel := local:rss($rdf, "channel")[1]
return
<channel>{
    <title>{ string(local:rss($channel, "title")[1]) }</title>,
    <link>{ string(local:rss($channel, "link")[1]) }</link>,
    <description>{ string(local:rss($channel, "description")[1]) }</description>,
    for $image in local:rss($rdf, "image")[1]
    return <image>{ string(local:rss($image, "url")[1]) }</image>,
    local:bases($rdf),
    for $item in local:rss($rdf, "item")
    return
    <item>{
        for $title in local:rss($item, "title")[1] return <title>{ string($title) }</title>,
        for $link in local:rss($item, "link")[1] return <link>{ string($link) }</link>,
        for $about in $item/@rdf:about return <guid isPermaLink="true">{ string($about) }</guid>,
        for $description in local:rss($item, "description")[1] return <description>{ string($description) }</description>,
        local:bases($item),
        local:extensions($item)
    }</item>
}</channel>
