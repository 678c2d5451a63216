#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "media/resources_browser_model.h"
#include "media/ui/thumbnail_cache.h"
#include "media/ui/thumbnail_loader.h"

class QScrollBar;

namespace orvane {

class CLocalizableString;
class CSettingParamManage;

// The thumbnail panel: one column of the photos and movies of the shown folder, oldest at the top,
// with a vertical scroll bar. It owns the model (the names and the threads that keep them current)
// and draws, scrolls and opens what the model lists. Thumbnails are made by workers (see
// CThumbnailLoader): a paint draws what is ready, a placeholder for the rest, and asks for the rows it
// showed, the newest first.
//
// Every operation is for the interface thread, except the IResourcesBrowserHost requests, which any
// thread may make: they only post the work to the interface thread.
class CResourcesBrowserDlg final : public QWidget, public IResourcesBrowserHost {
    Q_OBJECT

public:
    static constexpr int kRowPitch = 110;   // one item
    static constexpr int kBoxHeight = 100;  // the thumbnail's box
    static constexpr int kTopMargin = 10;   // from a row's top to its box
    static constexpr int kMarkerSize = 32;  // movie marker at the thumbnail's top-left corner
    static constexpr int kScrollBarId = 1078;

    // Opens a file with the desktop's program for it; false when that failed.
    using FileOpener = std::function<bool(const std::string& path)>;

    // `settings` (null: the process-wide manager) must outlive the panel.
    explicit CResourcesBrowserDlg(const CSettingParamManage* settings, QWidget* parent = nullptr);
    ~CResourcesBrowserDlg() override;

    CResourcesBrowserModel& Model() { return *model; }

    // The model's list operations (see CResourcesBrowserModel).
    std::string GetFolder() const { return model->GetFolder(); }
    void SetFolder(const std::string& path, bool scrollToEnd) { model->SetFolder(path, scrollToEnd); }
    bool HasItem(const std::string& name) const { return model->HasItem(name); }
    void AddItem(const std::string& name) { model->AddItem(name); }
    void RestartWatching() { model->RestartWatching(); }

    // Range 0..count x 110, page = client height, position 0.
    void ResetScroll();
    // New range from the count; the position moves by the change of the range, so the view keeps its
    // distance from the end.
    void UpdateScrollRange();
    // Shows the last page.
    void ScrollToEnd();
    // The full path of the item drawn in `row` (0 = the top row of the last paint); empty when none.
    std::string GetItemPath(int64_t row) const;

    // IResourcesBrowserHost: any thread, return at once.
    void RequestResetScroll() override;
    void RequestUpdateScrollRange() override;
    void RequestScrollToEnd() override;
    void RequestRepaint() override;

    // The scroll model as the bar holds it.
    int ScrollPosition() const;
    int64_t ScrollRangeMaximum() const { return rangeMaximum; }
    int ScrollPage() const;
    // The most the position can be: range maximum - page + 1, and not below 0.
    int MaxScrollPosition() const;
    // Sets the position, clamped as the bar clamps it, and repaints.
    void SetScrollPosition(int64_t position);

    // The area the thumbnails are drawn in: from the left edge to the scroll bar, full height.
    QRect GetItemsRect() const;
    // client height / 110 + 1.
    int VisibleRowCount() const;
    // The first visible row of item rectangles, in row order, that holds the point; -1 when none.
    int HitTest(const QPoint& point) const;
    int FirstVisible() const { return firstVisible; }
    // Where each thumbnail was drawn at the last paint, by visible row.
    const std::map<int, QRect>& ItemRects() const { return itemRects; }
    QScrollBar* ScrollBar() const { return scrollBar; }

    // The thumbnail rectangle of a picture of `source` in a row of `width` whose box starts at `top`:
    // as wide as the row when the picture is relatively wider than width x 100, else 100 high; centred.
    // Empty for an empty picture.
    static QRect FitThumbnail(const QSize& source, int width, int top);

    // The string table of the panel's messages; null: the process-wide one. Must outlive the panel.
    void SetStrings(CLocalizableString* strings) { this->strings = strings; }
    // Replaces the way files are opened (tests); null restores the desktop's.
    void SetFileOpener(FileOpener opener);
    // The thumbnails ready to paint, and the workers that make them.
    CThumbnailCache& Thumbnails() { return thumbnails; }
    CThumbnailLoader& Loader() { return *loader; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyScroll(int64_t maximum, int64_t position);
    void ShowScrollBarIfNeeded(int64_t total);
    int64_t TotalHeight() const;
    void DrawItems(QPainter& painter);
    bool DrawThumbnail(QPainter& painter, int row, int y, int width);
    void DrawPlaceholder(QPainter& painter, const QRect& box);
    ThumbnailRequest Request(const std::string& path, ThumbnailKind kind, int width) const;
    void OnThumbnail(ThumbnailResult result);
    void OnWheel(int delta);
    void OpenItem(int row);
    const QImage& MovieMarker();

    std::unique_ptr<CResourcesBrowserModel> model;
    QScrollBar* scrollBar = nullptr;
    int64_t rangeMaximum = 0;  // count x 110 at the last scroll operation
    int firstVisible = 0;      // index of the item in the top row, set at each paint
    std::map<int, QRect> itemRects;
    CThumbnailCache thumbnails;
    std::unique_ptr<CThumbnailLoader> loader;
    // Filled while the rows are painted: thumbnails to make, and shown ones to check for changes.
    std::vector<ThumbnailRequest> toMake;
    std::vector<ThumbnailRequest> toCheck;
    QImage movieMarker;
    FileOpener opener;
    CLocalizableString* strings = nullptr;
};

}  // namespace orvane
