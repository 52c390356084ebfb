#pragma once
// The tick rules of the folder tree, without a tree view: ticking a folder ticks everything
// below it; a folder is ticked when all its children are; a folder is marked (shown bold) when it
// is ticked or something below it is marked. A window adds the items as its tree gets them and
// asks here after each toggle which items to redraw.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace edb::session {

// A tree item's handle, as the window's tree hands them out (never 0).
using ItemId = std::uint64_t;
inline constexpr std::size_t kNoFolderIndex = static_cast<std::size_t>(-1);

class FolderTicks {
public:
    // Appends `item` as the last child of `parent` (0: a new root), unticked and not marked;
    // false when the parent is unknown or the item is already there.
    bool add(ItemId item, ItemId parent, std::size_t folder);
    void clear();

    // The user toggled the check box of `item` (a click or Space): the item and its subtree
    // take the new state, then its ancestors are recomputed. Returns every item whose tick or
    // mark changed, so the window redraws only those; empty for an unknown item.
    std::vector<ItemId> toggle(ItemId item);
    // Unticks `item` alone (its subtree keeps its ticks) and recomputes its ancestors: a folder
    // written by Convert loses its tick. Returns the items that changed.
    std::vector<ItemId> untickOne(ItemId item);
    // Every item, each before its children, roots in the order added.
    [[nodiscard]] std::vector<ItemId> items() const;

    [[nodiscard]] bool contains(ItemId item) const { return m_nodes.count(item) != 0; }
    [[nodiscard]] bool ticked(ItemId item) const;
    [[nodiscard]] bool marked(ItemId item) const;
    [[nodiscard]] std::size_t folderOf(ItemId item) const;
    // Folders of the ticked items in tree order (roots show no folder and are left out).
    [[nodiscard]] std::vector<std::size_t> tickedFolders() const;

private:
    struct Node {
        ItemId parent = 0;
        std::size_t folder = kNoFolderIndex;
        std::vector<ItemId> children;
        bool ticked = false;
        bool marked = false;
    };
    void set(ItemId item, Node& n, bool ticked, bool marked, std::vector<ItemId>& changed);
    void updateAncestors(ItemId parent, std::vector<ItemId>& changed);

    std::unordered_map<ItemId, Node> m_nodes;
    std::vector<ItemId> m_roots;
};

} // namespace edb::session
