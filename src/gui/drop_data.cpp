#include "gui/drop_data.h"

#include "gui/html_drop.h"

#include <QMimeData>
#include <QString>
#include <QStringDecoder>
#include <QUrl>

#include <cstdio>

namespace fetchora {

namespace {

std::string cappedBytes(const QByteArray& bytes)
{
    const auto size = std::min<std::size_t>(static_cast<std::size_t>(bytes.size()), kMaxDropTextBytes);
    return std::string(bytes.constData(), size);
}

// The first line of "text/x-moz-url" (URL, line feed, title), which browsers
// send in UTF-16.
std::string mozSourceUrl(const QMimeData& mime)
{
    const QByteArray raw = mime.data(QStringLiteral("text/x-moz-url"));
    if (raw.isEmpty())
        return {};
    QString text;
    if (raw.size() >= 2 && raw.size() % 2 == 0 && raw.contains('\0'))
        text = QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), raw.size() / 2);
    else
        text = QString::fromUtf8(raw);
    const QString url = text.section(u'\n', 0, 0).trimmed();
    std::string bytes = url.toStdString();
    // A source URL is one header line.
    if (bytes.size() > 4096 || bytes.find_first_of("\r\n") != std::string::npos)
        return {};
    return bytes;
}

}  // namespace

std::string HtmlFormatBlock(std::string_view html, std::string_view sourceUrl)
{
    // One wrapper for every drop target.
    return HtmlFormatFromHtml(html, sourceUrl);
}

bool LooksLikeText(std::string_view bytes)
{
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r')
            return false;
        if (u == 0x7f)
            return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    (void)QString(decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size()))));
    return !decoder.hasError();
}

std::optional<DropPayload> ReadDrop(const QMimeData& mime)
{
    if (mime.hasHtml()) {
        std::string html = cappedBytes(mime.html().toUtf8());
        if (!html.empty() && LooksLikeText(html))
            return DropPayload{DropPayload::Kind::HtmlFormat, HtmlFormatBlock(html, mozSourceUrl(mime))};
    }
    if (mime.hasText()) {
        const QByteArray raw = mime.data(QStringLiteral("text/plain"));
        std::string text = raw.isEmpty() ? cappedBytes(mime.text().toUtf8()) : cappedBytes(raw);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        if (!text.empty() && LooksLikeText(text))
            return DropPayload{DropPayload::Kind::Text, std::move(text)};
    }
    if (mime.hasUrls() && mime.urls().size() == 1) {
        std::string url = mime.urls().front().toString().toStdString();
        if (!url.empty() && url.size() < kMaxDropTextBytes && LooksLikeText(url))
            return DropPayload{DropPayload::Kind::Text, std::move(url)};
    }
    return std::nullopt;
}

}  // namespace fetchora
