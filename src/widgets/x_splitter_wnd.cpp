#include "widgets/x_splitter_wnd.h"

#include <QResizeEvent>
#include <algorithm>

#include "widgets/widget_images.h"
#include "widgets/x_splitter_handle.h"

namespace orvane {

namespace {

constexpr int kFrameCount = 3;
constexpr int kColumnFrameWidth = 8;
constexpr int kRowFrameWidth = 50;

int PictureSlot(int id) {
    switch (id) {
        case CXSplitterWnd::kLeftArrowId:
            return 0;
        case CXSplitterWnd::kRightArrowId:
            return 1;
        case CXSplitterWnd::kUpArrowId:
            return 2;
        case CXSplitterWnd::kDownArrowId:
            return 3;
        default:
            return -1;
    }
}

}  // namespace

CXSplitterWnd::CXSplitterWnd(QWidget* parent) : CNormalSplitterWnd(parent) {
    InitWidgetResources();
    setHandleWidth(kGapWidth);
    connect(this, &QSplitter::splitterMoved, this, &CXSplitterWnd::OnSplitterMoved);
}

bool CXSplitterWnd::SetCollapseMode(int mode) {
    if (mode < 1 || mode > 4) return false;
    collapseMode = mode;
    RepaintButton();
    return true;
}

bool CXSplitterWnd::CreateStatic(QWidget* parent, int rows, int cols) {
    if (!CNormalSplitterWnd::CreateStatic(parent, rows, cols)) return false;
    setHandleWidth(kGapWidth);
    LoadImages();
    return true;
}

bool CXSplitterWnd::LoadImages() {
    const char* paths[4] = {kSplitterLeftArrowPath, kSplitterRightArrowPath, kSplitterUpArrowPath,
                            kSplitterDownArrowPath};
    imagesLoaded = true;
    for (int i = 0; i < 4; ++i) {
        pictures[i] = QPixmap(QString::fromLatin1(paths[i]));
        bool column = i < 2;
        QSize expected = column ? QSize(kFrameCount * kColumnFrameWidth, kButtonLength)
                                : QSize(kFrameCount * kRowFrameWidth, kBarWidth);
        if (pictures[i].isNull() || pictures[i].size() != expected) {
            pictures[i] = QPixmap();
            imagesLoaded = false;
        }
    }
    return imagesLoaded;
}

QSplitterHandle* CXSplitterWnd::createHandle() { return new CXSplitterHandle(orientation(), this); }

bool CXSplitterWnd::ModeFitsShape() const {
    if (!IsCreated()) return false;
    bool columnsMode = collapseMode == 1 || collapseMode == 2;
    return columnsMode == (orientation() == Qt::Horizontal);
}

void CXSplitterWnd::ApplyCollapsedLayout() {
    if (collapseMode == 1 || collapseMode == 3)
        ApplyFirstPaneLength(minimumLength[0]);
    else
        ApplyFirstPaneLength(AvailableLength());
}

bool CXSplitterWnd::Collapse() {
    if (collapsed || !ModeFitsShape()) return false;
    savedLength = PaneLength(0);
    savedMinimum = minimumLength[0];
    savedSecondCollapsible = isCollapsible(1);
    if (collapseMode == 1 || collapseMode == 3)
        setCollapsible(0, minimumLength[0] == 0);
    else
        setCollapsible(1, true);
    collapsed = true;
    ApplyCollapsedLayout();
    RepaintButton();
    Q_EMIT CollapsedChanged(true);
    return true;
}

bool CXSplitterWnd::Restore() {
    if (!collapsed) return false;
    collapsed = false;
    minimumLength[0] = savedMinimum;
    setCollapsible(0, savedMinimum == 0);
    setCollapsible(1, savedSecondCollapsible);
    int available = AvailableLength();
    if (savedLength > savedMinimum && savedLength < available) {
        ApplyFirstPaneLength(savedLength);
    } else {
        // One of the panes had no room of its own when the splitter collapsed: bring both back at the
        // ideal sizes, or at a quarter of the room when there are none.
        RecalcLayout();
        int length = PaneLength(0);
        if (length <= savedMinimum || length >= available)
            ApplyFirstPaneLength(std::max(savedMinimum, available / 4));
    }
    RepaintButton();
    Q_EMIT CollapsedChanged(false);
    return true;
}

bool CXSplitterWnd::ToggleCollapse() { return collapsed ? Restore() : Collapse(); }

void CXSplitterWnd::SwitchDirection() {
    static const int opposite[5] = {0, 2, 1, 4, 3};
    collapseMode = opposite[collapseMode];
    RepaintButton();
}

QRect CXSplitterWnd::ButtonRect() const {
    if (!ModeFitsShape() || count() < 2) return {};
    QSplitterHandle* bar = handle(1);
    if (!bar) return {};
    QRect g = bar->geometry();
    if (orientation() == Qt::Horizontal)
        return QRect(g.left() + kBorderWidth, height() / 2 - kButtonLength / 2, kBarWidth, kButtonLength);
    return QRect(width() / 2 - kButtonLength / 2, g.top() + kBorderWidth, kButtonLength, kBarWidth);
}

bool CXSplitterWnd::HitTestButton(const QPoint& position) const { return ButtonRect().contains(position); }

void CXSplitterWnd::SetButtonHot(bool hot) {
    if (buttonHot == hot) return;
    buttonHot = hot;
    RepaintButton();
}

int CXSplitterWnd::PictureId() const {
    switch (collapseMode) {
        case 1:
            return collapsed ? kRightArrowId : kLeftArrowId;
        case 2:
            return collapsed ? kLeftArrowId : kRightArrowId;
        case 3:
            return collapsed ? kDownArrowId : kUpArrowId;
        default:
            return collapsed ? kUpArrowId : kDownArrowId;
    }
}

QPixmap CXSplitterWnd::ButtonPicture() const {
    int slot = PictureSlot(PictureId());
    if (slot < 0 || pictures[slot].isNull()) return {};
    int frame = !isEnabled() ? 2 : buttonHot ? 1 : 0;
    if (slot < 2) return pictures[slot].copy(frame * kColumnFrameWidth, 0, kColumnFrameWidth, kButtonLength);
    return pictures[slot].copy(frame * kRowFrameWidth, 0, kRowFrameWidth, kBarWidth);
}

void CXSplitterWnd::resizeEvent(QResizeEvent* event) {
    CNormalSplitterWnd::resizeEvent(event);
    if (collapsed) ApplyCollapsedLayout();
}

void CXSplitterWnd::OnSplitterMoved() {
    if (!collapsed) return;
    // The user dragged the bar: pane 0 is no longer folded away, the button must offer to fold it.
    bool stillCollapsed =
        (collapseMode == 1 || collapseMode == 3) ? PaneLength(0) <= minimumLength[0] : PaneLength(1) == 0;
    if (stillCollapsed) return;
    collapsed = false;
    minimumLength[0] = savedMinimum;
    setCollapsible(0, savedMinimum == 0);
    setCollapsible(1, savedSecondCollapsible);
    RepaintButton();
    Q_EMIT CollapsedChanged(false);
}

void CXSplitterWnd::RepaintButton() {
    if (count() >= 2 && handle(1)) handle(1)->update();
}

}  // namespace orvane
