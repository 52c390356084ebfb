#include "app/folder_tree_view.h"


#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QTimer>

namespace edbapp {

namespace {
// Gives the tree view the option layout the delegate paints with, for the check-box hit test.
class FolderDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::initStyleOption;
    using QStyledItemDelegate::QStyledItemDelegate;
};

constexpr int kHandleRole = Qt::UserRole + 1;
} // namespace

FolderTreeView::FolderTreeView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setItemDelegate(new FolderDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    // A click on empty space must not take the focus; a click on an item gives it explicitly.
    setFocusPolicy(Qt::TabFocus);
}

void FolderTreeView::setImages(std::vector<QIcon> images) {
    m_images = std::move(images);
}

edb::TreeItem FolderTreeView::insertFolderItem(edb::TreeItem parent, const QString& text,
                                               int image, std::size_t folder) {
    const edb::TreeItem handle = m_nextHandle++;
    return insertFolderItemAs(handle, parent, text, image, folder) ? handle : 0;
}

bool FolderTreeView::insertFolderItemAs(edb::TreeItem handle, edb::TreeItem parent,
                                        const QString& text, int image, std::size_t folder) {
    QTreeWidgetItem* parentItem = parent == 0 ? nullptr : itemFor(parent);
    if (parent != 0 && parentItem == nullptr) {
        return false; // the parent went with a Back; the build it belonged to is stale
    }
    auto* item = new QTreeWidgetItem(QStringList{text});
    // Not user-checkable: the view's own toggling is replaced by the selection rules.
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(0, Qt::Unchecked);
    if (image >= 0 && static_cast<std::size_t>(image) < m_images.size()) {
        item->setIcon(0, m_images[static_cast<std::size_t>(image)]);
    }
    item->setData(0, kHandleRole, QVariant::fromValue<qulonglong>(handle));
    m_items.emplace(handle, Entry{item, folder});
    if (parentItem == nullptr) {
        addTopLevelItem(item);
    } else {
        parentItem->addChild(item);
    }
    return true;
}

QTreeWidgetItem* FolderTreeView::itemFor(edb::TreeItem handle) const {
    const auto it = m_items.find(handle);
    return it == m_items.end() ? nullptr : it->second.item;
}

std::size_t FolderTreeView::folderOf(edb::TreeItem handle) const {
    const auto it = m_items.find(handle);
    return it == m_items.end() ? edb::kNoFolder : it->second.folder;
}

edb::TreeItem FolderTreeView::handleOf(const QTreeWidgetItem* item) const {
    return item == nullptr ? 0 : item->data(0, kHandleRole).value<qulonglong>();
}

void FolderTreeView::deleteAllItems() {
    m_items.clear();
    clear();
}

QString FolderTreeView::rootText() const {
    if (topLevelItemCount() == 0) {
        return {};
    }
    return topLevelItem(0)->text(0) + QLatin1Char('\\');
}

bool FolderTreeView::isTicked(const QTreeWidgetItem* item) {
    return item->checkState(0) == Qt::Checked;
}

void FolderTreeView::setConverted(QTreeWidgetItem* item, bool on) {
    QFont f = item->font(0);
    if (f.italic() != on) {
        f.setItalic(on);
        item->setFont(0, f);
        item->setToolTip(0, on ? QStringLiteral("Converted in this run") : QString());
    }
}

bool FolderTreeView::isConverted(const QTreeWidgetItem* item) {
    return item->font(0).italic();
}

bool FolderTreeView::isMarked(const QTreeWidgetItem* item) {
    return item->font(0).bold();
}

void FolderTreeView::setMarked(QTreeWidgetItem* item, bool on) {
    QFont f = item->font(0);
    if (f.bold() != on) {
        f.setBold(on);
        item->setFont(0, f);
    }
}

void FolderTreeView::showTick(QTreeWidgetItem* item, bool ticked, bool marked) {
    item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    setMarked(item, marked);
}

QRect FolderTreeView::checkBoxRect(const QTreeWidgetItem* item) const {
    const QModelIndex index = indexFromItem(item, 0);
    if (!index.isValid()) {
        return {};
    }
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    opt.rect = visualRect(index);
    static_cast<FolderDelegate*>(itemDelegate())->initStyleOption(&opt, index);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, this);
}

std::vector<QTreeWidgetItem*> FolderTreeView::tickedItems() const {
    std::vector<QTreeWidgetItem*> out;
    for (QTreeWidgetItemIterator it(const_cast<FolderTreeView*>(this)); *it != nullptr; ++it) {
        if (isTicked(*it)) {
            out.push_back(*it);
        }
    }
    return out;
}

void FolderTreeView::mousePressEvent(QMouseEvent* event) {
    m_swallowRelease = false;
    if (event->button() != Qt::LeftButton) {
        QTreeWidget::mousePressEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    QTreeWidgetItem* item = itemAt(pos);
    if (item == nullptr) {
        event->accept(); // empty space: no selection, no focus change
        m_swallowRelease = true;
        return;
    }
    const bool onCheckBox = checkBoxRect(item).contains(pos);
    setCurrentItem(item);
    setFocus(Qt::MouseFocusReason);
    emit folderPicked(handleOf(item));
    if (onCheckBox) {
        emit tickToggled(handleOf(item));
        m_swallowRelease = true;
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void FolderTreeView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_swallowRelease) {
        m_swallowRelease = false;
        event->accept();
        return;
    }
    QTreeWidget::mouseReleaseEvent(event);
}

void FolderTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click is two clicks here; the second press toggles a check box again.
    mousePressEvent(event);
}

void FolderTreeView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        if (QTreeWidgetItem* item = currentItem()) {
            emit tickToggled(handleOf(item));
        }
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter lists the folder; it never reaches the dialog, where it would end the run.
        if (QTreeWidgetItem* item = currentItem()) {
            emit folderPicked(handleOf(item));
        }
        event->accept();
        return;
    }
    const QTreeWidgetItem* before = currentItem();
    QTreeWidget::keyPressEvent(event);
    // An item reached with the arrow keys (or Home, End, a letter) counts as a click on it.
    if (QTreeWidgetItem* now = currentItem(); now != nullptr && now != before) {
        emit folderPicked(handleOf(now));
    }
}

void FolderTreeView::contextMenuEvent(QContextMenuEvent* event) {
    if (QTreeWidgetItem* item = itemAt(event->pos())) {
        emit folderMenuRequested(handleOf(item), event->globalPos());
    }
}

} // namespace edbapp
