#include "widgets/bc_menu.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QStyle>

#include "widgets/bc_menu_style.h"
#include "widgets/theme_helper_st.h"
#include "widgets/widget_images.h"

namespace orvane {

namespace {

QIcon LoadItemImage(const QString& path) {
    QImage image;
    if (path.isEmpty() || !image.load(path)) return {};
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace

BCMenu::BCMenu(QWidget* parent) : QMenu(parent), itemStyle(new BCMenuStyle(DefaultXPLook())) {
    itemStyle->setParent(this);
    setStyle(itemStyle);
    imageFolder = RotateImageFolder();
    connect(this, &QMenu::triggered, this, &BCMenu::OnTriggered);
}

BCMenu::~BCMenu() { setStyle(nullptr); }

bool BCMenu::DefaultXPLook() {
    static const bool xp = CThemeHelperST().IsAppThemed();
    return xp;
}

bool BCMenu::IsXPLook() const { return itemStyle->IsXPLook(); }

void BCMenu::SetXPLook(bool xp) {
    itemStyle->SetXPLook(xp);
    // Item sizes depend on the look: make the menu measure its items again.
    QEvent changed(QEvent::StyleChange);
    QApplication::sendEvent(this, &changed);
    update();
}

QAction* BCMenu::AppendMenu(unsigned flags, int commandId, const QString& text, const QString& imageFile) {
    if (flags & MF_SEPARATOR) return addSeparator();
    if (FindCommand(commandId)) return nullptr;
    QAction* action = addAction(text);
    action->setData(commandId);
    action->setEnabled(!(flags & (MF_GRAYED | MF_DISABLED)));
    action->setIcon(LoadItemImage(ImagePath(imageFolder, imageFile)));
    if (flags & MF_CHECKED) checkedCommands.insert(commandId);
    SyncChecks();
    return action;
}

QAction* BCMenu::FindCommand(int commandId) const {
    const QList<QAction*> items = actions();
    for (QAction* action : items) {
        if (!action->isSeparator() && action->data().toInt() == commandId) return action;
    }
    return nullptr;
}

int BCMenu::CommandCount() const {
    int count = 0;
    const QList<QAction*> items = actions();
    for (QAction* action : items) count += action->isSeparator() ? 0 : 1;
    return count;
}

bool BCMenu::SetCheck(int commandId, bool checked) {
    if (!FindCommand(commandId)) return false;
    if (checked)
        checkedCommands.insert(commandId);
    else
        checkedCommands.remove(commandId);
    SyncChecks();
    return true;
}

bool BCMenu::IsChecked(int commandId) const { return checkedCommands.contains(commandId); }

bool BCMenu::SetMenuText(int commandId, const QString& text) {
    QAction* action = FindCommand(commandId);
    if (!action) return false;
    action->setText(text);
    return true;
}

bool BCMenu::SetImageFile(int commandId, const QString& imageFile) {
    QAction* action = FindCommand(commandId);
    if (!action) return false;
    action->setIcon(LoadItemImage(ImagePath(imageFolder, imageFile)));
    return !action->icon().isNull();
}

bool BCMenu::HasImage(int commandId) const {
    QAction* action = FindCommand(commandId);
    return action && !action->icon().isNull();
}

void BCMenu::SyncChecks() {
    // An item is checkable only while it carries the mark, so the mark shows (and is announced) on
    // that item alone.
    const QList<QAction*> items = actions();
    for (QAction* action : items) {
        if (action->isSeparator()) continue;
        bool checked = checkedCommands.contains(action->data().toInt());
        if (checked) action->setCheckable(true);
        action->setChecked(checked);
        if (!checked) action->setCheckable(false);
    }
}

void BCMenu::OnTriggered(QAction* action) {
    if (!action || action->isSeparator()) return;
    SyncChecks();  // undo the toggle Qt applies to a checkable action
    Q_EMIT CommandChosen(action->data().toInt());
}

}  // namespace orvane
