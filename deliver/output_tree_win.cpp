// Output directories on Windows. Calls take paths, so before a file is made or named in a
// directory, every folder from the output folder down to it is opened with
// FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS and checked: a real directory (no
// reparse point: no symbolic link, no junction), the one first seen there (volume serial and
// file index). The handles are held without FILE_SHARE_DELETE while the call runs, so no folder
// on the way can be moved, removed or replaced between the check and the use. NTFS journals its
// names, so the names need no flush of their own; files are flushed before they are named.
#include "deliver/output_tree.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>
#include <windows.h>

namespace edb::conv {
namespace fs = std::filesystem;

namespace tree {

struct Identity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const Identity&) const = default;
};

struct Root {
    fs::path path;
    fs::path absolute;
    bool sync = true;
    std::mutex mutex;
    std::map<std::string, Identity> seen; // every directory met, by relative path ("" the top)
};

struct Dir {
    fs::path path;
    std::vector<std::string> names; // from the output folder down
    bool sync = true;
    std::shared_ptr<Root> root; // none outside every output folder
};

namespace {

std::mutex g_rootsMutex;
std::vector<std::weak_ptr<Root>> g_roots;

[[noreturn]] void fail(const char* what, const fs::path& p, int err) {
    throw fs::filesystem_error(what, p, std::error_code(err, std::generic_category()));
}

[[noreturn]] void replaced(const fs::path& p, int err) {
    fail("the folder was replaced while the export ran (moved, removed or a link put in its "
         "place); nothing is written through it",
         p, err);
}

fs::path normal(const fs::path& p) {
    std::error_code ec;
    const fs::path a = fs::absolute(p, ec);
    fs::path n = (ec ? p : a).lexically_normal();
    if (!n.has_filename() && n.has_relative_path()) {
        n = n.parent_path();
    }
    return n;
}

std::shared_ptr<Root> rootOf(const fs::path& p, std::vector<std::string>& names) {
    const fs::path n = normal(p);
    const std::lock_guard<std::mutex> guard(g_rootsMutex);
    std::shared_ptr<Root> best;
    for (const auto& weak : g_roots) {
        const auto r = weak.lock();
        if (!r) {
            continue;
        }
        auto a = r->absolute.begin();
        auto b = n.begin();
        for (; a != r->absolute.end() && b != n.end() && *a == *b; ++a, ++b) {
        }
        if (a == r->absolute.end() &&
            (!best || r->absolute.native().size() > best->absolute.native().size())) {
            best = r;
            names.clear();
            for (; b != n.end(); ++b) {
                if (!b->empty() && *b != ".") {
                    // UTF-8, not the narrow code page: names must come back unchanged.
                    const std::u8string name = b->u8string();
                    names.emplace_back(name.begin(), name.end());
                }
            }
        }
    }
    return best;
}

void closeAll(std::vector<HANDLE>* handles) {
    for (HANDLE h : *handles) {
        CloseHandle(h);
    }
    delete handles;
}

} // namespace

DirRef Open(const fs::path& given) {
    auto d = std::make_shared<Dir>();
    d->path = given.empty() ? fs::path(".") : given;
    d->root = rootOf(d->path, d->names);
    d->sync = !d->root || d->root->sync;
    (void)Check(*d);
    return d;
}

bool MakeDirectory(const fs::path& p) {
    const DirRef parent = Open(p.parent_path());
    const Hold hold = Check(*parent);
    if (CreateDirectoryW(WidePath(p).c_str(), nullptr) != 0) {
        return true;
    }
    const DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) {
        return false;
    }
    fail("cannot create the folder", p, ErrnoFrom(err));
}

Hold Check(const Dir& d) {
    std::shared_ptr<std::vector<HANDLE>> handles(new std::vector<HANDLE>, closeAll);
    if (!d.root) {
        return handles;
    }
    fs::path path = d.root->path;
    std::string key;
    for (std::size_t i = 0; i <= d.names.size(); ++i) {
        if (i > 0) {
            const std::string& name = d.names[i - 1];
            path /= fs::path(std::u8string(name.begin(), name.end()));
            key += d.names[i - 1] + '/';
        }
        // The output folder itself is the user's choice and may be reached through a link.
        const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (i > 0 ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
        HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                               nullptr);
        const std::lock_guard<std::mutex> guard(d.root->mutex);
        const auto seen = d.root->seen.find(key);
        if (h == INVALID_HANDLE_VALUE) {
            const int err = ErrnoFrom(GetLastError());
            if (seen != d.root->seen.end() && err != EBUSY) {
                replaced(path, err);
            }
            fail("cannot use the folder", path, err);
        }
        handles->push_back(h);
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileInformationByHandle(h, &info) == 0) {
            fail("cannot use the folder", path, ErrnoFrom(GetLastError()));
        }
        const bool real = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                          (i == 0 || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0);
        const Identity id{info.dwVolumeSerialNumber,
                          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
                              info.nFileIndexLow};
        if (seen != d.root->seen.end() && (!real || !(seen->second == id))) {
            replaced(path, real ? EEXIST : ELOOP);
        }
        if (!real) {
            fail("cannot use the folder", path, ENOTDIR);
        }
        d.root->seen.emplace(key, id);
    }
    return handles;
}

bool Syncs(const Dir& d) {
    return d.sync;
}

void Changed(const DirRef&) {}

const fs::path& PathOf(const Dir& d) {
    return d.path;
}

} // namespace tree

OutputRoot::OutputRoot(const fs::path& root, bool sync) : m_root(std::make_shared<tree::Root>()) {
    m_root->path = root;
    m_root->absolute = tree::normal(root);
    m_root->sync = sync;
    const std::lock_guard<std::mutex> guard(tree::g_rootsMutex);
    std::erase_if(tree::g_roots, [](const auto& w) { return w.expired(); });
    tree::g_roots.push_back(m_root);
}

OutputRoot::~OutputRoot() = default;

void OutputRoot::flush() {}

} // namespace edb::conv
