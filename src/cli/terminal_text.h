#pragma once
// Text from servers (file names, log lines, error texts) made safe for a
// terminal: a server must not be able to move the cursor, retitle the
// window or clear the screen by what it names a file.
//
// Thread: any; pure functions.
#include <cstddef>
#include <string>
#include <string_view>

namespace fetchora {

// The text with every C0 control byte and DEL written as "\xHH", every C1
// control (U+0080 to U+009F) as "\uHHHH", and every byte that is not part
// of valid UTF-8 as "\xHH"; everything else unchanged.
std::string terminalSafe(std::string_view text);

// The longest prefix of text, at most maxBytes long, that does not end
// inside a UTF-8 sequence.
std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);

// The number of characters of UTF-8 text (bytes that do not continue a
// sequence), the columns it takes for the scripts a translation uses.
std::size_t utf8Length(std::string_view text);

}  // namespace fetchora
