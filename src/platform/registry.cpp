#include "platform/registry.h"

#include "platform/atomic_file.h"
#include "platform/text_utils.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace fetchora {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";

std::string_view hiveName(Hive hive)
{
    switch (hive) {
    case Hive::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case Hive::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case Hive::CurrentUser: break;
    }
    return "HKEY_CURRENT_USER";
}

bool isKnownHive(std::string_view path)
{
    for (auto hive : {Hive::CurrentUser, Hive::LocalMachine, Hive::ClassesRoot}) {
        std::string_view name = hiveName(hive);
        if (path.size() >= name.size() && path.substr(0, name.size()) == name
            && (path.size() == name.size() || path[name.size()] == '\\'))
            return true;
    }
    return false;
}

// Strings made of printable bytes are written quoted, as regedit does; text
// holding control bytes is written as hex(1): with its raw bytes so that it
// survives the line-based format unchanged.
bool isPlainText(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
}

void appendHex(std::string& out, std::string_view prefix, const uint8_t* data, size_t size)
{
    out += prefix;
    size_t column = prefix.size();
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
        column += 2;
        if (i + 1 < size) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
}

void appendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
}

// Reads a quoted, backslash-escaped string starting at text[pos] == '"'.
// Returns false when the closing quote is missing.
bool readQuoted(std::string_view text, size_t& pos, std::string& out)
{
    if (pos >= text.size() || text[pos] != '"')
        return false;
    ++pos;
    out.clear();
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == '\\' && pos < text.size()) {
            out += text[pos++];
        } else if (c == '"') {
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

bool parseHexBytes(std::string_view text, std::vector<uint8_t>& out)
{
    out.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == ','))
            ++pos;
        if (pos >= text.size())
            break;
        if (pos + 1 >= text.size())
            return false;
        int high = hexDigitValue(text[pos]);
        int low = hexDigitValue(text[pos + 1]);
        if (high < 0 || low < 0)
            return false;
        out.push_back(static_cast<uint8_t>(high * 16 + low));
        pos += 2;
        if (pos < text.size() && text[pos] != ',' && text[pos] != ' ' && text[pos] != '\t')
            return false;
    }
    return true;
}

bool parseValueData(std::string_view data, RegValue& value)
{
    if (data.starts_with('"')) {
        size_t pos = 0;
        value.type = RegType::String;
        return readQuoted(data, pos, value.text);
    }
    if (data.starts_with("dword:")) {
        std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8)
            return false;
        uint32_t number = 0;
        for (char c : digits) {
            int digit = hexDigitValue(c);
            if (digit < 0)
                return false;
            number = number * 16 + static_cast<uint32_t>(digit);
        }
        value.type = RegType::Dword;
        value.dword = number;
        return true;
    }
    std::string_view kind;
    std::string_view bytesText;
    if (data.starts_with("hex:")) {
        kind = "";
        bytesText = data.substr(4);
    } else if (data.starts_with("hex(")) {
        size_t close = data.find("):");
        if (close == std::string_view::npos)
            return false;
        kind = data.substr(4, close - 4);
        bytesText = data.substr(close + 2);
    } else {
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!parseHexBytes(bytesText, bytes))
        return false;
    if (kind == "4") {
        if (bytes.size() != 4)
            return false;
        value.type = RegType::Dword;
        value.dword = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    } else if (kind == "1") {
        value.type = RegType::String;
        value.text.assign(bytes.begin(), bytes.end());
    } else {
        value.type = RegType::Binary;
        value.bytes = std::move(bytes);
    }
    return true;
}

}  // namespace

Registry::Registry(std::filesystem::path file) : m_file(std::move(file)) {}

std::string Registry::foldCase(std::string_view text)
{
    return asciiLower(text);
}

std::string Registry::keyPath(Hive hive, std::string_view key)
{
    std::string path(hiveName(hive));
    // Tolerate leading, trailing and doubled separators in callers' paths.
    size_t pos = 0;
    while (pos < key.size()) {
        size_t next = key.find('\\', pos);
        if (next == std::string_view::npos)
            next = key.size();
        if (next > pos) {
            path += '\\';
            path += key.substr(pos, next - pos);
        }
        pos = next + 1;
    }
    return path;
}

Registry::Key* Registry::findKey(const std::string& id)
{
    auto it = m_keys.find(id);
    return it == m_keys.end() ? nullptr : &it->second;
}

const Registry::Key* Registry::findKey(const std::string& id) const
{
    auto it = m_keys.find(id);
    return it == m_keys.end() ? nullptr : &it->second;
}

void Registry::apply(const JournalEntry& entry)
{
    switch (entry.op) {
    case JournalEntry::Op::Write: {
        Key& key = m_keys[entry.keyId];
        if (key.path.empty())
            key.path = entry.keyPath;
        std::string folded = foldCase(entry.name);
        auto it = std::find_if(key.values.begin(), key.values.end(),
                               [&](const auto& named) { return foldCase(named.first) == folded; });
        if (it == key.values.end())
            key.values.emplace_back(entry.name, entry.value);
        else
            it->second = entry.value;
        break;
    }
    case JournalEntry::Op::DeleteValue: {
        Key* key = findKey(entry.keyId);
        if (!key)
            break;
        std::string folded = foldCase(entry.name);
        std::erase_if(key->values, [&](const auto& named) { return foldCase(named.first) == folded; });
        break;
    }
    case JournalEntry::Op::CreateKey: {
        Key& key = m_keys[entry.keyId];
        if (key.path.empty())
            key.path = entry.keyPath;
        break;
    }
    case JournalEntry::Op::DeleteKeyIfEmpty: {
        auto it = m_keys.find(entry.keyId);
        if (it != m_keys.end() && it->second.values.empty())
            m_keys.erase(it);
        break;
    }
    case JournalEntry::Op::DeleteTree: {
        std::string childPrefix = entry.keyId + '\\';
        std::erase_if(m_keys, [&](const auto& item) {
            return item.first == entry.keyId || item.first.starts_with(childPrefix);
        });
        break;
    }
    }
}

std::optional<RegValue> Registry::read(Hive hive, std::string_view key, std::string_view name) const
{
    const Key* found = findKey(foldCase(keyPath(hive, key)));
    if (!found)
        return std::nullopt;
    std::string folded = foldCase(name);
    for (const auto& [valueName, value] : found->values) {
        if (foldCase(valueName) == folded)
            return value;
    }
    return std::nullopt;
}

std::optional<uint32_t> Registry::readDword(Hive hive, std::string_view key, std::string_view name) const
{
    auto value = read(hive, key, name);
    if (!value || value->type != RegType::Dword)
        return std::nullopt;
    return value->dword;
}

std::optional<std::string> Registry::readString(Hive hive, std::string_view key, std::string_view name) const
{
    auto value = read(hive, key, name);
    if (!value || value->type != RegType::String)
        return std::nullopt;
    return value->text;
}

std::optional<std::vector<uint8_t>> Registry::readBinary(Hive hive, std::string_view key, std::string_view name) const
{
    auto value = read(hive, key, name);
    if (!value || value->type != RegType::Binary)
        return std::nullopt;
    return value->bytes;
}

void Registry::write(Hive hive, std::string_view key, std::string_view name, RegValue value)
{
    std::string path = keyPath(hive, key);
    apply({JournalEntry::Op::Write, foldCase(path), path, std::string(name), std::move(value)});
}

void Registry::writeDword(Hive hive, std::string_view key, std::string_view name, uint32_t value)
{
    RegValue data;
    data.type = RegType::Dword;
    data.dword = value;
    write(hive, key, name, std::move(data));
}

void Registry::writeString(Hive hive, std::string_view key, std::string_view name, std::string_view value)
{
    RegValue data;
    data.type = RegType::String;
    data.text = value;
    write(hive, key, name, std::move(data));
}

void Registry::writeBinary(Hive hive, std::string_view key, std::string_view name, const std::vector<uint8_t>& value)
{
    RegValue data;
    data.type = RegType::Binary;
    data.bytes = value;
    write(hive, key, name, std::move(data));
}

bool Registry::deleteValue(Hive hive, std::string_view key, std::string_view name)
{
    if (!read(hive, key, name))
        return false;
    std::string path = keyPath(hive, key);
    apply({JournalEntry::Op::DeleteValue, foldCase(path), path, std::string(name), {}});
    return true;
}

bool Registry::deleteKeyTree(Hive hive, std::string_view key)
{
    std::string path = keyPath(hive, key);
    if (!keyExists(hive, key))
        return false;
    apply({JournalEntry::Op::DeleteTree, foldCase(path), path, {}, {}});
    return true;
}

bool Registry::keyExists(Hive hive, std::string_view key) const
{
    std::string id = foldCase(keyPath(hive, key));
    auto it = m_keys.lower_bound(id);
    if (it == m_keys.end())
        return false;
    return it->first == id || it->first.starts_with(id + '\\');
}

std::vector<std::string> Registry::subkeyNames(Hive hive, std::string_view key) const
{
    std::string id = foldCase(keyPath(hive, key)) + '\\';
    std::vector<std::string> names;
    std::vector<std::string> seen;
    for (auto it = m_keys.lower_bound(id); it != m_keys.end() && it->first.starts_with(id); ++it) {
        std::string_view rest = std::string_view(it->second.path).substr(id.size());
        std::string child(rest.substr(0, rest.find('\\')));
        std::string folded = foldCase(child);
        if (std::find(seen.begin(), seen.end(), folded) == seen.end()) {
            seen.push_back(folded);
            names.push_back(child);
        }
    }
    return names;
}

std::vector<std::string> Registry::valueNames(Hive hive, std::string_view key) const
{
    std::vector<std::string> names;
    if (const Key* found = findKey(foldCase(keyPath(hive, key)))) {
        for (const auto& named : found->values)
            names.push_back(named.first);
    }
    return names;
}

std::string Registry::toText() const
{
    std::string out(kHeader);
    out += "\n";
    for (const auto& [id, key] : m_keys) {
        out += "\n[";
        out += key.path;
        out += "]\n";
        for (const auto& [name, value] : key.values) {
            if (name.empty())
                out += '@';
            else
                appendQuoted(out, name);
            out += '=';
            switch (value.type) {
            case RegType::Dword: {
                char digits[16];
                std::snprintf(digits, sizeof digits, "dword:%08x", value.dword);
                out += digits;
                break;
            }
            case RegType::String:
                if (isPlainText(value.text))
                    appendQuoted(out, value.text);
                else
                    appendHex(out, "hex(1):", reinterpret_cast<const uint8_t*>(value.text.data()), value.text.size());
                break;
            case RegType::Binary:
                appendHex(out, "hex:", value.bytes.data(), value.bytes.size());
                break;
            }
            out += '\n';
        }
    }
    return out;
}

void Registry::parseInto(std::string_view text)
{
    std::string currentId;
    std::string currentPath;
    bool inKey = false;
    size_t pos = 0;
    bool firstLine = true;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string line(trimRight(text.substr(pos, end - pos), " \t\r"));
        pos = end + 1;
        // Hex data may continue over lines ending in a backslash.
        while (!line.empty() && line.back() == '\\' && pos < text.size()) {
            line.pop_back();
            end = text.find('\n', pos);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view next = trimRight(text.substr(pos, end - pos), " \t\r");
            while (!next.empty() && (next.front() == ' ' || next.front() == '\t'))
                next.remove_prefix(1);
            line += next;
            pos = end + 1;
        }
        if (firstLine) {
            firstLine = false;
            if (line.starts_with("\xEF\xBB\xBF"))
                line.erase(0, 3);
            if (line == kHeader || line == kOldHeader)
                continue;
        }
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            inKey = false;
            if (line.back() != ']' || line.size() < 3)
                continue;
            std::string_view path = std::string_view(line).substr(1, line.size() - 2);
            bool remove = path.starts_with('-');
            if (remove)
                path.remove_prefix(1);
            if (!isKnownHive(path))
                continue;
            currentPath = path;
            currentId = foldCase(path);
            if (remove) {
                apply({JournalEntry::Op::DeleteTree, currentId, currentPath, {}, {}});
                continue;
            }
            Key& key = m_keys[currentId];
            if (key.path.empty())
                key.path = currentPath;
            inKey = true;
            continue;
        }
        if (!inKey)
            continue;
        std::string name;
        size_t cursor = 0;
        if (line.front() == '@') {
            cursor = 1;
        } else if (!readQuoted(line, cursor, name)) {
            continue;
        }
        if (cursor >= line.size() || line[cursor] != '=')
            continue;
        std::string_view data = std::string_view(line).substr(cursor + 1);
        if (data == "-") {
            apply({JournalEntry::Op::DeleteValue, currentId, currentPath, name, {}});
            continue;
        }
        RegValue value;
        if (!parseValueData(data, value))
            continue;
        apply({JournalEntry::Op::Write, currentId, currentPath, name, std::move(value)});
    }
}

Registry Registry::fromText(std::string_view text)
{
    Registry registry;
    registry.parseInto(text);
    return registry;
}

bool Registry::load()
{
    m_keys.clear();
    m_baseline.clear();
    if (m_file.empty())
        return true;
    std::error_code error;
    auto status = std::filesystem::status(m_file, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return true;
    if (error || status.type() != std::filesystem::file_type::regular)
        return false;
    std::ifstream in(m_file, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return false;
    parseInto(content.str());
    m_baseline = m_keys;
    return true;
}

namespace {

const RegValue* findValue(const std::vector<std::pair<std::string, RegValue>>& values, std::string_view folded)
{
    for (const auto& [name, value] : values) {
        if (name.size() == folded.size() && std::equal(name.begin(), name.end(), folded.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
            }))
            return &value;
    }
    return nullptr;
}

bool sameValue(const RegValue& a, const RegValue& b)
{
    if (a.type != b.type)
        return false;
    switch (a.type) {
    case RegType::Dword: return a.dword == b.dword;
    case RegType::String: return a.text == b.text;
    case RegType::Binary: return a.bytes == b.bytes;
    }
    return false;
}

}  // namespace

std::vector<Registry::JournalEntry> Registry::changesSinceBaseline() const
{
    using Op = JournalEntry::Op;
    std::vector<JournalEntry> changes;
    // Removals first, so that a key deleted and written again ends up with
    // exactly the values written.
    for (const auto& [id, before] : m_baseline) {
        const Key* now = findKey(id);
        for (const auto& named : before.values) {
            if (!now || !findValue(now->values, foldCase(named.first)))
                changes.push_back({Op::DeleteValue, id, before.path, named.first, {}});
        }
        if (!now)
            changes.push_back({Op::DeleteKeyIfEmpty, id, before.path, {}, {}});
    }
    for (const auto& [id, key] : m_keys) {
        auto old = m_baseline.find(id);
        const Key* before = old == m_baseline.end() ? nullptr : &old->second;
        if (!before && key.values.empty())
            changes.push_back({Op::CreateKey, id, key.path, {}, {}});
        for (const auto& [name, value] : key.values) {
            const RegValue* was = before ? findValue(before->values, foldCase(name)) : nullptr;
            if (!was || !sameValue(*was, value))
                changes.push_back({Op::Write, id, key.path, name, value});
        }
    }
    return changes;
}

namespace {

// The system's calls for a replacement, less the syncs of the data and of
// the folder.
class UnsyncedWrites final : public AtomicWriteCalls {
public:
    int makeTemporary(std::string& pattern) override { return m_system.makeTemporary(pattern); }
    bool writeAll(int fd, std::string_view bytes) override { return m_system.writeAll(fd, bytes); }
    bool sync(int) override { return true; }
    void keepMode(int fd, const std::filesystem::path& target) override { m_system.keepMode(fd, target); }
    bool close(int fd) override { return m_system.close(fd); }
    bool rename(const std::string& from, const std::string& to) override { return m_system.rename(from, to); }
    void unlink(const std::string& path) override { m_system.unlink(path); }
    void syncFolder(const std::filesystem::path&) override { }

private:
    AtomicWriteCalls& m_system = systemAtomicWriteCalls();
};

}  // namespace

bool Registry::flush()
{
    if (m_file.empty())
        return true;
    const std::vector<JournalEntry> changes = changesSinceBaseline();
    if (changes.empty())
        return true;
    FileLock lock(lockPathFor(m_file));
    if (!lock.locked())
        return false;

    // Replay our changes over whatever is on disk now, so that values another
    // process (or the user, with an editor) wrote since our load survive
    // unless we changed the same value ourselves.
    // A store that holds nothing from a file (none was loaded, this store
    // wrote none) and finds none now makes its first file: a new profile's
    // settings, the defaults and what they derive from. Lost to a power cut
    // (the file missing, empty or cut short), the next start loads defaults
    // and writes them again, so that first file goes without the two syncs,
    // about 50 ms of a start on a busy disk. A kill still leaves it whole;
    // every later flush is synced.
    std::error_code error;
    const bool firstCopy = m_baseline.empty()
        && std::filesystem::symlink_status(m_file, error).type() == std::filesystem::file_type::not_found;
    Registry merged(m_file);
    if (!merged.load())
        return false;
    for (const JournalEntry& entry : changes)
        merged.apply(entry);
    removeStaleTemporaries(m_file);
    UnsyncedWrites unsynced;
    AtomicWriteCalls& calls = firstCopy ? static_cast<AtomicWriteCalls&>(unsynced) : systemAtomicWriteCalls();
    if (!writeFileAtomically(m_file, merged.toText(), calls))
        return false;
    m_keys = std::move(merged.m_keys);
    m_baseline = m_keys;
    return true;
}

}  // namespace fetchora
