#pragma once
// The cookie store the HTTP requests draw on: a cookie jar file in the
// profile folder, in the Netscape "cookies.txt" format that browsers export
// and other downloaders read (tab-separated domain, subdomain flag, path,
// secure flag, expiry, name, value; "#HttpOnly_" before the domain marks an
// HTTP-only cookie).
//
// The file is read when first needed and again whenever it has changed on
// disk, so a jar exported from a browser while the program runs is used by
// the next request.
//
// Thread: any. Owned by the application and shared by every transfer
// worker; one internal mutex guards the cookies and the file's signature.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

struct UrlEntry;

inline constexpr std::string_view kCookieJarFileName = "cookies.txt";

struct Cookie {
    std::string domain;  // without the leading dot
    bool includeSubdomains = false;
    std::string path = "/";
    bool secure = false;  // sent over HTTPS only
    int64_t expires = 0;  // seconds since 1970; 0: a session cookie
    std::string name;
    std::string value;
    bool httpOnly = false;

    bool operator==(const Cookie&) const = default;
};

// One line of a jar file; nothing for comments, blank lines and lines that
// do not have the seven fields.
std::optional<Cookie> ParseCookieLine(std::string_view line);
std::string FormatCookieLine(const Cookie& cookie);

// Whether the cookie goes with a request for that URL at time now.
bool CookieMatches(const Cookie& cookie, const UrlEntry& url, int64_t now);

class CookieJar {
public:
    // file: the jar; it need not exist yet.
    explicit CookieJar(std::filesystem::path file);
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;

    // "<profile folder>/cookies.txt".
    static std::filesystem::path fileIn(const std::filesystem::path& profileFolder);

    // The "Cookie:" header value for a request ("a=1; b=2", longest path
    // first); empty when no cookie matches.
    std::string cookieHeaderFor(const UrlEntry& url) const;
    std::string cookieHeaderFor(const UrlEntry& url, int64_t now) const;

    // Adds a cookie, replacing one with the same domain, path and name.
    void add(const Cookie& cookie);
    std::vector<Cookie> cookies() const;

    // Writes the jar (crash-safe). False when the file cannot be written.
    bool save() const;

    const std::filesystem::path& file() const { return m_file; }

private:
    struct Signature {
        std::filesystem::file_time_type time{};
        std::uintmax_t size = 0;
        bool operator==(const Signature&) const = default;
    };

    void reloadIfChangedLocked() const;

    std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    mutable std::vector<Cookie> m_cookies;
    mutable std::optional<Signature> m_loaded;  // of the file last read; none: never read or absent
    mutable bool m_changedHere = false;  // added to since the last read or save
};

}  // namespace fetchora
