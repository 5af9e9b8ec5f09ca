#pragma once
// Text in stored files is kept as the bytes it was stored with. New text is
// UTF-8; databases from the Windows program hold Windows-1252. What is shown
// is decoded as UTF-8 when the bytes are valid UTF-8, else as Windows-1252.
#include <string>
#include <string_view>

namespace fetchora {

bool isValidUtf8(std::string_view bytes);

// The bytes as UTF-8 text for display.
std::string displayText(std::string_view bytes);

}  // namespace fetchora
