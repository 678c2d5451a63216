#pragma once

#include <QMenu>
#include <QSet>
#include <QString>

namespace orvane {

class BCMenuStyle;

// The owner-drawn popup menu of the menu button: items with a command id, a caption and a picture from
// a file, drawn by BCMenuStyle. Check marks are set only through SetCheck (choosing an item does not
// toggle it), so the owner decides which item carries the mark. Each item's caption is its action's
// text and so its accessible name. UI thread only.
class BCMenu : public QMenu {
    Q_OBJECT

public:
    // Item flags, combinable.
    enum : unsigned {
        MF_STRING = 0x0,
        MF_GRAYED = 0x1,
        MF_DISABLED = 0x2,
        MF_CHECKED = 0x8,
        MF_SEPARATOR = 0x800
    };

    explicit BCMenu(QWidget* parent = nullptr);
    ~BCMenu() override;

    // Appends an item; imageFile is relative to ImageFolder() (an absolute path is taken as is) and may
    // be empty. A picture that cannot be read leaves the item without one. Returns the item's action,
    // or null when commandId is already in the menu (separators take no id).
    QAction* AppendMenu(unsigned flags, int commandId, const QString& text, const QString& imageFile = {});

    // Puts the check mark on (or takes it off) the item of commandId; false when there is none.
    bool SetCheck(int commandId, bool checked);
    bool IsChecked(int commandId) const;
    // New caption for the item of commandId; false when there is none.
    bool SetMenuText(int commandId, const QString& text);
    // New picture for the item of commandId; false when there is no such item or the file cannot be
    // read (the item then has no picture).
    bool SetImageFile(int commandId, const QString& imageFile);
    bool HasImage(int commandId) const;
    QAction* FindCommand(int commandId) const;
    // Items other than separators.
    int CommandCount() const;

    // Folder of the picture names; RotateImageFolder() unless set.
    void SetImageFolder(const QString& folder) { imageFolder = folder; }
    QString ImageFolder() const { return imageFolder; }

    // The flat look follows a themed application, the classic look the classic style; decided once.
    static bool DefaultXPLook();
    bool IsXPLook() const;
    void SetXPLook(bool xp);
    const BCMenuStyle* ItemStyle() const { return itemStyle; }

Q_SIGNALS:
    void CommandChosen(int commandId);

private:
    void OnTriggered(QAction* action);
    void SyncChecks();

    BCMenuStyle* itemStyle;  // child of the menu
    QString imageFolder;
    QSet<int> checkedCommands;
};

}  // namespace orvane
