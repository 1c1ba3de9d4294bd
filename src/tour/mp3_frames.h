#pragma once

#include <string_view>

namespace loomdeck {

// Whether the bytes are a whole MP3: an optional ID3v2 tag, then MPEG audio frames, each header
// naming the next one's start, up to exactly the end of the bytes or of a closing 128-byte ID3v1
// tag. A file cut mid-frame (a tool stopped while writing, a full disk) is not whole, nor is one
// without a single frame.
bool whole_mp3(std::string_view bytes);

}  // namespace loomdeck
