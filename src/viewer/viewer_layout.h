#pragma once

#include <QIcon>
#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <map>
#include <string>

#include "localization/string_keys.h"
#include "widgets/theme_helper_st.h"

class QAbstractButton;
class QLabel;
class QWidget;

namespace orvane {

struct CaptureState;
class CCoolBtn;
class CLocalizableString;
class CNormalSplitterWnd;
class CPreviewWindow;
class CResourceBrowserView;
class CResourceWindow;
class CSettingParamManage;
class CXSplitterWnd;

// The face of the main viewer: the toolbar of image buttons, the bottom row (label, separator,
// prompt line, Tools menu button, rotate menu button, full-screen button), the two splitters with the
// three panes, the captions, the layout at every size and full screen. It owns no part of the
// viewer's behaviour: it needs only the window its controls live in and the string table. Interface
// thread only.
class CViewerLayout final : public QObject {
    Q_OBJECT

public:
    CViewerLayout(QWidget& window, CLocalizableString& strings);
    ~CViewerLayout() override;

    // The window icon.
    QIcon AppIcon() const;
    // The window size the viewer opens with: its template size, at most nine tenths of the screen.
    QSize InitialSize() const;
    // The smallest size at which the toolbar, the bottom row and a usable picture still fit.
    QSize MinimumSize() const;
    // The client rectangle the window opens with, centred on the available area of its screen so that
    // its frame (title bar included, `frame` or at least FrameAllowance) lies wholly on it whichever
    // way the window manager reads the position: as the client's (static gravity) or as the frame's
    // top-left corner (what openbox does with Qt's requests).
    QRect InitialGeometry(const QMargins& frame) const;
    // `frame`, but at least what a window manager's title bar and borders usually take.
    static QMargins FrameAllowance(const QMargins& frame);

    // The toolbar buttons with their pictures, the bottom row and the rotate button with its menu.
    void CreateControls();
    // The splitters and panes over the picture area. Without the left splitter there are no panes.
    void CreatePanes(const CSettingParamManage& settings, CaptureState& captureState);
    // Every localized text but the Recording and Timed Shot captions (the viewer sets those).
    void LoadCaptions();
    // Caption, accessible name and tooltip of a button.
    void SetCaption(int controlId, const std::string& text);

    // cx, cy: the viewer's client size.
    void Layout(int cx, int cy);
    void ShowControls(bool show);

    // The window manager's full-screen state, with the toolbar and the bottom row hidden and the left
    // column folded away together with the splitter's strip. Leaving gives the window manager's
    // previous state and geometry back.
    void EnterFullScreen();
    void ExitFullScreen();
    bool IsFullScreen() const { return isFullScreen; }
    bool ColumnWasCollapsed() const { return columnWasCollapsed; }
    QRect SavedWindowRect() const { return savedWindowRect; }

    // The left column of the main splitter. Each does nothing when the column already is so.
    void CollapseLeftColumn();
    void RestoreLeftColumn();
    bool IsLeftColumnCollapsed() const;

    // Moves the check mark of the rotate menu from oldId (0: none) to newId.
    void SetRotateCheck(int oldId, int newId);

    // Puts the check mark of a Tools menu item on or off.
    void SetToolsCheck(int commandId, bool checked);
    bool IsToolsChecked(int commandId) const;

    // A control by id (buttons, labels, placeholders, the rotate button); null when there is none.
    QWidget* Control(int controlId) const;
    QAbstractButton* Button(int controlId) const;
    QLabel* PromptLine() const;
    CCoolBtn* RotateButton() const { return rotateButton; }
    CCoolBtn* ToolsButton() const { return toolsButton; }
    CXSplitterWnd* MainSplitter() const { return mainSplitter; }
    CNormalSplitterWnd* LeftSplitter() const { return leftSplitter; }
    CPreviewWindow* PreviewWindow() const { return previewWindow; }
    CResourceWindow* ResourceWindow() const { return resourceWindow; }
    CResourceBrowserView* BrowserView() const { return browserView; }

    // The fixed rectangles of the window, in pixels for the viewer's font.
    QRect TemplateRect(int x, int y, int width, int height) const;

Q_SIGNALS:
    void RotateCommand(int commandId);
    void ToolsCommand(int commandId);
    // The pointer moved over a picture button; the position is in the viewer's coordinates.
    void PointerOverButton(QPoint position);

private:
    void CreateImageButton(int controlId, const char* imageFile, QRect rect);
    void PlacePictureArea(const QRect& area);
    void MoveToBottom(QWidget* widget, int cy);
    std::string Text(const StringKey& text) const;

    QWidget& viewer;
    CLocalizableString& strings;
    CThemeHelperST theme;
    std::map<int, QWidget*> controls;  // children of the viewer
    CCoolBtn* rotateButton = nullptr;
    CCoolBtn* toolsButton = nullptr;
    CXSplitterWnd* mainSplitter = nullptr;
    CNormalSplitterWnd* leftSplitter = nullptr;
    CPreviewWindow* previewWindow = nullptr;
    CResourceWindow* resourceWindow = nullptr;
    CResourceBrowserView* browserView = nullptr;

    bool isFullScreen = false;
    bool columnWasCollapsed = false;
    bool wasMaximized = false;
    QRect savedWindowRect;
    double unitX = 1.5;  // pixels per horizontal dialog unit
    double unitY = 1.625;
};

}  // namespace orvane
