#pragma once
// A stored message is always one line: each carriage return becomes the marker "®" and each line
// feed the marker "¶" (UTF-8, the machine's code page), so breaks stay visible without ever
// splitting a record line in two. The message store applies this to every message it keeps, and
// every record line is written with it (FormatRecordLine), whatever its fields hold.

#include <string>
#include <string_view>

namespace qv {

inline constexpr std::string_view kCarriageReturnMarker = "\xC2\xAE";  // ®
inline constexpr std::string_view kLineFeedMarker = "\xC2\xB6";        // ¶

// Replaces every CR and LF of `text` by its marker.
void ReplaceLineBreaks(std::string& text);

// Appends `text` to `out` with every CR and LF replaced by its marker.
void AppendWithLineBreakMarkers(std::string& out, std::string_view text);

}  // namespace qv
