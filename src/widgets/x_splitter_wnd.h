#pragma once

#include <QPixmap>

#include "widgets/normal_splitter_wnd.h"

namespace orvane {

// The collapsible splitter: its bar carries a small arrow button that folds pane 0 away or gives it
// everything, and brings it back. Collapse modes: 1 column 0 shrinks to its minimum width, 2 column 0
// takes the whole width, 3 row 0 shrinks to its minimum height, 4 row 0 takes the whole height; modes
// 1 and 2 act on a splitter of columns, 3 and 4 on one of rows. UI thread only.
class CXSplitterWnd : public CNormalSplitterWnd {
    Q_OBJECT

public:
    static constexpr int kBarWidth = 8;
    static constexpr int kGapWidth = 9;
    static constexpr int kBorderWidth = 1;
    static constexpr int kButtonLength = 50;
    // Picture resources, three frames each: normal (green), hot (red), disabled (grey).
    static constexpr int kLeftArrowId = 142;
    static constexpr int kRightArrowId = 143;
    static constexpr int kUpArrowId = 141;
    static constexpr int kDownArrowId = 139;

    explicit CXSplitterWnd(QWidget* parent = nullptr);

    // False, nothing changed, for a mode outside 1..4.
    bool SetCollapseMode(int mode);
    int GetCollapseMode() const { return collapseMode; }
    bool IsCollapsed() const { return collapsed; }

    // As CNormalSplitterWnd::CreateStatic; also loads the button pictures (see HasImages).
    bool CreateStatic(QWidget* parent, int rows, int cols);
    // Whether the four button pictures were loaded; without them the button is drawn plainly.
    bool HasImages() const { return imagesLoaded; }

    // Remembers the current and minimum size of pane 0 and applies the collapse mode. False (nothing
    // done) when already collapsed, or the mode does not act on this splitter's shape.
    bool Collapse();
    // Puts back what Collapse remembered (the ideal size when pane 0 had no size then). False when not
    // collapsed.
    bool Restore();
    // Collapse or Restore, whichever applies.
    bool ToggleCollapse();
    // Mode 1 <-> 2, 3 <-> 4.
    void SwitchDirection();

    // The collapse button in splitter coordinates; empty before both panes exist or when the mode does
    // not fit the shape.
    QRect ButtonRect() const;
    bool HitTestButton(const QPoint& position) const;
    bool IsButtonHot() const { return buttonHot; }
    void SetButtonHot(bool hot);
    // Resource id of the picture the button shows now.
    int PictureId() const;
    // The frame of the current picture for the button's state; null without pictures.
    QPixmap ButtonPicture() const;

Q_SIGNALS:
    void CollapsedChanged(bool collapsed);

protected:
    QSplitterHandle* createHandle() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool ModeFitsShape() const;
    bool LoadImages();
    void ApplyCollapsedLayout();
    void OnSplitterMoved();
    void RepaintButton();

    int collapseMode = 1;
    bool collapsed = false;
    bool buttonHot = false;
    bool imagesLoaded = false;
    int savedLength = 0;
    int savedMinimum = 0;
    bool savedSecondCollapsible = true;
    QPixmap pictures[4];  // 142, 143, 141, 139
};

}  // namespace orvane
