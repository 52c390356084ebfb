#pragma once
// The folder tree view: the trees of the picked mailboxes, a check box on every item, bold
// marks where ticked folders lie, italics for folders converted in the run, and which item
// shows which folder-list entry. The tick rules are the session's: the view reports a toggle
// and shows what the session says.
#include "catalog/catalog.h"
#include "catalog/tree_build.h"

#include <QIcon>
#include <QTreeWidget>
#include <atomic>
#include <functional>
#include <unordered_map>
#include <vector>

namespace edbapp {

class FolderTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit FolderTreeView(QWidget* parent = nullptr);

    // The 18 folder images, in image-list order.
    void setImages(std::vector<QIcon> images);

    // Inserts an item as the last child of `parent` (0: a new root). Returns its handle, which
    // stays unique for the run, so a handle kept after its item was deleted never matches a
    // later item.
    // `folder` is the folder-list entry the item shows (edb::kNoFolder for a mailbox root).
    edb::TreeItem insertFolderItem(edb::TreeItem parent, const QString& text, int image,
                                   std::size_t folder = edb::kNoFolder);
    // Inserts an item under a handle a tree build chose (never one this view hands out itself:
    // builds number theirs from kBuildHandles up); false (nothing inserted) when the parent is
    // not in the view.
    bool insertFolderItemAs(edb::TreeItem handle, edb::TreeItem parent, const QString& text,
                            int image, std::size_t folder = edb::kNoFolder);
    static constexpr edb::TreeItem kBuildHandles = edb::TreeItem{1} << 32;
    // The folder-list entry an item shows; edb::kNoFolder for a root or an unknown handle.
    [[nodiscard]] std::size_t folderOf(edb::TreeItem handle) const;
    [[nodiscard]] QTreeWidgetItem* itemFor(edb::TreeItem handle) const;
    [[nodiscard]] edb::TreeItem handleOf(const QTreeWidgetItem* item) const;
    void deleteAllItems();

    // First root's text followed by a backslash; empty without roots.
    [[nodiscard]] QString rootText() const;


    // A folder converted in this run shows in italics, with a tooltip saying so; it lists,
    // views and ticks like any other.
    static void setConverted(QTreeWidgetItem* item, bool on);
    [[nodiscard]] static bool isConverted(const QTreeWidgetItem* item);

    [[nodiscard]] static bool isTicked(const QTreeWidgetItem* item);
    [[nodiscard]] static bool isMarked(const QTreeWidgetItem* item);
    // Shows an item's check box and bold mark as the session has them.
    static void showTick(QTreeWidgetItem* item, bool ticked, bool marked);

    // Rectangle of an item's check box, in viewport coordinates.
    [[nodiscard]] QRect checkBoxRect(const QTreeWidgetItem* item) const;

    // Every ticked item in tree order.
    [[nodiscard]] std::vector<QTreeWidgetItem*> tickedItems() const;

signals:
    // A folder was clicked, reached with the keyboard or given Enter; the main dialog decides
    // whether to list it.
    void folderPicked(edb::TreeItem item);
    // The user toggled the check box of `item` (a click on it or Space). The main dialog asks
    // the session what that changes.
    void tickToggled(edb::TreeItem item);
    // A right click on an item; `global` is where its menu goes.
    void folderMenuRequested(edb::TreeItem item, const QPoint& global);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    static void setMarked(QTreeWidgetItem* item, bool on);

    std::vector<QIcon> m_images;
    struct Entry {
        QTreeWidgetItem* item = nullptr;
        std::size_t folder = edb::kNoFolder;
    };
    std::unordered_map<edb::TreeItem, Entry> m_items;
    edb::TreeItem m_nextHandle = 1;
    bool m_swallowRelease = false;
};

} // namespace edbapp
