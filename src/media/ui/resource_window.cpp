#include "media/ui/resource_window.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMetaObject>
#include <QResizeEvent>
#include <QStyle>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <vector>

#include "base/folder_entries.h"
#include "capture/capture_state.h"
#include "config/setting_param_manage.h"
#include "localization/localizable_string.h"
#include "media/ui/left_aligned_button.h"
#include "media/ui/resource_browser_view.h"
#include "media/ui/resources_browser_dlg.h"

namespace orvane {

namespace {

const char* const kTopItemText = "zentrova";

// The nested layout is three levels deep; a deeper tree (or a loop the file system offers through a
// bind mount) is not followed further than this.
constexpr int kMaxDepth = 16;

std::string ItemText(const QTreeWidgetItem* item) { return item->text(0).toStdString(); }

QIcon FirstUsable(std::initializer_list<QIcon> icons) {
    for (const QIcon& icon : icons)
        if (!icon.isNull()) return icon;
    return {};
}

}  // namespace

CResourceWindow::CResourceWindow(QWidget* parent)
    : CResourceWindow(*CSettingParamManage::GetInstance(), *CLocalizableString::GetInstance(), parent) {}

CResourceWindow::CResourceWindow(const CSettingParamManage& settings_, CLocalizableString& strings_,
                                 QWidget* parent)
    : QWidget(parent), settings(settings_), strings(strings_) {
    tree = new QTreeWidget(this);
    tree->setObjectName(QStringLiteral("tree"));
    tree->setProperty("controlId", kTreeId);
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setRootIsDecorated(true);
    tree->setUniformRowHeights(true);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setIconSize(QSize(16, 16));
    connect(tree, &QTreeWidget::currentItemChanged, this, [this] { OnTreeSelChanged(); });

    moreButton = new CLeftAlignedButton(QString(), this);
    moreButton->setObjectName(QStringLiteral("moreButton"));
    moreButton->setProperty("controlId", kMoreButtonId);
    connect(moreButton, &QPushButton::clicked, this, [this] { OnExplore(); });

    LoadCaption();
    RebuildTree();
}

CResourceWindow::~CResourceWindow() = default;

QWidget* CResourceWindow::MoreButton() const { return moreButton; }

CResourcesBrowserDlg* CResourceWindow::Panel() const {
    return browserView != nullptr ? browserView->Panel() : nullptr;
}

void CResourceWindow::LoadCaption() {
    const QString caption = QString::fromStdString(strings.GetString(keys::kViewBtnMoreResources));
    moreButton->setText(caption);
    moreButton->setAccessibleName(caption);
}

std::string CResourceWindow::Root() const { return settings.GetUsingParam().GetRootPath(); }

bool CResourceWindow::IsNested() const { return settings.GetUsingParam().autocreatingfolder != 0; }

bool CResourceWindow::IsSaving() const {
    if (captureState == nullptr) return false;
    return captureState->recordingRunning.load(std::memory_order_acquire) != 0 ||
           captureState->shotPending.load(std::memory_order_acquire) != 0 ||
           captureState->timedShotRunning.load(std::memory_order_acquire) != 0;
}

void CResourceWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    tree->setGeometry(0, 0, w, std::max(0, h - kButtonHeight));
    moreButton->setGeometry(0, h - kButtonHeight, w, kButtonHeight);
}

QIcon CResourceWindow::FolderIcon(const std::string& path) const {
    const QFileInfo info(QString::fromStdString(path));
    const QIcon closed =
        info.isSymLink()
            ? FirstUsable({iconProvider.icon(info), style()->standardIcon(QStyle::SP_DirLinkIcon)})
            : FirstUsable({QIcon::fromTheme(QStringLiteral("folder")), iconProvider.icon(info),
                           style()->standardIcon(QStyle::SP_DirClosedIcon)});
    const QIcon open = FirstUsable({QIcon::fromTheme(QStringLiteral("folder-open")),
                                    style()->standardIcon(QStyle::SP_DirOpenIcon), closed});
    if (closed.isNull()) return {};
    // The selected item shows the open folder.
    const QSize size = tree->iconSize();
    QIcon icon;
    icon.addPixmap(closed.pixmap(size), QIcon::Normal);
    icon.addPixmap(open.pixmap(size), QIcon::Selected);
    return icon;
}

void CResourceWindow::RebuildTree() {
    LoadCaption();
    const CSettingParam param = settings.GetUsingParam();
    const std::string root = param.GetRootPath();
    const bool nested = param.autocreatingfolder != 0;
    if (treeBuilt && root == shownRoot && nested == shownNested) return;
    treeBuilt = true;
    shownRoot = root;
    shownNested = nested;
    {
        const QSignalBlocker quiet(tree);  // emptying the tree is no selection by the user
        tree->clear();
    }
    if (CResourcesBrowserDlg* panel = Panel()) panel->RestartWatching();

    auto* top = new QTreeWidgetItem(QStringList(QString::fromLatin1(kTopItemText)));
    top->setIcon(0, FolderIcon(root));
    tree->addTopLevelItem(top);
    AddSubfolders(root, top, nested, 1);
    top->setExpanded(true);
}

void CResourceWindow::AddSubfolders(const std::string& path, QTreeWidgetItem* parent, bool nested,
                                    int depth) {
    if (parent == nullptr) return;
    // Hidden folders stay hidden, as in the file manager; the rest in name order, as the date and
    // block numbers are meant to be read.
    std::vector<FolderEntry> folders;
    for (FolderEntry& entry : ReadFolder(path)) {
        if (entry.isFolder && !entry.name.starts_with('.')) folders.push_back(std::move(entry));
    }
    std::sort(folders.begin(), folders.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const QString left = QString::fromStdString(a.name);
        const QString right = QString::fromStdString(b.name);
        const int order = left.compare(right, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : left < right;
    });
    for (const FolderEntry& entry : folders) {
        const std::string childPath = path + "/" + entry.name;
        QTreeWidgetItem* item = InsertFolderItem(childPath, entry.name, parent);
        // A linked folder is shown but not followed: it may lead back up the tree.
        if (item != nullptr && nested && !entry.isLink && depth < kMaxDepth)
            AddSubfolders(childPath, item, nested, depth + 1);
    }
}

QTreeWidgetItem* CResourceWindow::InsertFolderItem(const std::string& fullPath, const std::string& text,
                                                   QTreeWidgetItem* parent) {
    if (parent == nullptr) return nullptr;
    auto* item = new QTreeWidgetItem(parent, QStringList(QString::fromStdString(text)));
    item->setIcon(0, FolderIcon(fullPath));
    return item;
}

QTreeWidgetItem* CResourceWindow::FindChildItem(const std::string& text, const QTreeWidgetItem* parent) {
    if (parent == nullptr) return nullptr;
    const QString wanted = QString::fromStdString(text);
    for (int i = 0; i < parent->childCount(); ++i) {
        QTreeWidgetItem* child = parent->child(i);
        if (child->text(0) == wanted) return child;
    }
    return nullptr;
}

std::string CResourceWindow::BuildFolderPath(const std::string& kind, const std::string& date,
                                             const std::string& block) const {
    std::string path = Root();
    if (!kind.empty()) path += "/" + kind;
    if (!date.empty()) path += "/" + date;
    if (!block.empty()) path += "/" + block;
    return path;
}

std::string CResourceWindow::GetItemFolder(const QTreeWidgetItem* item) const {
    std::string path = Root();
    if (item == nullptr || tree->topLevelItemCount() == 0) return path;
    std::vector<std::string> texts;
    for (const QTreeWidgetItem* at = item; at != nullptr && at->parent() != nullptr; at = at->parent())
        texts.push_back(ItemText(at));
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) path += "/" + *it;
    return path;
}

void CResourceWindow::OnTreeSelChanged() {
    QTreeWidgetItem* selected = tree->currentItem();
    if (selected == nullptr || selectingForSave) return;
    if (IsSaving()) return;  // while the program itself saves, the panel follows the saved files only
    std::string kind, date, block;
    if (IsNested()) {
        QTreeWidgetItem* parent = selected->parent();
        QTreeWidgetItem* grandparent = parent != nullptr ? parent->parent() : nullptr;
        if (selected->childCount() != 0 || grandparent == nullptr) return;
        kind = ItemText(grandparent);
        date = ItemText(parent);
        block = ItemText(selected);
    } else {
        if (selected->childCount() != 0) return;
        kind = ItemText(selected);
    }
    if (CResourcesBrowserDlg* panel = Panel()) panel->SetFolder(BuildFolderPath(kind, date, block), false);
}

void CResourceWindow::OnExplore() {
    const std::string path = GetItemFolder(tree->currentItem());
    if (opener) {
        opener(path);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

bool CResourceWindow::SplitSavedPath(const std::string& path, bool nested, std::string& kind,
                                     std::string& date, std::string& block, std::string& fileName) {
    // The separators from the right: name, then block, date and kind (nested) or kind alone (flat).
    const int needed = nested ? 4 : 2;
    size_t cuts[4] = {};
    size_t end = path.size();
    for (int i = 0; i < needed; ++i) {
        if (end == 0) return false;
        const size_t slash = path.rfind('/', end - 1);
        if (slash == std::string::npos) return false;
        cuts[i] = slash;
        end = slash;
    }
    const auto between = [&](int right, int left) {
        return path.substr(cuts[left] + 1, cuts[right] - cuts[left] - 1);
    };
    fileName = path.substr(cuts[0] + 1);
    if (nested) {
        block = between(0, 1);
        date = between(1, 2);
        kind = between(2, 3);
    } else {
        kind = between(0, 1);
        date.clear();
        block.clear();
    }
    return true;
}

bool CResourceWindow::SelectFolderItem(const std::string& kind, const std::string& date,
                                       const std::string& block) {
    QTreeWidgetItem* top = tree->topLevelItem(0);
    if (top == nullptr) return false;
    QTreeWidgetItem* target = FindChildItem(kind, top);
    if (target == nullptr) return false;
    if (!date.empty() && !block.empty()) {
        QTreeWidgetItem* dateItem = FindChildItem(date, target);
        if (dateItem == nullptr) dateItem = InsertFolderItem(BuildFolderPath(kind, date, ""), date, target);
        if (dateItem == nullptr) return false;
        QTreeWidgetItem* blockItem = FindChildItem(block, dateItem);
        if (blockItem == nullptr)
            blockItem = InsertFolderItem(BuildFolderPath(kind, date, block), block, dateItem);
        if (blockItem == nullptr) return true;
        target = blockItem;
    }
    for (QTreeWidgetItem* at = target->parent(); at != nullptr; at = at->parent()) at->setExpanded(true);
    tree->scrollToItem(target);
    // The panel is moved by the caller: the busy flags may already be down when a saved file's
    // announcement is handled, and a selection that moved the panel here would scroll it to the top.
    selectingForSave = true;
    tree->setCurrentItem(target);
    selectingForSave = false;
    return true;
}

void CResourceWindow::AddSavedFile(const std::string& path) {
    const bool nested = IsNested();
    QMetaObject::invokeMethod(
        this, [this, path, nested] { OnSavedFile(path, nested); }, Qt::QueuedConnection);
}

void CResourceWindow::OnSavedFile(const std::string& path, bool nested) {
    std::string kind, date, block, fileName;
    if (SplitSavedPath(path, nested, kind, date, block, fileName) && SelectFolderItem(kind, date, block)) {
        if (CResourcesBrowserDlg* panel = Panel()) {
            const std::string folder = BuildFolderPath(kind, date, block);
            if (folder != panel->GetFolder()) {
                panel->SetFolder(folder, true);  // the listing finds the new file and shows it last
            } else if (!panel->HasItem(fileName)) {
                panel->AddItem(fileName);
                // Queued behind any scroll requests still on their way from an earlier folder change.
                panel->RequestScrollToEnd();
                panel->RequestRepaint();
            }
        }
    }
    Q_EMIT SavedFileAnnounced(QString::fromStdString(path));
}

}  // namespace orvane
