#pragma once
// What the view commands and the message commands share: the folder trees the window would show
// after every mailbox was picked in turn, and finding a folder in them by its path.
#include "catalog/catalog.h"
#include "scan/scan.h"
#include "catalog/tree_build.h"
#include "views/folder_items.h"

#include <memory>
#include <string>
#include <vector>

namespace edbcli {

// The folder tree view as plain nodes; item k (1-based) is nodes[k - 1].
class CliTree : public edb::TreeSink {
public:
    struct Node {
        std::string text;
        edb::views::FolderIcon icon = edb::views::FolderIcon::Folder;
        std::string path;
        edb::TreeItem parent = 0;
        std::vector<edb::TreeItem> children;
        std::size_t folder = edb::kNoFolder; // the folder-list entry shown
    };

    edb::TreeItem insertItem(edb::TreeItem parent, const std::string& text, char kind,
                             const std::string& path, std::size_t folder) override {
        m_nodes.push_back(
            Node{text, edb::views::TreeItemIcon(text, kind, folder), path, parent, {}, folder});
        const edb::TreeItem item = m_nodes.size();
        (parent == 0 ? m_roots : m_nodes[parent - 1].children).push_back(item);
        return item;
    }
    [[nodiscard]] const Node& node(edb::TreeItem item) const { return m_nodes[item - 1]; }
    [[nodiscard]] const std::vector<edb::TreeItem>& roots() const { return m_roots; }
    // Every item, depth first in tree order (the order the builds inserted them).
    [[nodiscard]] std::size_t size() const { return m_nodes.size(); }

private:
    std::vector<Node> m_nodes;
    std::vector<edb::TreeItem> m_roots;
};

// What the window shows after every mailbox row was picked in turn with Next.
void buildAllTrees(edb::StoreCatalog& catalog, CliTree& tree);

struct Scanned {
    std::unique_ptr<edb::StoreCatalog> catalog = std::make_unique<edb::StoreCatalog>();
    edb::ScanResult result;
    CliTree tree;
};

// Scans `path` (progress and failures on stderr, g_exitStatus set) and builds every tree.
[[nodiscard]] std::unique_ptr<Scanned> scanAndBuild(const std::string& path);

// The items whose folder path is `wanted`: exactly, else with '/' as '\', else in any letter
// case; a trailing backslash is optional.
[[nodiscard]] std::vector<edb::TreeItem> findFolder(const CliTree& tree, const std::string& wanted);

} // namespace edbcli
