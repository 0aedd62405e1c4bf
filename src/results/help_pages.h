#pragma once
// The two help pages and the logo they show. Start-up writes them next to the program as
// "help.htm", "smart.htm" and "vhtlogo.gif" at every start; the viewer shows them from there.

#include <cstdint>
#include <string>
#include <vector>

namespace palvoro {

// "help.htm": what the program does and how to run each of its tests.
std::string helpPageHtml();

// "smart.htm": what SMART is, what values, worst values, thresholds and the warranty flag
// mean, and the common attributes by ID.
std::string smartPageHtml();

// "vhtlogo.gif": the maker's logo, white "VHT" letters on the maker's blue, as a GIF89a file.
std::vector<uint8_t> logoGif();

}  // namespace palvoro
