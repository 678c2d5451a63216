#include "media/ui/resources_browser_dlg.h"

#include <sys/stat.h>

#include <QDesktopServices>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyle>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>

#include "base/alert_sink.h"
#include "base/text.h"
#include "config/setting_param_manage.h"
#include "localization/localizable_string.h"
#include "media/ui/desktop_thumbnails.h"
#include "widgets/widget_images.h"

namespace orvane {

namespace {

// What the thumbnail of an item is made from, decided on its file name.
enum class ItemKind { Photo, Movie, Other };

ItemKind KindOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string_view name =
        slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
    if (name.find(".jpg") != std::string_view::npos) return ItemKind::Photo;
    if (name.find(".avi") != std::string_view::npos || name.find(".mp4") != std::string_view::npos)
        return ItemKind::Movie;
    return ItemKind::Other;
}

int ClampToInt(int64_t value) { return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX)); }

// The play symbol, for a program whose compiled-in marker picture is missing.
QImage DrawMovieMarker() {
    QImage marker(CResourcesBrowserDlg::kMarkerSize, CResourcesBrowserDlg::kMarkerSize,
                  QImage::Format_ARGB32_Premultiplied);
    marker.fill(Qt::transparent);
    QPainter painter(&marker);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0x16, 0x4a, 0x8a));
    painter.setBrush(QColor(0x2f, 0x78, 0xcc));
    painter.drawEllipse(QRectF(1, 1, 30, 30));
    QPainterPath triangle;
    triangle.moveTo(12.2, 9.2);
    triangle.lineTo(23.8, 16);
    triangle.lineTo(12.2, 22.8);
    triangle.closeSubpath();
    painter.fillPath(triangle, Qt::white);
    return marker;
}

std::string OpenFailureText(const std::string& path, CLocalizableString& strings) {
    struct stat info {};
    const std::string reason = ::stat(path.c_str(), &info) != 0
                                   ? SystemErrorText(errno)
                                   : strings.GetString(keys::kAlertNoApplicationToOpen);
    return Format("%s\n%s", path, reason);
}

}  // namespace

CResourcesBrowserDlg::CResourcesBrowserDlg(const CSettingParamManage* settings, QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // the paint covers the whole panel: nothing to erase
    setFocusPolicy(Qt::ClickFocus);
    setBackgroundRole(QPalette::Base);

    scrollBar = new QScrollBar(Qt::Vertical, this);
    scrollBar->setObjectName(QStringLiteral("scrollBar"));
    scrollBar->setProperty("controlId", kScrollBarId);
    scrollBar->setSingleStep(kRowPitch);
    scrollBar->setRange(0, 0);
    scrollBar->hide();
    scrollBar->installEventFilter(this);
    const int barWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scrollBar);
    scrollBar->setGeometry(std::max(0, width() - barWidth), 0, barWidth, height());
    connect(scrollBar, &QScrollBar::valueChanged, this, [this] { update(); });

    loader = std::make_unique<CThumbnailLoader>(
        CThumbnailMaker(CDesktopThumbnails()),
        [this](ThumbnailResult result) { OnThumbnail(std::move(result)); });
    model = std::make_unique<CResourcesBrowserModel>(
        this, settings != nullptr ? settings : CSettingParamManage::GetInstance());
}

CResourcesBrowserDlg::~CResourcesBrowserDlg() {
    // The threads may still ask for scrolling and repaints until they are gone.
    model->Shutdown();
    loader.reset();
}

int CResourcesBrowserDlg::ScrollPosition() const { return scrollBar->value(); }

int CResourcesBrowserDlg::ScrollPage() const { return scrollBar->pageStep(); }

int CResourcesBrowserDlg::MaxScrollPosition() const { return scrollBar->maximum(); }

void CResourcesBrowserDlg::ApplyScroll(int64_t maximum, int64_t position) {
    rangeMaximum = std::max<int64_t>(0, maximum);
    const int page = std::max(0, height());
    // The last page is always full: the position stops one page (less one pixel) before the end.
    const int barMaximum = ClampToInt(std::max<int64_t>(0, rangeMaximum - page + 1));
    scrollBar->setPageStep(page);
    scrollBar->setRange(0, barMaximum);
    scrollBar->setValue(ClampToInt(std::clamp<int64_t>(position, 0, barMaximum)));
    update();
}

int64_t CResourcesBrowserDlg::TotalHeight() const {
    return static_cast<int64_t>(model->GetItemCount()) * kRowPitch;
}

void CResourcesBrowserDlg::ShowScrollBarIfNeeded(int64_t total) {
    const bool needed = height() < total;
    if (scrollBar->isVisibleTo(this) == needed) return;
    scrollBar->setVisible(needed);
    update();  // the area the bar covered is painted with the panel
}

void CResourcesBrowserDlg::ResetScroll() {
    const int64_t total = TotalHeight();
    ApplyScroll(total, 0);
    ShowScrollBarIfNeeded(total);
}

void CResourcesBrowserDlg::UpdateScrollRange() {
    const int64_t total = TotalHeight();
    const int64_t position = int64_t{ScrollPosition()} + (total - rangeMaximum);
    ApplyScroll(total, std::clamp<int64_t>(position, 0, total));
    ShowScrollBarIfNeeded(total);
}

void CResourcesBrowserDlg::ScrollToEnd() {
    const int64_t total = TotalHeight();
    ApplyScroll(total, total);
    ShowScrollBarIfNeeded(total);
}

void CResourcesBrowserDlg::SetScrollPosition(int64_t position) {
    scrollBar->setValue(ClampToInt(std::clamp<int64_t>(position, 0, scrollBar->maximum())));
    update();
}

std::string CResourcesBrowserDlg::GetItemPath(int64_t row) const {
    return model->GetItemPath(firstVisible + row);
}

void CResourcesBrowserDlg::RequestResetScroll() {
    QMetaObject::invokeMethod(
        this, [this] { ResetScroll(); }, Qt::QueuedConnection);
}

void CResourcesBrowserDlg::RequestUpdateScrollRange() {
    QMetaObject::invokeMethod(
        this, [this] { UpdateScrollRange(); }, Qt::QueuedConnection);
}

void CResourcesBrowserDlg::RequestScrollToEnd() {
    QMetaObject::invokeMethod(
        this, [this] { ScrollToEnd(); }, Qt::QueuedConnection);
}

void CResourcesBrowserDlg::RequestRepaint() {
    QMetaObject::invokeMethod(
        this, [this] { update(); }, Qt::QueuedConnection);
}

QRect CResourcesBrowserDlg::GetItemsRect() const {
    return QRect(0, 0, std::max(0, scrollBar->x()), height());
}

int CResourcesBrowserDlg::VisibleRowCount() const { return height() / kRowPitch + 1; }

int CResourcesBrowserDlg::HitTest(const QPoint& point) const {
    for (const auto& [row, rect] : itemRects)
        if (rect.contains(point)) return row;
    return -1;
}

QRect CResourcesBrowserDlg::FitThumbnail(const QSize& source, int width, int top) {
    if (source.width() <= 0 || source.height() <= 0) return {};
    width = std::max(0, width);
    const double aspect = static_cast<double>(source.height()) / static_cast<double>(source.width());
    int thumbWidth = 0;
    int thumbHeight = 0;
    if (static_cast<double>(kBoxHeight) / width > aspect) {
        thumbWidth = width;
        thumbHeight = static_cast<int>(width * aspect);
    } else {
        thumbHeight = kBoxHeight;
        thumbWidth = static_cast<int>(kBoxHeight / aspect);
    }
    return QRect((width - thumbWidth) / 2, top + (kBoxHeight - thumbHeight) / 2, thumbWidth, thumbHeight);
}

void CResourcesBrowserDlg::SetFileOpener(FileOpener fileOpener) { opener = std::move(fileOpener); }

void CResourcesBrowserDlg::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    scrollBar->setGeometry(std::max(0, width() - scrollBar->width()), 0, scrollBar->width(), height());
    ResetScroll();
}

void CResourcesBrowserDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(backgroundRole()));
    painter.setClipRect(GetItemsRect());
    DrawItems(painter);
}

void CResourcesBrowserDlg::DrawItems(QPainter& painter) {
    const QRect area = GetItemsRect();
    const int width = area.width();
    itemRects.clear();
    toMake.clear();
    toCheck.clear();
    const int position = ScrollPosition();
    firstVisible = position / kRowPitch;
    int y = firstVisible * kRowPitch - position + kTopMargin;
    // Rows are filled until the area is, so that a movie without a picture, or a position between two
    // rows, never leaves the bottom of the panel empty while items remain.
    for (int row = 0; y < area.bottom() + 1; ++row) {
        if (GetItemPath(row).empty()) break;
        if (DrawThumbnail(painter, row, y, width)) y += kRowPitch;
    }
    // The newest rows (at the bottom) first; checks of shown thumbnails after every missing one.
    std::vector<ThumbnailRequest> wanted;
    wanted.reserve(toMake.size() + toCheck.size());
    wanted.insert(wanted.end(), std::make_move_iterator(toMake.rbegin()),
                  std::make_move_iterator(toMake.rend()));
    wanted.insert(wanted.end(), std::make_move_iterator(toCheck.rbegin()),
                  std::make_move_iterator(toCheck.rend()));
    loader->Want(std::move(wanted));
}

ThumbnailRequest CResourcesBrowserDlg::Request(const std::string& path, ThumbnailKind kind, int width) const {
    const qreal ratio = devicePixelRatioF();
    ThumbnailRequest request;
    request.path = path;
    request.kind = kind;
    request.fitKey = (int64_t{width} << 20) | std::lround(ratio * 1000);
    request.fit = [width, ratio](const QSize& source) {
        const QRect box = FitThumbnail(source, width, 0);
        return QSize(static_cast<int>(std::lround(box.width() * ratio)),
                     static_cast<int>(std::lround(box.height() * ratio)));
    };
    return request;
}

bool CResourcesBrowserDlg::DrawThumbnail(QPainter& painter, int row, int y, int width) {
    const std::string path = GetItemPath(row);
    const ItemKind itemKind = KindOf(path);
    if (itemKind == ItemKind::Other) return false;
    const ThumbnailKind kind = itemKind == ItemKind::Photo ? ThumbnailKind::Photo : ThumbnailKind::Movie;

    ThumbnailRequest request = Request(path, kind, width);
    const CThumbnailCache::Entry* entry = thumbnails.Find(path);
    if (entry == nullptr || entry->kind != kind) {
        // Not made yet: a placeholder holds the row (and can be opened) until the picture comes.
        const QRect box = FitThumbnail(QSize(4, 3), width, y);
        DrawPlaceholder(painter, box);
        itemRects[row] = box;
        if (kind == ThumbnailKind::Movie)
            painter.drawImage(QRect(box.topLeft(), QSize(kMarkerSize, kMarkerSize)), MovieMarker());
        toMake.push_back(std::move(request));
        return true;
    }
    if (entry->fitKey != request.fitKey) {
        toMake.push_back(request);
    } else {
        request.check = true;
        request.known = entry->signature;
        toCheck.push_back(request);
    }
    if (!entry->picture) return kind == ThumbnailKind::Photo;  // a damaged photo keeps its row

    const QRect box = FitThumbnail(entry->sourceSize, width, y);
    // The image holds device pixels: drawn into the box in logical pixels it maps one to one. One made
    // for another width is drawn scaled until its successor comes.
    if (!entry->image.isNull()) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(box), entry->image, QRectF(entry->image.rect()));
        painter.restore();
    }
    itemRects[row] = box;
    if (kind == ThumbnailKind::Movie)
        painter.drawImage(QRect(box.topLeft(), QSize(kMarkerSize, kMarkerSize)), MovieMarker());
    return true;
}

void CResourcesBrowserDlg::DrawPlaceholder(QPainter& painter, const QRect& box) {
    if (box.isEmpty()) return;
    const QColor base = palette().color(backgroundRole());
    painter.fillRect(box, base.lightness() > 128 ? base.darker(108) : base.lighter(130));
}

void CResourcesBrowserDlg::OnThumbnail(ThumbnailResult result) {
    thumbnails.Store(std::move(result));
    update();
}

const QImage& CResourcesBrowserDlg::MovieMarker() {
    if (movieMarker.isNull()) {
        InitWidgetResources();
        movieMarker = QImage(QString::fromLatin1(kMovieMarkerIconPath));
        if (movieMarker.isNull()) movieMarker = DrawMovieMarker();
    }
    return movieMarker;
}

void CResourcesBrowserDlg::OnWheel(int delta) {
    if (delta == 0) return;
    // One message is one row, however far the wheel turned.
    SetScrollPosition(int64_t{ScrollPosition()} + (delta < 0 ? kRowPitch : -kRowPitch));
}

void CResourcesBrowserDlg::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        QWidget::wheelEvent(event);
        return;
    }
    OnWheel(delta);
    event->accept();
}

bool CResourcesBrowserDlg::eventFilter(QObject* watched, QEvent* event) {
    // The bar would scroll three lines (330 pixels) per notch on its own.
    if (watched == scrollBar && event->type() == QEvent::Wheel) {
        const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
        if (delta == 0) return false;
        OnWheel(delta);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CResourcesBrowserDlg::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);  // so that the keyboard and the wheel reach the panel
    QWidget::mousePressEvent(event);
}

void CResourcesBrowserDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const int row = HitTest(event->position().toPoint());
        if (row >= 0) OpenItem(row);
    }
    QWidget::mouseDoubleClickEvent(event);
}

void CResourcesBrowserDlg::OpenItem(int row) {
    const std::string path = GetItemPath(row);
    if (path.empty()) return;
    const bool opened =
        opener ? opener(path) : QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    if (!opened)
        ShowAlert(OpenFailureText(path, strings != nullptr ? *strings : *CLocalizableString::GetInstance()));
}

}  // namespace orvane
