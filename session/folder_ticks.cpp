#include "session/folder_ticks.h"

namespace edb::session {

bool FolderTicks::add(ItemId item, ItemId parent, std::size_t folder) {
    if (item == 0 || m_nodes.count(item) != 0) {
        return false;
    }
    if (parent == 0) {
        m_roots.push_back(item);
    } else {
        const auto it = m_nodes.find(parent);
        if (it == m_nodes.end()) {
            return false;
        }
        it->second.children.push_back(item);
    }
    Node n;
    n.parent = parent;
    n.folder = folder;
    m_nodes.emplace(item, std::move(n));
    return true;
}

void FolderTicks::clear() {
    m_nodes.clear();
    m_roots.clear();
}

void FolderTicks::set(ItemId item, Node& n, bool ticked, bool marked,
                      std::vector<ItemId>& changed) {
    if (n.ticked != ticked || n.marked != marked) {
        n.ticked = ticked;
        n.marked = marked;
        changed.push_back(item);
    }
}

std::vector<ItemId> FolderTicks::toggle(ItemId item) {
    std::vector<ItemId> changed;
    const auto found = m_nodes.find(item);
    if (found == m_nodes.end()) {
        return changed;
    }
    const bool on = !found->second.ticked;
    // The item and its subtree, without recursion: a damaged store may nest folders deeply.
    std::vector<ItemId> stack{item};
    while (!stack.empty()) {
        const ItemId id = stack.back();
        stack.pop_back();
        Node& n = m_nodes.at(id);
        set(id, n, on, on, changed);
        for (auto c = n.children.rbegin(); c != n.children.rend(); ++c) {
            stack.push_back(*c);
        }
    }
    updateAncestors(found->second.parent, changed);
    return changed;
}

std::vector<ItemId> FolderTicks::untickOne(ItemId item) {
    std::vector<ItemId> changed;
    const auto found = m_nodes.find(item);
    if (found == m_nodes.end()) {
        return changed;
    }
    set(item, found->second, false, false, changed);
    updateAncestors(found->second.parent, changed);
    return changed;
}

void FolderTicks::updateAncestors(ItemId parent, std::vector<ItemId>& changed) {
    // From the parent up: ticked when every child is, marked when any child is.
    for (ItemId up = parent; up != 0;) {
        Node& a = m_nodes.at(up);
        bool all = true;
        bool any = false;
        for (const ItemId c : a.children) {
            const Node& child = m_nodes.at(c);
            all = all && child.ticked;
            any = any || child.marked;
        }
        set(up, a, all, all || any, changed);
        up = a.parent;
    }
}

bool FolderTicks::ticked(ItemId item) const {
    const auto it = m_nodes.find(item);
    return it != m_nodes.end() && it->second.ticked;
}

bool FolderTicks::marked(ItemId item) const {
    const auto it = m_nodes.find(item);
    return it != m_nodes.end() && it->second.marked;
}

std::size_t FolderTicks::folderOf(ItemId item) const {
    const auto it = m_nodes.find(item);
    return it == m_nodes.end() ? kNoFolderIndex : it->second.folder;
}

std::vector<ItemId> FolderTicks::items() const {
    std::vector<ItemId> out;
    std::vector<ItemId> stack(m_roots.rbegin(), m_roots.rend());
    while (!stack.empty()) {
        const ItemId id = stack.back();
        stack.pop_back();
        out.push_back(id);
        const Node& n = m_nodes.at(id);
        for (auto c = n.children.rbegin(); c != n.children.rend(); ++c) {
            stack.push_back(*c);
        }
    }
    return out;
}

std::vector<std::size_t> FolderTicks::tickedFolders() const {
    std::vector<std::size_t> out;
    for (const ItemId id : items()) {
        const Node& n = m_nodes.at(id);
        if (n.ticked && n.folder != kNoFolderIndex) {
            out.push_back(n.folder);
        }
    }
    return out;
}

} // namespace edb::session
