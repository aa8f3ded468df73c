(: RSS 0.9x and 2.0 (root <rss>) to the common form of one channel. An RSS item already has
   the shape of the common form's item, so items pass whole, extension elements and all: the
   converter reads what it knows of them. Copying is far cheaper than building anew. :)
declare namespace dc = "http://purl.org/dc/elements/1.1/";
declare variable $inputDocument external;

(: Some RSS puts its own elements in a namespace; they are taken out of it. RSS nests four
   levels deep at most, so anything deeper, like an element of any other namespace, stays. :)
declare function local:plain($element as element(), $depth as xs:integer) as element()
{
    let $namespace := namespace-uri($element)
    return
        if ($depth lt 4 and ($namespace eq "http://backend.userland.com/rss2"
                             or $namespace eq "http://backend.userland.com/rss")) then
            element { local-name($element) } {
                $element/@*,
                for $node in $element/node()
                return if ($node instance of element()) then local:plain($node, $depth + 1) else $node
            }
        else $element
};

declare function local:bases($element as element()) as element()*
{
    for $base in $element/ancestor-or-self::*/@xml:base return <base>{ string($base) }</base>
};

let $root := doc($inputDocument)/*
for $channel in (if (namespace-uri($root) eq "") then $root else local:plain($root, 0))/self::rss/channel[1]
return
<channel>{
    $channel/title[1],
    $channel/dc:title[1],
    $channel/link[1],
    $channel/description[1],
    for $url in $channel/image/url[1] return <image>{ string($url) }</image>,
    local:bases($channel),
    $channel/item
}</channel>
