#include "catalog/tree_build.h"

#include "io/text.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace edb {

namespace {

// Length in bytes of the UTF-8 sequence led by `lead` (1 for a stray continuation byte, so a
// damaged text still moves forward).
std::size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0) {
        return 4;
    }
    if (lead >= 0xE0) {
        return 3;
    }
    if (lead >= 0xC0) {
        return 2;
    }
    return 1;
}

} // namespace

bool AppendPathPart(std::string& path, std::string_view name) {
    std::size_t used = Utf16Length(path);
    bool whole = true;
    std::size_t i = 0;
    while (i < name.size()) {
        const std::size_t len =
            std::min(sequenceLength(static_cast<unsigned char>(name[i])), name.size() - i);
        const std::size_t units = len == 4 ? 2 : 1; // a 4-byte sequence is a surrogate pair
        if (used + units > kFolderPathRoom) {
            whole = false;
            break;
        }
        path.append(name.substr(i, len));
        used += units;
        i += len;
    }
    if (used + 1 > kFolderPathRoom) {
        return false;
    }
    path.push_back('\\');
    return whole;
}

const FolderNode* FolderAt(const StoreCatalog& catalog, std::size_t index) {
    std::size_t i = 0;
    for (const auto& node : catalog.folderList) {
        if (i == index) {
            return &node;
        }
        ++i;
    }
    return nullptr;
}

const FolderNode* MailboxAt(const StoreCatalog& catalog, std::size_t row) {
    std::size_t i = 0;
    for (const auto& mailbox : catalog.mailboxList) {
        if (i == row) {
            return &mailbox;
        }
        ++i;
    }
    return nullptr;
}

namespace {

// Children by parent id, in folder-list order. The scan may still append folders, so the index
// catches up with the list whenever it is asked; each folder is indexed once per build.
class ChildIndex {
public:
    struct Child {
        const FolderNode* node = nullptr;
        std::size_t index = 0; // place in the folder list
    };
    explicit ChildIndex(const FolderList& list) : m_list(list) {}

    // The child of `parent` at position `n`; a null node when there is none.
    Child child(const FolderId& parent, std::size_t n) {
        catchUp();
        const auto it = m_children.find(IdKey(parent));
        if (it == m_children.end() || n >= it->second.size()) {
            return {};
        }
        return it->second[n];
    }

private:
    void catchUp() {
        AppendList<FolderNode>::const_iterator next;
        if (!m_started) {
            next = m_list.begin();
        } else {
            next = m_last;
            ++next;
        }
        while (next != m_list.end()) {
            m_children[IdKey(next->parentId)].push_back(Child{&*next, m_count++});
            m_last = next;
            m_started = true;
            ++next;
        }
    }

    const FolderList& m_list;
    bool m_started = false;
    std::size_t m_count = 0;
    AppendList<FolderNode>::const_iterator m_last;
    std::unordered_map<std::uint64_t, std::vector<Child>> m_children;
};

struct Frame {
    FolderId id;       // whose children are filled
    TreeItem item = 0; // their parent item
    std::size_t pathLength = 0;
    std::size_t next = 0; // next child position
};

} // namespace

TreeBuildResult BuildFolderTree(const StoreCatalog& catalog, const FolderNode& mailboxEntry,
                                TreeSink& sink, const CancelToken* cancel) {
    TreeBuildResult result;
    const FolderNode* mailbox = &mailboxEntry;
    std::string path;
    result.pathCut = !AppendPathPart(path, mailbox->name);
    const TreeItem root = sink.insertItem(0, mailbox->name, '\0', path, kNoFolder);
    result.root = root;
    if (root == 0) {
        return result;
    }
    result.items = 1;

    // Fill children, depth first without recursion: a damaged store may chain thousands of
    // folders. A folder whose id is already on the path is shown but not descended into: its
    // children would repeat an ancestor's, without end.
    ChildIndex index(catalog.folderList);
    std::vector<Frame> stack{Frame{mailbox->id, root, path.size(), 0}};
    std::unordered_multiset<std::uint64_t> onPath{IdKey(mailbox->id)};
    while (!stack.empty()) {
        if (cancel != nullptr && cancel->cancelled()) {
            result.stopped = cancel->reason();
            break;
        }
        Frame& top = stack.back();
        const ChildIndex::Child c = index.child(top.id, top.next);
        const FolderNode* f = c.node;
        if (f == nullptr) {
            onPath.erase(onPath.find(IdKey(top.id)));
            stack.pop_back();
            continue;
        }
        ++top.next;
        if (result.items >= kMaxTreeItems) {
            result.itemLimitReached = true;
            break;
        }
        path.resize(top.pathLength);
        const bool whole = AppendPathPart(path, f->name);
        result.pathCut = result.pathCut || !whole;
        const TreeItem item =
            sink.insertItem(top.item, f->name, f->kind, path, c.index);
        if (item == 0) {
            continue;
        }
        ++result.items;
        const std::uint64_t key = IdKey(f->id);
        if (onPath.count(key) == 0) {
            onPath.insert(key);
            stack.push_back(Frame{f->id, item, path.size(), 0});
        }
    }
    return result;
}

} // namespace edb
