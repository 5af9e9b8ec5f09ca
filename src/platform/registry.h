#pragma once
// A small hierarchical settings store standing in for the Windows registry.
//
// Keys are paths with "\" separators below one of three hives; values are
// DWORDs, strings or binary blobs. Key and value names compare without regard
// to ASCII case, as the program expects, and keep the spelling they were
// first written with.
//
// The whole store lives in memory. `flush()` persists it as a text file in
// the regedit export format ("Windows Registry Editor Version 5.00"). A flush
// writes only what differs from the store as last loaded or flushed: it takes
// an exclusive file lock, re-reads the file, replays those differences on top
// of what another process (or the user, with an editor) may have written
// meanwhile, and replaces the file atomically (temporary file, fsync, rename).
// Writing a value that equals the one held is therefore no change, so a save
// of every setting never puts back values edited outside the program. A crash
// at any moment leaves either the old or the new file whole (except a new
// profile's first file, written without syncs: a power cut may leave it short,
// which loads as defaults), and two processes flushing at once never lose each
// other's values.
//
// Thread: not thread-safe; the owner serialises access (the program touches
// settings on its loop thread only).
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

enum class Hive { CurrentUser, LocalMachine, ClassesRoot };

enum class RegType { Dword, String, Binary };

struct RegValue {
    RegType type = RegType::String;
    uint32_t dword = 0;
    std::string text;            // String: the bytes as stored
    std::vector<uint8_t> bytes;  // Binary
};

class Registry {
public:
    // An empty path gives a memory-only store (tests, failed start-ups).
    explicit Registry(std::filesystem::path file = {});

    // Reads the backing file, replacing the memory contents and dropping the
    // journal. A missing file is an empty store; lines that cannot be parsed
    // are skipped. Returns false only when the file exists but cannot be read.
    bool load();

    // Persists the changes since the last load or flush as described above. Returns true when there was
    // nothing to do or the file was replaced. A memory-only store always
    // succeeds.
    bool flush();

    const std::filesystem::path& file() const { return m_file; }

    std::optional<RegValue> read(Hive hive, std::string_view key, std::string_view name) const;
    // Typed reads give nothing when the value is absent or of another type.
    std::optional<uint32_t> readDword(Hive hive, std::string_view key, std::string_view name) const;
    std::optional<std::string> readString(Hive hive, std::string_view key, std::string_view name) const;
    std::optional<std::vector<uint8_t>> readBinary(Hive hive, std::string_view key, std::string_view name) const;

    void writeDword(Hive hive, std::string_view key, std::string_view name, uint32_t value);
    void writeString(Hive hive, std::string_view key, std::string_view name, std::string_view value);
    void writeBinary(Hive hive, std::string_view key, std::string_view name, const std::vector<uint8_t>& value);

    // Both return false when there was nothing to delete.
    bool deleteValue(Hive hive, std::string_view key, std::string_view name);
    bool deleteKeyTree(Hive hive, std::string_view key);

    bool keyExists(Hive hive, std::string_view key) const;
    // Names of the direct subkeys and of the values of a key, in stored order.
    std::vector<std::string> subkeyNames(Hive hive, std::string_view key) const;
    std::vector<std::string> valueNames(Hive hive, std::string_view key) const;

    // The regedit-format text of the whole store, and its parser (exposed for
    // tests and for import/export).
    std::string toText() const;
    static Registry fromText(std::string_view text);

private:
    struct Key {
        std::string path;  // full path including the hive name, as first spelled
        std::vector<std::pair<std::string, RegValue>> values;
    };
    struct JournalEntry {
        enum class Op { Write, DeleteValue, DeleteTree, CreateKey, DeleteKeyIfEmpty } op;
        std::string keyId;
        std::string keyPath;
        std::string name;
        RegValue value;
    };

    void write(Hive hive, std::string_view key, std::string_view name, RegValue value);
    static std::string keyPath(Hive hive, std::string_view key);
    static std::string foldCase(std::string_view text);
    void apply(const JournalEntry& entry);
    std::vector<JournalEntry> changesSinceBaseline() const;
    void parseInto(std::string_view text);
    Key* findKey(const std::string& id);
    const Key* findKey(const std::string& id) const;

    std::filesystem::path m_file;
    // Keyed by the case-folded full path; the map order gives parents before
    // children in the saved file.
    std::map<std::string, Key> m_keys;
    // The keys as last loaded or flushed: what a flush compares with.
    std::map<std::string, Key> m_baseline;
};

// The key below HKEY_CURRENT_USER where the program keeps its settings.
inline constexpr std::string_view kSettingsRoot = "Software\\Korvex\\Korvex";

}  // namespace fetchora
