#pragma once
// HTML as the viewer hands it to its page view. Pages written for a web browser give
// colours as bare hex digits (color=0000ff), which a browser reads as #0000ff; Qt's rich
// text reads only the # form, so the viewer adds the # before showing a page.

#include <string>

namespace palvoro {

// `html` with every color= and bgcolor= value of exactly six hex digits without a leading
// # (quoted or not) given its #. Everything else is left as it is.
std::string withHashedColours(const std::string& html);

}  // namespace palvoro
