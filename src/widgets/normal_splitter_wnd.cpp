#include "widgets/normal_splitter_wnd.h"

#include <QApplication>
#include <QResizeEvent>
#include <algorithm>

namespace orvane {

CNormalSplitterWnd::CNormalSplitterWnd(QWidget* parent) : QSplitter(parent) {
    setChildrenCollapsible(true);
    setOpaqueResize(true);
}

bool CNormalSplitterWnd::CreateStatic(QWidget* parent, int rows, int cols) {
    if (IsCreated()) return false;
    bool sideBySide = rows == 1 && cols == 2;
    bool stacked = rows == 2 && cols == 1;
    if (!sideBySide && !stacked) return false;
    rowCount = rows;
    columnCount = cols;
    setOrientation(sideBySide ? Qt::Horizontal : Qt::Vertical);
    // Empty stand-ins keep the pane indexes fixed until the views arrive.
    for (int i = 0; i < 2; ++i) addWidget(new QWidget);
    setStretchFactor(0, 0);
    setStretchFactor(1, 1);
    if (parent) {
        setParent(parent);
        show();
    }
    return true;
}

int CNormalSplitterWnd::PaneIndex(int row, int col) const {
    if (row < 0 || col < 0 || row >= rowCount || col >= columnCount) return -1;
    return orientation() == Qt::Horizontal ? col : row;
}

bool CNormalSplitterWnd::CreateView(int row, int col, QWidget* view, const QSize& size) {
    int index = PaneIndex(row, col);
    if (!view || index < 0 || viewPlaced[index]) return false;
    QWidget* standIn = replaceWidget(index, view);
    delete standIn;
    view->show();
    viewPlaced[index] = true;
    if (idealLength[index] < 0)
        idealLength[index] = orientation() == Qt::Horizontal ? size.width() : size.height();
    setStretchFactor(index, index == 0 ? 0 : 1);
    return true;
}

QWidget* CNormalSplitterWnd::GetPane(int row, int col) const {
    int index = PaneIndex(row, col);
    if (index < 0 || !viewPlaced[index]) return nullptr;
    return widget(index);
}

bool CNormalSplitterWnd::SetColumnInfo(int col, int ideal, int minimum) {
    if (orientation() != Qt::Horizontal) return false;
    int index = PaneIndex(0, col);
    if (index < 0) return false;
    idealLength[index] = std::max(0, ideal);
    minimumLength[index] = std::max(0, minimum);
    setCollapsible(index, minimumLength[index] == 0);
    return true;
}

bool CNormalSplitterWnd::SetRowInfo(int row, int ideal, int minimum) {
    if (orientation() != Qt::Vertical) return false;
    int index = PaneIndex(row, 0);
    if (index < 0) return false;
    idealLength[index] = std::max(0, ideal);
    minimumLength[index] = std::max(0, minimum);
    setCollapsible(index, minimumLength[index] == 0);
    return true;
}

bool CNormalSplitterWnd::GetColumnInfo(int col, int& current, int& minimum) const {
    if (orientation() != Qt::Horizontal) return false;
    int index = PaneIndex(0, col);
    if (index < 0) return false;
    current = PaneLength(index);
    minimum = minimumLength[index];
    return true;
}

bool CNormalSplitterWnd::GetRowInfo(int row, int& current, int& minimum) const {
    if (orientation() != Qt::Vertical) return false;
    int index = PaneIndex(row, 0);
    if (index < 0) return false;
    current = PaneLength(index);
    minimum = minimumLength[index];
    return true;
}

int CNormalSplitterWnd::AvailableLength() const {
    int total = orientation() == Qt::Horizontal ? width() : height();
    return std::max(0, total - handleWidth());
}

int CNormalSplitterWnd::PaneLength(int index) const {
    QList<int> lengths = sizes();
    return index >= 0 && index < lengths.size() ? lengths[index] : 0;
}

void CNormalSplitterWnd::ApplyFirstPaneLength(int length0) {
    int available = AvailableLength();
    length0 = std::clamp(length0, 0, available);
    setSizes({length0, available - length0});
}

void CNormalSplitterWnd::RecalcLayout() {
    if (!IsCreated()) return;
    int available = AvailableLength();
    if (available <= 0) return;
    if (idealLength[0] >= 0) {
        ApplyFirstPaneLength(std::max(idealLength[0], minimumLength[0]));
    } else if (idealLength[1] >= 0) {
        ApplyFirstPaneLength(available - std::max(idealLength[1], minimumLength[1]));
    }
    laidOut = true;
}

void CNormalSplitterWnd::resizeEvent(QResizeEvent* event) {
    QSplitter::resizeEvent(event);
    if (!laidOut && AvailableLength() > 0) RecalcLayout();
}

QWidget* CNormalSplitterWnd::GetActivePane(int* row, int* col) const {
    QWidget* focus = QApplication::focusWidget();
    for (int index = 0; index < 2 && IsCreated(); ++index) {
        QWidget* pane = viewPlaced[index] ? widget(index) : nullptr;
        if (pane && focus && (pane == focus || pane->isAncestorOf(focus))) {
            bool horizontal = orientation() == Qt::Horizontal;
            if (row) *row = horizontal ? 0 : index;
            if (col) *col = horizontal ? index : 0;
            return pane;
        }
    }
    return nullptr;
}

bool CNormalSplitterWnd::SetActivePane(int row, int col) {
    QWidget* pane = GetPane(row, col);
    if (!pane) return false;
    pane->setFocus(Qt::OtherFocusReason);
    return true;
}

}  // namespace orvane
