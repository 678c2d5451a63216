#include "viewer/viewer_layout.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "base/alert_sink.h"
#include "localization/localizable_string.h"
#include "media/ui/resource_browser_view.h"
#include "media/ui/resource_window.h"
#include "media/ui/resources_browser_dlg.h"
#include "viewer/preview_window.h"
#include "viewer/viewer_controls.h"
#include "viewer/window_manager.h"
#include "widgets/cool_btn.h"
#include "widgets/normal_splitter_wnd.h"
#include "widgets/widget_images.h"
#include "widgets/x_splitter_wnd.h"
#include "widgets/xp_style_button_st.h"

namespace orvane {

namespace {

// The window's size and its controls in dialog units (x, y, width, height).
constexpr int kWindowWidthDu = 699;
constexpr int kWindowHeightDu = 479;
struct TemplateControl {
    int id;
    int x, y, width, height;
};
constexpr TemplateControl kToolbar[] = {
    {viewer_id::kSettings, 1, 2, 37, 24},   {viewer_id::kTakePhoto, 39, 2, 37, 24},
    {viewer_id::kTimedShot, 77, 2, 37, 24}, {viewer_id::kRecording, 115, 2, 37, 24},
    {viewer_id::kAbout, 153, 2, 37, 24},    {viewer_id::kExit, 191, 2, 37, 24},
};
constexpr TemplateControl kPictureAreaDu{viewer_id::kPictureArea, 0, 37, 697, 421};
constexpr TemplateControl kHintLabelDu{viewer_id::kHintLabel, 3, 464, 36, 12};
constexpr TemplateControl kSeparatorDu{viewer_id::kSeparator, 41, 463, 1, 16};
constexpr TemplateControl kPromptLineDu{viewer_id::kPromptLine, 48, 464, 501, 12};
constexpr TemplateControl kFullScreenDu{viewer_id::kFullScreen, 663, 462, 32, 15};
constexpr TemplateControl kRotateSizerDu{viewer_id::kRotateSizer, 571, 463, 46, 15};
constexpr TemplateControl kRotatePlaceholderDu{viewer_id::kRotatePlaceholder, 545, 462, 23, 15};

// The smallest picture area the window may be shrunk to, and what is kept free around the window
// for a frame the window manager has not reported yet (title bar and borders).
constexpr int kMinimumPictureWidth = 640;
constexpr int kMinimumPictureHeight = 320;
constexpr QMargins kFrameAllowance(6, 36, 6, 6);

constexpr int kFullScreenButtonWidth = 32;
constexpr int kFullScreenButtonHeight = 28;
constexpr int kRotateButtonWidening = 7;

struct ImageButton {
    int id;
    const char* imageFile;
};
// In the order the buttons get their pictures.
constexpr ImageButton kImageButtons[] = {
    {viewer_id::kSettings, "Setting.png"},         {viewer_id::kAbout, "Help.png"},
    {viewer_id::kTakePhoto, "TakeAShot.png"},      {viewer_id::kTimedShot, "TimedShot.png"},
    {viewer_id::kRecording, "RecordingMovie.png"}, {viewer_id::kExit, "Exit.png"},
    {viewer_id::kFullScreen, "FullScreen.png"},    {viewer_id::kRotatePlaceholder, "rotate.png"},
};

struct MenuItem {
    int id;
    StringKey text;
    const char* imageFile;
};
constexpr MenuItem kRotateMenu[] = {
    {viewer_id::kRotateRight90, keys::kViewMenuRotate90Bycw, "right90.png"},
    {viewer_id::kRotateLeft90, keys::kViewMenuRotate90Byccw, "left90.png"},
    {viewer_id::kRotate180, keys::kViewMenuRotate180, "180.png"},
    {viewer_id::kFlipVertical, keys::kViewMenuFlipVertical, "verz.png"},
    {viewer_id::kFlipHorizontal, keys::kViewMenuFlipHorizontal, "horz.png"},
};

constexpr MenuItem kToolsMenu[] = {
    {viewer_id::kToolsScaleBar, keys::kToolsMenuScaleBar, nullptr},
    {viewer_id::kToolsCrosshair, keys::kToolsMenuCrosshair, nullptr},
    {viewer_id::kToolsGrid, keys::kToolsMenuGrid, nullptr},
    {viewer_id::kToolsMeasure, keys::kToolsMenuMeasure, nullptr},
    {viewer_id::kToolsBurnIn, keys::kToolsMenuBurnIn, nullptr},
    {viewer_id::kToolsCalibrate, keys::kToolsMenuCalibrate, nullptr},
};
// The Tools button lies in the room the hidden rotate placeholder and sizer leave between the prompt
// line and the rotate button, this far from the rotate button.
constexpr int kToolsButtonGap = 2;

// The keys that act as a button, shown after its caption in its tooltip.
struct ButtonShortcut {
    int id;
    const char* keyText;
};
constexpr ButtonShortcut kButtonShortcuts[] = {
    {viewer_id::kTakePhoto, "Space"}, {viewer_id::kRecording, "R"},    {viewer_id::kTimedShot, "T"},
    {viewer_id::kFullScreen, "F11"},  {viewer_id::kSettings, "Ctrl+,"}, {viewer_id::kExit, "Ctrl+Q"},
};

QString TooltipWithShortcut(int controlId, const QString& caption) {
    for (const ButtonShortcut& shortcut : kButtonShortcuts) {
        if (shortcut.id == controlId) return caption + QStringLiteral(" (%1)").arg(QLatin1String(shortcut.keyText));
    }
    return caption;
}

// Shown and hidden together, in this order.
constexpr int kShownControls[] = {viewer_id::kAbout,      viewer_id::kSettings,  viewer_id::kTakePhoto,
                                  viewer_id::kTimedShot,  viewer_id::kRecording, viewer_id::kExit,
                                  viewer_id::kFullScreen, viewer_id::kHintLabel, viewer_id::kPromptLine,
                                  viewer_id::kSeparator};

void ShowError(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Orvane"), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
}

}  // namespace

CViewerLayout::CViewerLayout(QWidget& window, CLocalizableString& strings_)
    : QObject(nullptr), viewer(window), strings(strings_) {
    InitWidgetResources();
    // Dialog units follow the window's font, as the template's sizes were meant for it.
    const QFontMetrics metrics(viewer.font());
    const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const double averageWidth = metrics.horizontalAdvance(alphabet) / 52.0;
    if (averageWidth > 0 && metrics.height() > 0) {
        unitX = std::round(averageWidth) / 4.0;
        unitY = metrics.height() / 8.0;
    }
}

CViewerLayout::~CViewerLayout() = default;

QIcon CViewerLayout::AppIcon() const { return QIcon(QString::fromUtf8(kAppIconPath)); }

QRect CViewerLayout::TemplateRect(int x, int y, int width, int height) const {
    return QRect(static_cast<int>(x * unitX), static_cast<int>(y * unitY),
                 std::max(1, static_cast<int>(width * unitX)), std::max(1, static_cast<int>(height * unitY)));
}

QSize CViewerLayout::InitialSize() const { return InitialGeometry(QMargins()).size(); }

QSize CViewerLayout::MinimumSize() const {
    const QRect settingsButton =
        TemplateRect(kToolbar[0].x, kToolbar[0].y, kToolbar[0].width, kToolbar[0].height);
    const TemplateControl& last = kToolbar[std::size(kToolbar) - 1];
    const int toolbarWidth = TemplateRect(0, 0, last.x + last.width, 1).width();
    const int pictureTop = settingsButton.bottom() + 1 + 2;
    const int bottomRow =
        std::max(kFullScreenButtonHeight, TemplateRect(0, 0, 1, kHintLabelDu.height).height());
    return QSize(std::max(kMinimumPictureWidth, toolbarWidth),
                 pictureTop + kMinimumPictureHeight + 10 + bottomRow);
}

QMargins CViewerLayout::FrameAllowance(const QMargins& frame) {
    return QMargins(
        std::max(frame.left(), kFrameAllowance.left()), std::max(frame.top(), kFrameAllowance.top()),
        std::max(frame.right(), kFrameAllowance.right()), std::max(frame.bottom(), kFrameAllowance.bottom()));
}

QRect CViewerLayout::InitialGeometry(const QMargins& frame) const {
    const QMargins allowance = FrameAllowance(frame);
    // Read either way, the frame lies within the client grown by the allowance on the right and
    // bottom and by twice the allowance on the left and top.
    const QMargins both(allowance.left(), allowance.top(), allowance.left() + allowance.right(),
                        allowance.top() + allowance.bottom());
    QSize size = TemplateRect(0, 0, kWindowWidthDu, kWindowHeightDu).size();
    const QScreen* screen = viewer.screen() != nullptr ? viewer.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return QRect(QPoint(both.left(), both.top()), size.expandedTo(MinimumSize()));
    const QRect available = screen->availableGeometry();
    size = size.boundedTo(QSize(available.width() - both.left() - both.right(),
                                available.height() - both.top() - both.bottom()));
    size = size.expandedTo(MinimumSize());
    const int slackX = available.width() - size.width() - both.left() - both.right();
    const int slackY = available.height() - size.height() - both.top() - both.bottom();
    return QRect(QPoint(available.x() + std::max(0, slackX / 2) + both.left(),
                        available.y() + std::max(0, slackY / 2) + both.top()),
                 size);
}

std::string CViewerLayout::Text(const StringKey& text) const { return strings.GetString(text); }

QWidget* CViewerLayout::Control(int controlId) const {
    auto found = controls.find(controlId);
    return found != controls.end() ? found->second : nullptr;
}

QAbstractButton* CViewerLayout::Button(int controlId) const {
    return qobject_cast<QAbstractButton*>(Control(controlId));
}

QLabel* CViewerLayout::PromptLine() const { return qobject_cast<QLabel*>(Control(viewer_id::kPromptLine)); }

void CViewerLayout::CreateImageButton(int controlId, const char* imageFile, QRect rect) {
    auto* button = new CXPStyleButtonST(&viewer);
    button->setObjectName(QStringLiteral("button%1").arg(controlId));
    button->setProperty("controlId", controlId);
    button->setGeometry(rect);
    button->setAutoDefault(false);
    button->setDefault(false);
    // Reached by Tab, never taken by a click: the focus stays on the live picture, where Space, R and
    // T act as their buttons, whatever button or menu was used last.
    button->setFocusPolicy(Qt::TabFocus);
    button->setMouseTracking(true);
    button->SetThemeHelper(&theme);
    if (!theme.IsAppThemed(button)) button->SetFlat(false);
    button->SetImageFile(QString::fromUtf8(imageFile));
    button->LightenInBackground();
    button->SetOwner(&viewer);
    connect(button, &CButtonST::MouseMovedOver, this,
            [this](CButtonST*, QPoint position) { Q_EMIT PointerOverButton(position); });
    controls[controlId] = button;
}

void CViewerLayout::CreateControls() {
    auto rectOf = [this](const TemplateControl& c) { return TemplateRect(c.x, c.y, c.width, c.height); };
    std::map<int, QRect> rects;
    for (const TemplateControl& c : kToolbar) rects[c.id] = rectOf(c);
    rects[viewer_id::kFullScreen] = rectOf(kFullScreenDu);
    rects[viewer_id::kRotatePlaceholder] = rectOf(kRotatePlaceholderDu);
    for (const ImageButton& b : kImageButtons) CreateImageButton(b.id, b.imageFile, rects[b.id]);
    Control(viewer_id::kRotatePlaceholder)->hide();
    SetCaption(viewer_id::kRotatePlaceholder, Text(keys::kViewBtnRotate));

    auto* area = new QWidget(&viewer);
    area->setObjectName(QStringLiteral("pictureArea"));
    area->setAccessibleName(QStringLiteral("main viewer"));
    area->setGeometry(rectOf(kPictureAreaDu));
    area->hide();
    controls[viewer_id::kPictureArea] = area;

    auto* hint = new QLabel(&viewer);
    hint->setObjectName(QStringLiteral("hintLabel"));
    hint->setGeometry(rectOf(kHintLabelDu));
    controls[viewer_id::kHintLabel] = hint;

    auto* separator = new QFrame(&viewer);
    separator->setObjectName(QStringLiteral("separator"));
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    QRect separatorRect = rectOf(kSeparatorDu);
    separatorRect.setWidth(std::max(2, separatorRect.width()));
    separator->setGeometry(separatorRect);
    controls[viewer_id::kSeparator] = separator;

    auto* prompt = new QLabel(&viewer);
    prompt->setObjectName(QStringLiteral("promptLine"));
    prompt->setGeometry(rectOf(kPromptLineDu));
    prompt->setTextFormat(Qt::PlainText);
    prompt->setMouseTracking(true);
    controls[viewer_id::kPromptLine] = prompt;

    auto* sizer = new QLineEdit(&viewer);
    sizer->setObjectName(QStringLiteral("rotateSizer"));
    sizer->setGeometry(rectOf(kRotateSizerDu));
    sizer->hide();
    controls[viewer_id::kRotateSizer] = sizer;

    rotateButton = new CCoolBtn(&viewer);
    rotateButton->setObjectName(QStringLiteral("rotateButton"));
    rotateButton->setProperty("controlId", viewer_id::kRotateButton);
    rotateButton->setAutoDefault(false);
    rotateButton->setDefault(false);
    rotateButton->setFocusPolicy(Qt::TabFocus);  // as the image buttons
    const QRect rotateRect = sizer->geometry().adjusted(-kRotateButtonWidening, 0, kRotateButtonWidening, 0);
    rotateButton->Create(QString::fromStdString(Text(keys::kViewPopupBtnFlip)), rotateRect, &viewer,
                         viewer_id::kRotateButton);
    rotateButton->SetImageFile(QStringLiteral("rotate.png"));
    for (const MenuItem& item : kRotateMenu) {
        rotateButton->Menu().AppendMenu(BCMenu::MF_STRING, item.id, QString::fromStdString(Text(item.text)),
                                        QString::fromUtf8(item.imageFile));
    }
    connect(rotateButton, &CCoolBtn::CommandChosen, this, &CViewerLayout::RotateCommand);
    controls[viewer_id::kRotateButton] = rotateButton;

    toolsButton = new CCoolBtn(&viewer);
    toolsButton->setObjectName(QStringLiteral("toolsButton"));
    toolsButton->setProperty("controlId", viewer_id::kToolsButton);
    toolsButton->setAutoDefault(false);
    toolsButton->setDefault(false);
    toolsButton->Create(QString::fromStdString(Text(keys::kViewBtnTools)), rotateRect, &viewer,
                        viewer_id::kToolsButton);
    toolsButton->SetImageFile(QStringLiteral("tools.png"));
    toolsButton->setFocusPolicy(Qt::TabFocus);  // as the image buttons
    for (const MenuItem& item : kToolsMenu) {
        if (item.id == viewer_id::kToolsBurnIn || item.id == viewer_id::kToolsCalibrate) {
            toolsButton->Menu().AppendMenu(BCMenu::MF_SEPARATOR, 0, QString());
        }
        toolsButton->Menu().AppendMenu(BCMenu::MF_STRING, item.id, QString::fromStdString(Text(item.text)));
    }
    connect(toolsButton, &CCoolBtn::CommandChosen, this, &CViewerLayout::ToolsCommand);
    controls[viewer_id::kToolsButton] = toolsButton;
}

void CViewerLayout::CreatePanes(const CSettingParamManage& settings, CaptureState& captureState) {
    const QRect area = Control(viewer_id::kPictureArea)->geometry();
    const int w = area.width();
    const int h = area.height();
    const int cw = w / 4;

    mainSplitter = new CXSplitterWnd(&viewer);
    mainSplitter->setObjectName(QStringLiteral("mainSplitter"));
    mainSplitter->SetCollapseMode(1);
    mainSplitter->CreateStatic(&viewer, 1, 2);
    if (!mainSplitter->HasImages()) ShowError(Text(keys::kAlertError));
    // In full screen the folded column's strip lies outside the window; a column that comes back
    // there brings the strip back into view.
    connect(mainSplitter, &CXSplitterWnd::CollapsedChanged, this, [this] {
        if (isFullScreen) Layout(viewer.width(), viewer.height());
    });

    leftSplitter = new CNormalSplitterWnd;
    leftSplitter->setObjectName(QStringLiteral("leftSplitter"));
    if (!leftSplitter->CreateStatic(nullptr, 2, 1)) {
        delete leftSplitter;
        leftSplitter = nullptr;
        return;
    }
    resourceWindow = new CResourceWindow(settings, strings);
    resourceWindow->SetCaptureState(&captureState);
    browserView = new CResourceBrowserView(settings);
    browserView->Panel()->SetStrings(&strings);
    previewWindow = new CPreviewWindow(settings);
    resourceWindow->setObjectName(QStringLiteral("resourceWindow"));
    browserView->setObjectName(QStringLiteral("browserView"));
    previewWindow->setObjectName(QStringLiteral("previewWindow"));
    leftSplitter->CreateView(0, 0, resourceWindow, QSize(cw, h / 3));
    leftSplitter->CreateView(1, 0, browserView, QSize(cw, 2 * h / 3));
    mainSplitter->CreateView(0, 0, leftSplitter, QSize(cw, h));
    mainSplitter->CreateView(0, 1, previewWindow, QSize(w - cw, h));
    mainSplitter->SetColumnInfo(0, cw, 0);
    leftSplitter->SetRowInfo(0, h / 3, 0);
    resourceWindow->SetBrowserView(browserView);
    mainSplitter->setGeometry(area);
    mainSplitter->show();
}

void CViewerLayout::SetCaption(int controlId, const std::string& text) {
    const QString caption = QString::fromStdString(text);
    QWidget* control = Control(controlId);
    if (auto* imageButton = qobject_cast<CButtonST*>(control)) {
        imageButton->SetCaption(caption);
        imageButton->SetTooltipText(TooltipWithShortcut(controlId, caption));
    } else if (auto* cool = qobject_cast<CCoolBtn*>(control)) {
        cool->SetCaption(caption);
        cool->setToolTip(caption);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(caption);
        label->setAccessibleName(caption);
    }
}

void CViewerLayout::LoadCaptions() {
    SetCaption(viewer_id::kExit, Text(keys::kViewBtnExitSystem));
    SetCaption(viewer_id::kTakePhoto, Text(keys::kViewBtnTakeAShot));
    SetCaption(viewer_id::kSettings, Text(keys::kViewBtnSettings));
    SetCaption(viewer_id::kAbout, Text(keys::kViewBtnAbout));
    SetCaption(viewer_id::kFullScreen, Text(keys::kViewBtnFullScreen));
    SetCaption(viewer_id::kHintLabel, Text(keys::kViewLabPrompt));
    viewer.setWindowTitle(QString::fromStdString(Text(keys::kDlgViewer)));
    viewer.setAccessibleName(viewer.windowTitle());
    SetCaption(viewer_id::kRotateButton, Text(keys::kViewPopupBtnFlip));
    SetCaption(viewer_id::kRotatePlaceholder, Text(keys::kViewBtnRotate));
    SetCaption(viewer_id::kToolsButton, Text(keys::kViewBtnTools));
    if (toolsButton != nullptr) {
        for (const MenuItem& item : kToolsMenu) {
            toolsButton->Menu().SetMenuText(item.id, QString::fromStdString(Text(item.text)));
        }
    }
    if (rotateButton != nullptr) {
        for (const MenuItem& item : kRotateMenu) {
            rotateButton->Menu().SetMenuText(item.id, QString::fromStdString(Text(item.text)));
        }
    }
    if (QLabel* prompt = PromptLine()) prompt->setAccessibleName(prompt->text());
}

void CViewerLayout::MoveToBottom(QWidget* widget, int cy) {
    if (widget != nullptr) widget->move(widget->x(), cy - widget->height());
}

void CViewerLayout::PlacePictureArea(const QRect& area) {
    if (QWidget* placeholder = Control(viewer_id::kPictureArea)) placeholder->setGeometry(area);
    if (mainSplitter != nullptr) mainSplitter->setGeometry(area);
}

void CViewerLayout::Layout(int cx, int cy) {
    MoveToBottom(Control(viewer_id::kHintLabel), cy);
    MoveToBottom(Control(viewer_id::kSeparator), cy);
    QWidget* fullScreen = Control(viewer_id::kFullScreen);
    if (fullScreen != nullptr) {
        fullScreen->setGeometry(cx - kFullScreenButtonWidth, cy - kFullScreenButtonHeight,
                                kFullScreenButtonWidth, kFullScreenButtonHeight);
    }
    // Each of the next three ends where the one to its right begins.
    int rightEdge = fullScreen != nullptr ? fullScreen->x() : cx;
    for (int id : {viewer_id::kRotateButton, viewer_id::kRotateSizer, viewer_id::kRotatePlaceholder}) {
        QWidget* control = Control(id);
        if (control == nullptr) continue;
        control->move(rightEdge - control->width(), cy - control->height());
        rightEdge = control->x();
    }
    if (toolsButton != nullptr && rotateButton != nullptr) {
        toolsButton->move(rotateButton->x() - kToolsButtonGap - toolsButton->width(), cy - toolsButton->height());
    }
    QWidget* separator = Control(viewer_id::kSeparator);
    QWidget* placeholder = Control(viewer_id::kRotatePlaceholder);
    if (QWidget* prompt = Control(viewer_id::kPromptLine);
        prompt != nullptr && separator != nullptr && placeholder != nullptr) {
        const int left = separator->geometry().right() + 1 + 10;
        const int right = placeholder->x() - 1;
        prompt->setGeometry(left, cy - prompt->height(), std::max(0, right - left), prompt->height());
    }
    QWidget* settingsButton = Control(viewer_id::kSettings);
    QWidget* hint = Control(viewer_id::kHintLabel);
    if (settingsButton == nullptr || hint == nullptr) return;
    if (isFullScreen) {
        // The toolbar and the bottom row are hidden: the picture takes the whole window. With the
        // left column folded away, its strip is moved out past the window's left edge.
        const int strip =
            mainSplitter != nullptr && IsLeftColumnCollapsed() ? mainSplitter->handleWidth() : 0;
        PlacePictureArea(QRect(-strip, 0, cx + strip, cy));
        return;
    }
    const int top = settingsButton->geometry().bottom() + 1 + 2;
    const int height = hint->y() - 10 - top;
    PlacePictureArea(QRect(0, top, cx, std::max(0, height)));
}

void CViewerLayout::ShowControls(bool show) {
    for (int id : kShownControls) {
        if (QWidget* control = Control(id)) control->setVisible(show);
    }
    if (rotateButton != nullptr) rotateButton->setVisible(show);
    if (toolsButton != nullptr) toolsButton->setVisible(show);
}

void CViewerLayout::CollapseLeftColumn() {
    if (mainSplitter != nullptr) mainSplitter->Collapse();
}

void CViewerLayout::RestoreLeftColumn() {
    if (mainSplitter != nullptr) mainSplitter->Restore();
}

bool CViewerLayout::IsLeftColumnCollapsed() const {
    return mainSplitter != nullptr && mainSplitter->IsCollapsed();
}

void CViewerLayout::EnterFullScreen() {
    if (isFullScreen) return;
    savedWindowRect = viewer.geometry();
    wasMaximized = viewer.isMaximized();
    ShowControls(false);
    columnWasCollapsed = IsLeftColumnCollapsed();
    CollapseLeftColumn();
    isFullScreen = true;
    // The window manager sizes the window for its full-screen state and takes the frame away.
    viewer.showFullScreen();
    // Only where no window manager does it (a bare X server) is the window sized here.
    if (!WindowManagerHandlesFullScreen()) {
        if (const QScreen* screen = viewer.screen()) viewer.setGeometry(screen->geometry());
    }
    Layout(viewer.width(), viewer.height());
}

void CViewerLayout::ExitFullScreen() {
    if (!isFullScreen) return;
    if (!columnWasCollapsed) RestoreLeftColumn();
    ShowControls(true);
    isFullScreen = false;
    // The window manager gives back the geometry the window had before.
    if (wasMaximized) {
        viewer.showMaximized();
    } else {
        viewer.showNormal();
        if (!WindowManagerHandlesFullScreen()) viewer.setGeometry(savedWindowRect);
    }
    Layout(viewer.width(), viewer.height());
}

void CViewerLayout::SetToolsCheck(int commandId, bool checked) {
    if (toolsButton != nullptr) toolsButton->Menu().SetCheck(commandId, checked);
}

bool CViewerLayout::IsToolsChecked(int commandId) const {
    return toolsButton != nullptr && toolsButton->Menu().IsChecked(commandId);
}

void CViewerLayout::SetRotateCheck(int oldId, int newId) {
    if (rotateButton == nullptr) return;
    if (oldId != 0) rotateButton->Menu().SetCheck(oldId, false);
    if (newId != 0) rotateButton->Menu().SetCheck(newId, true);
}

}  // namespace orvane
