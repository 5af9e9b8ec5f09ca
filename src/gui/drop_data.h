#pragma once
// What a drop (or a paste of rich data) hands the main view: the links of
// dragged HTML, wrapped as the "HTML Format" block the view reads, or one
// plain text. Data that is not text (an image, a file's bytes labelled as
// text) is refused, and text is capped, so a stray drop never makes the view
// parse megabytes of junk.
//
// Thread: the GUI thread (QMimeData); the block builder is pure.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class QMimeData;

namespace fetchora {

inline constexpr std::size_t kMaxDropTextBytes = 10 * 1024 * 1024;

// "Version:1.0", "StartHTML:", "EndHTML:" (byte offsets into the block) and,
// when sourceUrl is not empty, "SourceURL:" (cut at a line break, so that it
// cannot add header fields), then the HTML itself.
std::string HtmlFormatBlock(std::string_view html, std::string_view sourceUrl);

struct DropPayload {
    enum class Kind { Text, HtmlFormat };
    Kind kind = Kind::Text;
    std::string data;  // the text, or the whole "HTML Format" block
};

// HTML wins over plain text when both are offered (it carries every link of
// the selection); "text/x-moz-url" gives the source URL when present. None
// when the data holds neither, or only text that is not text.
std::optional<DropPayload> ReadDrop(const QMimeData& mime);

// Whether bytes look like text: valid UTF-8 without NUL or other control
// characters besides tab, line feed and carriage return.
bool LooksLikeText(std::string_view bytes);

}  // namespace fetchora
