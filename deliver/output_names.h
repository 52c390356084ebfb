#pragma once
// Turning store names into file names, and writing files without ever leaving the output
// folder or replacing what is already there.
#include <cstddef>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace edb::conv {

class OutputFile;

// Longest sanitised name component, in UTF-8 bytes; leaves room for " (n)" and an extension
// within the usual 255-byte limit of a file name.
constexpr std::size_t kMaxNameBytes = 120;

// A path from UTF-8 text. Names are UTF-8 throughout the program, but a path made from a plain
// std::string reads it in the system's narrow encoding, which on Windows is not UTF-8.
[[nodiscard]] inline std::filesystem::path Utf8Path(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

// `p` relative to `root` as UTF-8 with '/' between names: how the log and the manifest name
// output files on every system.
[[nodiscard]] std::string RelativeName(const std::filesystem::path& root,
                                       const std::filesystem::path& p);

// One safe file-name component from a store name: no path separators or characters that
// Windows refuses, no control or bidirectional-override characters, no "." or "..", no leading
// dot, no trailing dots or spaces, no reserved device name (CON, NUL, COM1 ...), at most
// kMaxNameBytes bytes cut on a character boundary. Empty results become `fallback`.
[[nodiscard]] std::string SanitizeName(std::string_view name, std::string_view fallback = "_");

// True for CON, PRN, AUX, NUL, COM0-9, LPT0-9 (any case, with or without an extension).
[[nodiscard]] bool IsReservedDeviceName(std::string_view name);

// Hands out names that differ from every name handed out before in this directory, ignoring
// ASCII case: "a.eml", "a (2).eml", ...
class UniqueNamer {
public:
    [[nodiscard]] std::string next(std::string_view stem, std::string_view ext);
    // Takes `name` (stem and extension) out of use: our own files in a folder.
    void reserve(std::string_view name);

private:
    std::unordered_map<std::string, unsigned> m_next;
};

// A directory `name` (sanitised) under `parent`: an existing real directory is reused; a file
// or a symbolic link of that name is never entered, a new name is taken instead. Throws
// std::filesystem::filesystem_error when it cannot be made.
[[nodiscard]] std::filesystem::path MakeChildDirectory(const std::filesystem::path& parent,
                                                       std::string_view name, UniqueNamer& namer);

// The directory name each store folder gets among its siblings, decided over every folder of
// the store in one order: a run of some folders then names them as a run of all does, also
// where sibling names differ only in case ("reports", "REPORTS (2)") and so take turns.
class FolderNamePlan {
public:
    // `parent` identifies the folder above (any key, the same for all its children).
    void add(const std::string& parent, const std::string& storeName);
    // The directory for `storeName` under `parent` in `dir` (its directory): the planned name
    // (reused when a directory, made when missing), else the next free one. Folders not planned
    // are named by `namer` as MakeChildDirectory names them.
    [[nodiscard]] std::filesystem::path makeDirectory(const std::filesystem::path& dir,
                                                      const std::string& parent,
                                                      const std::string& storeName,
                                                      UniqueNamer& namer);

private:
    std::unordered_map<std::string, UniqueNamer> m_namers;          // by parent
    std::unordered_map<std::string, std::vector<std::string>> m_names; // by parent, as planned
    std::unordered_map<std::string, std::string> m_planned; // parent + '\1' + store name -> name
    std::unordered_map<std::string, bool> m_reserved;       // parents whose names the namer holds
};

// Writes `bytes` as a new file in `dir` named by `namer` from `stem` and `ext` (stem already
// sanitised): first to a temporary name, then moved to its final name without replacing an
// existing file (the next unique name is taken instead; those passed over go to `passedOver`
// when given). Returns the final path; throws std::filesystem::filesystem_error on failure,
// leaving no partial file behind.
[[nodiscard]] std::filesystem::path
WriteNewFile(const std::filesystem::path& dir, std::string_view stem, std::string_view ext,
             std::string_view bytes, UniqueNamer& namer,
             std::vector<std::filesystem::path>* passedOver = nullptr);
// Gives the written `file` in `dir` the name `name` that `namer` handed out for `stem` and
// `ext`, or the next free one (those passed over go to `passedOver` when given). Returns the
// final path; throws as WriteNewFile does.
[[nodiscard]] std::filesystem::path
NameNewFile(OutputFile& file, const std::filesystem::path& dir, std::string name,
            std::string_view stem, std::string_view ext, UniqueNamer& namer,
            std::vector<std::filesystem::path>* passedOver = nullptr);

// The directories directly in the output folder: one per mailbox, made on first use with a name
// no other mailbox has taken, and "Unattached folders" for the folders that reach none. Our own
// names there (the export log, "Unattached folders") are never given to a mailbox.
class TopDirectories {
public:
    explicit TopDirectories(std::filesystem::path root);
    [[nodiscard]] std::filesystem::path of(const std::string& mailbox, bool unattached);

private:
    std::filesystem::path m_root;
    UniqueNamer m_namer;
    UniqueNamer m_unattachedNamer;
    std::map<std::string, std::filesystem::path> m_dirs;
    std::optional<std::filesystem::path> m_unattached;
};

// The messages an earlier export left in a folder, by what identifies them (MessageKey), each
// with where it is. A rerun takes one per message it would write and writes only the rest.
class PresentMessages {
public:
    void add(const std::string& key, std::string location);
    // One message of `key` not taken before: where it is; nothing when none is left.
    [[nodiscard]] std::optional<std::string> take(const std::string& key);

private:
    std::unordered_map<std::string, std::deque<std::string>> m_byKey;
};

// True when `path` lies inside `root` once both are made absolute and normalised lexically.
[[nodiscard]] bool IsInside(const std::filesystem::path& root, const std::filesystem::path& path);

} // namespace edb::conv
