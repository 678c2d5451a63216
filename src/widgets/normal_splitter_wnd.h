#pragma once

#include <QPointer>
#include <QSize>
#include <QSplitter>

namespace orvane {

// A static splitter of two panes: one row of two columns (side by side) or two rows of one column.
// Column (or row) 0 keeps its size when the splitter grows or shrinks; the other pane takes the rest.
// The active pane is the one that holds the keyboard focus. Signals of the panes reach whoever
// connects to them, so nothing is routed through the splitter. UI thread only.
class CNormalSplitterWnd : public QSplitter {
    Q_OBJECT

public:
    explicit CNormalSplitterWnd(QWidget* parent = nullptr);

    // Makes the splitter a visible child of parent (null: stays where it is) laid out as rows x cols.
    // False, nothing changed, for any shape but 1 x 2 and 2 x 1 or when already created.
    bool CreateStatic(QWidget* parent, int rows, int cols);
    bool IsCreated() const { return rowCount > 0; }
    int GetRowCount() const { return rowCount; }
    int GetColumnCount() const { return columnCount; }

    // Places view in pane (row, col) with its initial size; the splitter takes ownership. False for a
    // null view, a pane outside the shape or a pane that already holds a view.
    bool CreateView(int row, int col, QWidget* view, const QSize& initialSize);
    QWidget* GetPane(int row, int col) const;

    // Ideal and minimum size of column (or row) 0 or 1, applied at the next RecalcLayout and when the
    // splitter first gets a size. False for an index outside the shape.
    bool SetColumnInfo(int col, int ideal, int minimum);
    bool GetColumnInfo(int col, int& current, int& minimum) const;
    bool SetRowInfo(int row, int ideal, int minimum);
    bool GetRowInfo(int row, int& current, int& minimum) const;
    // Lays the panes out by the ideal sizes.
    void RecalcLayout();

    // The pane holding the focus, or null; row and col receive its place when given.
    QWidget* GetActivePane(int* row = nullptr, int* col = nullptr) const;
    // Gives the focus to the pane (row, col); false when there is no view there.
    bool SetActivePane(int row, int col);

protected:
    void resizeEvent(QResizeEvent* event) override;

    // The splitter index of pane (row, col), or -1 outside the shape.
    int PaneIndex(int row, int col) const;
    // Length available to both panes along the splitter's orientation.
    int AvailableLength() const;
    // Size of pane index along the orientation.
    int PaneLength(int index) const;
    // Sets pane 0 to length0 and gives pane 1 the rest.
    void ApplyFirstPaneLength(int length0);

    int minimumLength[2] = {0, 0};

private:
    int rowCount = 0;
    int columnCount = 0;
    int idealLength[2] = {-1, -1};
    bool viewPlaced[2] = {false, false};
    bool laidOut = false;
};

}  // namespace orvane
