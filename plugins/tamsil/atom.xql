(: Atom 1.0 and 0.3 (root <feed>) to the common form of one channel. Elements of extension
   namespaces pass as they are: the converter reads what it knows of them. :)
declare namespace atom = "http://www.w3.org/2005/Atom";
declare namespace atom03 = "http://purl.org/atom/ns#";
declare namespace xhtml = "http://www.w3.org/1999/xhtml";
declare namespace dc = "http://purl.org/dc/elements/1.1/";
declare variable $inputDocument external;

declare function local:bases($element as element()) as element()*
{
    for $base in $element/ancestor-or-self::*/@xml:base return <base>{ string($base) }</base>
};

(: Markup of xhtml content, rebuilt without its namespace. Writing out a tree takes stack in
   proportion to its depth, so markup nested deeper than any page needs is kept as its text. :)
declare function local:markup($node as node(), $depth as xs:integer) as node()*
{
    typeswitch ($node)
        case element() return
            if ($depth ge 256) then text { string($node) }
            else element { local-name($node) } {
                for $attribute in $node/@* return attribute { local-name($attribute) } { string($attribute) },
                for $child in $node/node() return local:markup($child, $depth + 1)
            }
        case text() return text { string($node) }
        default return ()
};

(: A media type without its parameters, in lower case. :)
declare function local:mediaType($type as xs:string) as xs:string
{
    lower-case(normalize-space(substring-before(concat($type, ";"), ";")))
};

declare function local:isHtml($mediaType as xs:string) as xs:boolean
{
    $mediaType eq "text/html" or $mediaType eq "application/xhtml+xml"
};

(: What a text construct holds: "text", "html", "xhtml" (markup as elements), or "base64" and
   "base64 html" (encoded text or HTML). :)
declare function local:kind($construct as element()) as xs:string
{
    let $type := string($construct/@type)
    return
        if ($type eq "" or $type eq "text") then "text"
        else if ($type eq "html") then "html"
        else if ($type eq "xhtml") then "xhtml"
        else local:kindOfMediaType(local:mediaType($type))
};

(: A media type in Atom 1.0: an XML type holds elements, a text type text, and any other type
   its content in base64. :)
declare function local:kindOfMediaType($type as xs:string) as xs:string
{
    if ($type eq "text/html") then "html"
    else if ($type eq "application/xhtml+xml") then "xhtml"
    else if (starts-with($type, "text/") or ends-with($type, "+xml") or ends-with($type, "/xml")) then "text"
    else "base64"
};

(: Atom 0.3 says by its mode how the content of its type is written. :)
declare function local:kind03($construct as element()) as xs:string
{
    let $type := if ($construct/@type) then local:mediaType(string($construct/@type)) else "text/plain"
    let $mode := string($construct/@mode)
    return
        if ($mode eq "base64") then (if (local:isHtml($type)) then "base64 html" else "base64")
        else if ($mode eq "escaped") then (if ($type eq "text/plain") then "text" else "html")
        else if ($construct/*) then "xhtml"
        else if (local:isHtml($type)) then "html"
        else "text"
};

(: The kind travels along, so plain text is shown as text and never read as markup. :)
declare function local:text($name as xs:string, $construct as element(), $kind as xs:string) as element()
{
    if ($kind eq "xhtml") then
        element { $name } {
            attribute type { "xhtml" },
            for $node in (if ($construct/xhtml:div) then $construct/xhtml:div[1]/node() else $construct/node())
            return local:markup($node, 0)
        }
    else if (starts-with($kind, "base64")) then
        element { $name } {
            attribute type { if ($kind eq "base64 html") then "html" else "text" },
            attribute encoding { "base64" },
            string($construct)
        }
    else
        element { $name } { attribute type { $kind }, string($construct) }
};

(: Titles are plain text: only an html title needs its markup taken out. :)
declare function local:title($construct as element(), $kind as xs:string) as element()
{
    <title>{
        if ($kind eq "html" or $kind eq "base64 html") then attribute type { "html" } else (),
        if (starts-with($kind, "base64")) then attribute encoding { "base64" } else (),
        string($construct)
    }</title>
};

declare function local:alternate($links as element()*) as element()*
{
    for $link in ($links[not(@rel) or @rel eq "alternate"])[1]
    return <link>{ string($link/@href) }</link>
};

declare function local:enclosures($links as element()*) as element()*
{
    for $enclosure in $links[@rel eq "enclosure"]
    return <enclosure url="{ $enclosure/@href }" type="{ $enclosure/@type }" length="{ $enclosure/@length }"/>
};

(: Of alternatives, the HTML one. :)
declare function local:content03($entry as element()) as element()?
{
    let $content := $entry/atom03:content[1]
    return
        if ($content and local:mediaType(string($content/@type)) eq "multipart/alternative") then
            ($content/atom03:content[local:isHtml(local:mediaType(string(@type)))], $content/atom03:content)[1]
        else $content
};

(
for $feed in doc($inputDocument)/atom:feed
return
<channel>{
    for $title in $feed/atom:title[1] return local:title($title, local:kind($title)),
    $feed/dc:title[1],
    local:alternate($feed/atom:link),
    for $subtitle in $feed/atom:subtitle[1] return local:text("description", $subtitle, local:kind($subtitle)),
    for $icon in ($feed/atom:icon, $feed/atom:logo)[1] return <image>{ string($icon) }</image>,
    local:bases($feed),
    for $entry in $feed/atom:entry
    return
    <item>{
        $entry/@xml:base,
        for $title in $entry/atom:title[1] return local:title($title, local:kind($title)),
        local:alternate($entry/atom:link),
        for $text in ($entry/atom:content[not(@src)], $entry/atom:summary)[1]
        return local:text("description", $text, local:kind($text)),
        for $summary in $entry/atom:summary[1] return local:text("summary", $summary, local:kind($summary)),
        for $date in ($entry/atom:published[1], $entry/atom:updated[1]) return <pubDate>{ string($date) }</pubDate>,
        local:enclosures($entry/atom:link),
        $entry/*[namespace-uri() ne "http://www.w3.org/2005/Atom" and namespace-uri() ne ""]
    }</item>
}</channel>,
for $feed in doc($inputDocument)/atom03:feed
return
<channel>{
    for $title in $feed/atom03:title[1] return local:title($title, local:kind03($title)),
    $feed/dc:title[1],
    local:alternate($feed/atom03:link),
    for $tagline in $feed/atom03:tagline[1] return local:text("description", $tagline, local:kind03($tagline)),
    local:bases($feed),
    for $entry in $feed/atom03:entry
    return
    <item>{
        $entry/@xml:base,
        for $title in $entry/atom03:title[1] return local:title($title, local:kind03($title)),
        local:alternate($entry/atom03:link),
        for $text in (local:content03($entry), $entry/atom03:summary)[1]
        return local:text("description", $text, local:kind03($text)),
        for $summary in $entry/atom03:summary[1] return local:text("summary", $summary, local:kind03($summary)),
        for $date in ($entry/atom03:issued[1], $entry/atom03:modified[1], $entry/atom03:created[1])
        return <pubDate>{ string($date) }</pubDate>,
        local:enclosures($entry/atom03:link),
        $entry/*[namespace-uri() ne "http://purl.org/atom/ns#" and namespace-uri() ne ""]
    }</item>
}</channel>
)
