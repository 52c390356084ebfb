// Output directories on POSIX systems: descriptors opened with openat(O_NOFOLLOW | O_DIRECTORY)
// from the output folder's descriptor, checked with fstatat against the device and inode first
// seen, flushed with fsync.
#include "deliver/output_tree.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace edb::conv {
namespace fs = std::filesystem;

namespace tree {

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};

struct Dir {
    int fd = -1;
    Identity id;
    DirRef parent; // none for the output folder and for directories outside every output folder
    std::string name;
    fs::path path;
    bool sync = true;          // false below an output folder written without sync
    bool top = false;          // the output folder itself
    std::weak_ptr<Root> root;  // none outside every output folder
    ~Dir() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

struct Root {
    fs::path path;     // as given, opened following links: the user's choice
    fs::path absolute; // lexically normal, for finding the root of a path
    bool sync = true;
    std::mutex mutex;
    DirRef top;
    std::map<std::string, DirRef> open; // relative path -> open directory, the recent ones
    std::map<std::string, Identity> seen; // every directory met, by relative path
    std::map<std::string, unsigned long> used;
    unsigned long clock = 0;
    std::set<DirRef> changed;
};

namespace {

// Open directories kept per output folder: enough for a folder's own, its Maildir
// subdirectories and its ancestors, far below any descriptor limit.
constexpr std::size_t kOpenDirectories = 48;

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
        n = n.parent_path(); // "out/" as "out"
    }
    return n;
}

// The output folder `p` lies in (the innermost), and the names from it to `p`.
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
        if (a == r->absolute.end() && (!best || r->absolute.native().size() > best->absolute.native().size())) {
            best = r;
            names.clear();
            for (; b != n.end(); ++b) {
                if (!b->empty() && *b != ".") {
                    names.push_back(b->string());
                }
            }
        }
    }
    return best;
}

Identity identityOf(int fd, const fs::path& p) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        fail("cannot use the folder", p, errno);
    }
    return {st.st_dev, st.st_ino};
}

DirRef standalone(const fs::path& p) {
    auto d = std::make_shared<Dir>();
    d->fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d->fd < 0) {
        fail("cannot use the folder", p, errno);
    }
    d->path = p;
    d->id = identityOf(d->fd, p);
    return d;
}

// The directory `names` lead to below `r`; r.mutex held.
DirRef openBelow(const std::shared_ptr<Root>& root, const std::vector<std::string>& names,
                 std::size_t count) {
    Root& r = *root;
    if (count == 0) {
        if (!r.top) {
            DirRef top = standalone(r.path);
            top->root = root;
            top->sync = r.sync;
            top->top = true;
            r.top = std::move(top);
        }
        return r.top;
    }
    std::string key;
    for (std::size_t i = 0; i < count; ++i) {
        key += names[i] + '/';
    }
    r.used[key] = ++r.clock;
    if (const auto it = r.open.find(key); it != r.open.end()) {
        return it->second;
    }
    DirRef parent = openBelow(root, names, count - 1);
    auto d = std::make_shared<Dir>();
    d->parent = parent;
    d->name = names[count - 1];
    d->path = parent->path / d->name;
    d->root = root;
    d->sync = r.sync;
    d->fd = ::openat(parent->fd, d->name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const auto seen = r.seen.find(key);
    if (d->fd < 0) {
        const int err = errno == ELOOP ? ENOTDIR : errno;
        if (seen != r.seen.end()) {
            replaced(d->path, err);
        }
        fail("cannot use the folder", d->path, err);
    }
    d->id = identityOf(d->fd, d->path);
    if (seen != r.seen.end() && !(seen->second == d->id)) {
        replaced(d->path, EEXIST);
    }
    r.seen[key] = d->id;
    if (r.open.size() >= kOpenDirectories) {
        const auto oldest = std::min_element(r.open.begin(), r.open.end(), [&](auto& a, auto& b) {
            return r.used[a.first] < r.used[b.first];
        });
        r.open.erase(oldest); // still open while a file or a child holds it
    }
    r.open.emplace(key, d);
    return d;
}

void syncDirectory(const Dir& d) {
    if (::fsync(d.fd) != 0 && errno != EINVAL && errno != EROFS) {
        fail("cannot write", d.path, errno);
    }
}

} // namespace

DirRef Open(const fs::path& given) {
    const fs::path dir = given.empty() ? fs::path(".") : given;
    std::vector<std::string> names;
    const auto r = rootOf(dir, names);
    if (!r) {
        return standalone(dir);
    }
    const std::lock_guard<std::mutex> guard(r->mutex);
    return openBelow(r, names, names.size());
}

bool MakeDirectory(const fs::path& p) {
    const DirRef parent = Open(p.parent_path());
    (void)Check(*parent);
    const std::string name = p.filename().string();
    if (::mkdirat(parent->fd, name.c_str(), 0777) == 0) {
        Changed(parent);
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    fail("cannot create the folder", p, errno);
}

Hold Check(const Dir& d) {
    const Dir* x = &d;
    for (; x->parent; x = x->parent.get()) {
        struct stat st {};
        if (::fstatat(x->parent->fd, x->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            replaced(x->path, errno);
        }
        if (!S_ISDIR(st.st_mode)) {
            replaced(x->path, S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR);
        }
        if (!(Identity{st.st_dev, st.st_ino} == x->id)) {
            replaced(x->path, EEXIST);
        }
    }
    if (x->top) {
        // The output folder itself, by the path the user gave.
        struct stat st {};
        if (::stat(x->path.c_str(), &st) != 0 || !(Identity{st.st_dev, st.st_ino} == x->id)) {
            replaced(x->path, EEXIST);
        }
    }
    return nullptr;
}

bool Syncs(const Dir& d) {
    return d.sync;
}

void Changed(const DirRef& d) {
    if (!d->sync) {
        return;
    }
    const auto root = d->root.lock();
    if (!root) {
        syncDirectory(*d); // no flush comes for a directory outside every output folder
        return;
    }
    const std::lock_guard<std::mutex> guard(root->mutex);
    root->changed.insert(d);
}

int Descriptor(const Dir& d) {
    return d.fd;
}

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

OutputRoot::~OutputRoot() {
    try {
        flush();
    } catch (const fs::filesystem_error&) {
        // The last flush failed: the files are written and named; only a power cut now could
        // lose names.
    }
}

void OutputRoot::flush() {
    std::set<tree::DirRef> changed;
    {
        const std::lock_guard<std::mutex> guard(m_root->mutex);
        changed.swap(m_root->changed);
    }
    for (const tree::DirRef& d : changed) {
        tree::syncDirectory(*d);
    }
}

} // namespace edb::conv
