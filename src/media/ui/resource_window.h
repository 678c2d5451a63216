#pragma once

#include <QFileIconProvider>
#include <QIcon>
#include <QWidget>
#include <functional>
#include <string>

#include "base/resource_window.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace orvane {

class CLeftAlignedButton;
class CLocalizableString;
class CResourceBrowserView;
class CResourcesBrowserDlg;
class CSettingParamManage;
struct CaptureState;

// The upper left pane of the main viewer: the folder tree of the storage root with the "More..."
// button beneath it. Choosing a leaf folder shows it in the thumbnail panel; the button opens the
// chosen folder in the file manager. It is told of every file the program has just written, and then
// selects (growing it where needed) the file's folder and shows the file at the end of the panel.
//
// Interface thread, except AddSavedFile.
class CResourceWindow final : public QWidget, public IResourceWindow {
    Q_OBJECT

public:
    static constexpr int kTreeId = 100;
    static constexpr int kMoreButtonId = 1001;
    static constexpr int kButtonHeight = 20;

    // Opens a folder in the file manager.
    using FolderOpener = std::function<void(const std::string& path)>;

    // With the process-wide settings and strings. Builds the tree.
    explicit CResourceWindow(QWidget* parent = nullptr);
    // With `settings` and `strings`, which must outlive the window. Builds the tree.
    CResourceWindow(const CSettingParamManage& settings, CLocalizableString& strings,
                    QWidget* parent = nullptr);
    ~CResourceWindow() override;

    // Any thread, returns at once: the file is shown on the interface thread, with the layout in force
    // at the call. The caller keeps the window alive while it may call; calls still pending when the
    // window goes are dropped.
    void AddSavedFile(const std::string& path) override;

    // The thumbnail panel the tree drives; set by the main viewer once the panes exist.
    void SetBrowserView(CResourceBrowserView* view) { browserView = view; }
    CResourceBrowserView* BrowserView() const { return browserView; }
    // The main viewer's capture flags: while a photo, a timed series or a recording is under way the
    // panel follows the saved files only. Null: never busy. Must outlive the window.
    void SetCaptureState(const CaptureState* state) { captureState = state; }

    // Builds the tree again when the storage root or the folder layout changed since it was last
    // built; then the panel is emptied and the watch moves to the new root. The button's caption
    // follows the language either way.
    void RebuildTree();

    // Handlers of the tree's selection and of the button.
    void OnTreeSelChanged();
    void OnExplore();

    // Finds or grows the tree item of a folder and selects it; false when the tree has no item for
    // `kind`. Selecting it does not move the panel.
    bool SelectFolderItem(const std::string& kind, const std::string& date, const std::string& block);
    // The storage root, then "/" + kind, "/" + date and "/" + block for each one not empty.
    std::string BuildFolderPath(const std::string& kind, const std::string& date,
                                const std::string& block) const;
    // The folder of a tree item: the storage root followed by the item's texts below the top item.
    std::string GetItemFolder(const QTreeWidgetItem* item) const;
    // The first child of `parent` whose text is `text` exactly; null when none.
    static QTreeWidgetItem* FindChildItem(const std::string& text, const QTreeWidgetItem* parent);

    // Splits a saved file's path into its folder texts and name: nested layout
    // .../kind/date/block/name, flat layout .../kind/name. False when there are too few separators.
    static bool SplitSavedPath(const std::string& path, bool nested, std::string& kind, std::string& date,
                               std::string& block, std::string& fileName);

    QTreeWidget* Tree() const { return tree; }
    QWidget* MoreButton() const;
    CResourcesBrowserDlg* Panel() const;
    // Replaces the way folders are opened (tests); null restores the desktop's.
    void SetFolderOpener(FolderOpener folderOpener) { opener = std::move(folderOpener); }

Q_SIGNALS:
    // Interface thread: a file was written and has been handled.
    void SavedFileAnnounced(const QString& path);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnSavedFile(const std::string& path, bool nested);
    void LoadCaption();
    void AddSubfolders(const std::string& path, QTreeWidgetItem* parent, bool nested, int depth);
    QTreeWidgetItem* InsertFolderItem(const std::string& fullPath, const std::string& text,
                                      QTreeWidgetItem* parent);
    QIcon FolderIcon(const std::string& path) const;
    bool IsSaving() const;
    bool IsNested() const;
    std::string Root() const;

    const CSettingParamManage& settings;
    CLocalizableString& strings;
    QTreeWidget* tree = nullptr;
    CLeftAlignedButton* moreButton = nullptr;
    CResourceBrowserView* browserView = nullptr;
    const CaptureState* captureState = nullptr;
    QFileIconProvider iconProvider;
    FolderOpener opener;
    bool treeBuilt = false;
    std::string shownRoot;     // the storage root the tree was last built for
    bool shownNested = false;  // and its layout
    bool selectingForSave = false;
};

}  // namespace orvane
