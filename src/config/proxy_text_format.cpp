#include "config/proxy_text_format.h"

#include "config/proxy_list.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace fetchora {

namespace {

bool hasControlBytes(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// Plain decimal digits only: "80abc", "+80" or " 80" are not ports, and a
// value past 65535 is refused rather than wrapped into another port.
std::optional<uint16_t> parsePort(std::string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 0xFFFF)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

// Finds the protocol word of the tag and sets the type; returns the text after
// what the tag consumed, or none when no word is found. The words are looked
// for only in the tag itself (up to the ":" before the user name), so that a
// user name or password that happens to hold "HTTP" cannot change the type.
std::optional<std::string_view> readTag(std::string_view rest, uint16_t& type)
{
    const std::string_view tag = rest.substr(0, rest.find(':'));
    size_t at = tag.find("HTTP");
    if (at != std::string_view::npos) {
        std::string_view after = rest.substr(at + 4);
        if (!after.empty() && after.front() == '1') {
            type = kProxyHttpConnect;
            after.remove_prefix(1);
        } else {
            type = kProxyHttpGet;
        }
        return after;
    }
    at = tag.find("FTP");
    if (at != std::string_view::npos) {
        std::string_view after = rest.substr(at + 3);
        static constexpr std::array<uint16_t, 4> kNumbered
            = {kProxyFtpOpen, kProxyFtpUserSpace, kProxyFtpSite, kProxyFtpSiteUser};
        if (!after.empty() && after.front() >= '1' && after.front() <= '4') {
            type = kNumbered[static_cast<size_t>(after.front() - '1')];
            after.remove_prefix(1);
        } else {
            type = kProxyFtpUserColon;
        }
        return after;
    }
    at = tag.find("SOCKS");
    if (at != std::string_view::npos) {
        std::string_view after = rest.substr(at + 5);
        type = (!after.empty() && after.front() == '4') ? kProxySocks4 : kProxySocks5;
        if (!after.empty())
            after.remove_prefix(1);
        return after;
    }
    return std::nullopt;
}

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

}  // namespace

std::string_view proxyExportTag(uint16_t type)
{
    switch (type) {
    case kProxyFtpOpen: return "@FTP1";
    case kProxyFtpUserColon: return "@FTP";
    case kProxyHttpGet: return "@HTTP";
    case kProxyFtpUserSpace: return "@FTP2";
    case kProxyFtpSite: return "@FTP3";
    case kProxyFtpSiteUser: return "@FTP4";
    case kProxySocks5: return "@SOCKS5";
    case kProxyHttpConnect: return "@HTTP1";
    case kProxySocks4: return "@SOCKS4";
    default: return {};
    }
}

std::string formatProxyText(const ProxyList& proxies)
{
    std::string text;
    if (proxies.ProxyCount() < 2)
        return text;
    for (size_t i = 0; i < proxies.ProxyCount(); ++i) {
        const ProxyEntry& entry = *proxies.ProxyAt(i);
        const std::string_view tag = proxyExportTag(entry.type);
        if (tag.empty())
            continue;
        text += entry.server;
        text += ':';
        text += std::to_string(entry.port);
        text += tag;
        if (entry.flags & kProxyAuthenticate) {
            text += ':';
            text += entry.userName;
            text += ':';
            text += entry.password;
        }
        text += "\r\n";
    }
    return text;
}

std::optional<ProxyEntry> parseProxyLine(std::string_view line)
{
    if (line.empty() || hasControlBytes(line))
        return std::nullopt;

    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    ProxyEntry entry;
    entry.server = std::string(line.substr(0, colon));
    std::string_view rest = line.substr(colon + 1);

    const size_t at = rest.find('@');
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::optional<uint16_t> port = parsePort(rest.substr(0, at));
    if (!port)
        return std::nullopt;
    entry.port = *port;
    rest.remove_prefix(at + 1);

    const std::optional<std::string_view> after = readTag(rest, entry.type);
    if (!after)
        return std::nullopt;
    std::string_view remainder = *after;

    entry.flags = kProxyPassive | kProxyNoCache;
    if (!remainder.empty() && remainder.front() == ':') {
        remainder.remove_prefix(1);
        const size_t split = remainder.find(':');
        if (split != std::string_view::npos && split > 0) {
            entry.userName = std::string(remainder.substr(0, split));
            entry.password = std::string(remainder.substr(split + 1));
            entry.flags |= kProxyAuthenticate;
        }
    }
    return entry;
}

std::vector<ProxyEntry> parseProxyText(std::string_view text)
{
    std::vector<ProxyEntry> entries;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (auto entry = parseProxyLine(line))
            entries.push_back(std::move(*entry));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return entries;
}

ProxyFileResult exportProxyFile(const ProxyList& proxies, const std::filesystem::path& file)
{
    if (proxies.ProxyCount() < 2)
        return ProxyFileResult::NothingToWrite;
    const std::string text = formatProxyText(proxies);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return ProxyFileResult::CannotOpen;
    const bool written = writeAll(fd, text);
    const bool closed = ::close(fd) == 0;
    return (written && closed) ? ProxyFileResult::Ok : ProxyFileResult::CannotWrite;
}

ProxyFileResult importProxyFile(ProxyList& proxies, const std::filesystem::path& file, std::vector<size_t>* added)
{
    std::error_code error;
    if (std::filesystem::is_directory(file, error))
        return ProxyFileResult::CannotOpen;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return ProxyFileResult::CannotOpen;
    // Read in chunks and stop one byte past the limit, so that a huge file or
    // an endless device is refused without being read whole.
    std::string text;
    std::array<char, 65536> chunk;
    while (text.size() <= kMaxProxyFileSize) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        text.append(chunk.data(), static_cast<size_t>(in.gcount()));
        if (!in)
            break;
    }
    if (in.bad())
        return ProxyFileResult::CannotOpen;
    if (text.size() > kMaxProxyFileSize)
        return ProxyFileResult::TooLarge;

    for (const ProxyEntry& entry : parseProxyText(text)) {
        if (proxies.AddProxy(entry, true) && added)
            added->push_back(proxies.ProxyCount() - 1);
    }
    return ProxyFileResult::Ok;
}

}  // namespace fetchora
