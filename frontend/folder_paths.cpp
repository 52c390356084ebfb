#include "frontend/folder_paths.h"

#include "catalog/tree_build.h"
#include "frontend/folder_roles.h"

#include <algorithm>
#include <unordered_set>

namespace edb::conv {
namespace {

std::string idKey(const FolderId& id) {
    return std::string(reinterpret_cast<const char*>(id.data()), id.size());
}

} // namespace

FolderPath PathOf(const StoreCatalog& catalog, const FolderNode& folder) {
    FolderPath p;
    p.node = &folder;
    std::vector<std::string> reversed{folder.name};
    std::unordered_set<std::string> visited{idKey(folder.id)};
    FolderId current = folder.parentId;
    // Each step either ends the walk or visits a new id, so a loop in damaged data ends.
    while (!IsZero(current)) {
        const std::string key = idKey(current);
        const FolderNode* mailbox = nullptr;
        for (const FolderList* list : {&catalog.mailboxList}) {
            for (const FolderNode& n : *list) {
                if (n.id == current) {
                    mailbox = &n;
                    break;
                }
            }
            if (mailbox != nullptr) {
                break;
            }
        }
        if (mailbox != nullptr) {
            reversed.push_back(mailbox->name);
            p.attached = true;
            break;
        }
        if (!visited.insert(key).second) {
            break;
        }
        const FolderNode* parent = nullptr;
        for (const FolderNode& n : catalog.folderList) {
            if (n.id == current) {
                parent = &n;
                break;
            }
        }
        if (parent == nullptr) {
            break;
        }
        reversed.push_back(parent->name);
        if (parent->isMailbox()) {
            p.attached = true;
            break;
        }
        current = parent->parentId;
    }
    p.names.assign(reversed.rbegin(), reversed.rend());
    for (const std::string& n : p.names) {
        p.treePath += n;
        p.treePath += '\\';
    }
    return p;
}

std::vector<FolderPath> ListFolders(const StoreCatalog& catalog) {
    std::vector<FolderPath> out;
    for (const FolderNode& n : catalog.folderList) {
        out.push_back(PathOf(catalog, n));
    }
    return out;
}

std::vector<FolderPath> InboxFolders(const StoreCatalog& catalog) {
    std::vector<FolderPath> out;
    for (const FolderNode& n : catalog.folderList) {
        if (n.isMailbox() || FolderRoleOf(n.name, n.kind) != FolderRole::Inbox) {
            continue;
        }
        FolderPath p = PathOf(catalog, n);
        if (!p.attached || p.names.size() != 2) {
            continue;
        }
        const auto same = std::find_if(
            out.begin(), out.end(), [&](const FolderPath& o) { return o.names[0] == p.names[0]; });
        if (same == out.end()) {
            out.push_back(std::move(p));
        } else if (n.name == "Inbox" && same->names[1] != "Inbox") {
            *same = std::move(p);
        }
    }
    return out;
}

std::vector<FolderPath> SelectFolders(const std::vector<FolderPath>& all,
                                      const std::vector<std::string>& paths,
                                      std::vector<std::string>* unknown) {
    std::vector<bool> take(all.size(), false);
    for (std::string path : paths) {
        const std::string asGiven = path;
        if (path.empty() || path.back() != '\\') {
            path += '\\';
        }
        bool any = false;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i].treePath.starts_with(path)) {
                take[i] = true;
                any = true;
            }
        }
        if (!any && unknown != nullptr) {
            unknown->push_back(asGiven);
        }
    }
    std::vector<FolderPath> out;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (take[i]) {
            out.push_back(all[i]);
        }
    }
    return out;
}

} // namespace edb::conv
