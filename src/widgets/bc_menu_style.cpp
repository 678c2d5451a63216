#include "widgets/bc_menu_style.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionMenuItem>
#include <algorithm>

#include "widgets/widget_images.h"

namespace orvane {

namespace {

constexpr int kImageLeft = 3;           // picture box from the item's left edge
constexpr int kXPColumnWidth = 16 + 7;  // tinted picture column of the XP look
constexpr int kXPTextGap = 8;
constexpr int kClassicTextLeft = 16 + 8;
constexpr int kRightMargin = 12;  // room after the text, where a submenu arrow would go
constexpr int kShortcutGap = 16;

QColor Blend(const QColor& a, const QColor& b, double weightOfA) {
    auto mix = [weightOfA](int x, int y) {
        return static_cast<int>(x * weightOfA + y * (1.0 - weightOfA) + 0.5);
    };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

void DrawTick(QPainter& painter, const QRect& box, const QColor& color) {
    QPainterPath tick;
    tick.moveTo(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52);
    tick.lineTo(box.left() + box.width() * 0.42, box.top() + box.height() * 0.74);
    tick.lineTo(box.left() + box.width() * 0.80, box.top() + box.height() * 0.28);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(color, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
    painter.restore();
}

}  // namespace

BCMenuStyle::BCMenuStyle(bool xp) : xpLook(xp) {}

int BCMenuStyle::MenuBarHeight(const QFontMetrics& metrics) { return std::max(19, metrics.height() + 6); }

int BCMenuStyle::ItemHeight(const QFontMetrics& metrics) const {
    return std::max(MenuBarHeight(metrics), kImageHeight + (xpLook ? 7 : 4));
}

int BCMenuStyle::SeparatorHeight(const QFontMetrics& metrics) const {
    int half = MenuBarHeight(metrics) / 2;
    return std::max(half, (kImageHeight + (xpLook ? 3 + 4 : 4)) / 2);
}

int BCMenuStyle::ItemWidth(int textWidth) const {
    return textWidth + (xpLook ? kImageWidth + 7 + 8 : 2 * kImageWidth + 1) + kRightMargin;
}

int BCMenuStyle::TextLeft() const { return xpLook ? kXPColumnWidth + kXPTextGap : kClassicTextLeft; }

QRect BCMenuStyle::ImageBox(const QRect& itemRect) const {
    int top = itemRect.top() + (itemRect.height() - kImageHeight) / 2;
    return QRect(itemRect.left() + kImageLeft, top, kImageWidth, kImageHeight);
}

QSize BCMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                    const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type != CT_MenuItem || !item) return QProxyStyle::sizeFromContents(type, option, size, widget);
    QFontMetrics metrics(item->font);
    if (item->menuItemType == QStyleOptionMenuItem::Separator) return QSize(10, SeparatorHeight(metrics));
    QString text = item->text;
    int tab = text.indexOf(u'\t');
    int shortcutWidth = 0;
    if (tab >= 0) {
        shortcutWidth = metrics.horizontalAdvance(text.mid(tab + 1)) + kShortcutGap;
        text = text.left(tab);
    }
    int textWidth = metrics.boundingRect(QRect(), Qt::TextSingleLine | Qt::TextShowMnemonic, text).width();
    return QSize(ItemWidth(textWidth) + shortcutWidth, ItemHeight(metrics));
}

void BCMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element != CE_MenuItem || !item) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const QPalette& pal = item->palette;
    const QRect r = item->rect;
    const bool enabled = item->state & State_Enabled;
    const bool selected = enabled && (item->state & State_Selected);
    const bool checked = item->checkType != QStyleOptionMenuItem::NotCheckable && item->checked;
    const QColor highlight = pal.color(QPalette::Highlight);

    painter->save();
    QColor face = xpLook ? pal.color(QPalette::Base) : pal.color(QPalette::Window);
    painter->fillRect(r, face);
    if (xpLook) {
        painter->fillRect(QRect(r.left(), r.top(), kXPColumnWidth, r.height()),
                          Blend(pal.color(QPalette::Button), face, 0.85));
    }

    if (item->menuItemType == QStyleOptionMenuItem::Separator) {
        int y = r.top() + r.height() / 2;
        int left = r.left() + (xpLook ? TextLeft() : 2);
        painter->setPen(pal.color(QPalette::Mid));
        painter->drawLine(left, y, r.right() - 2, y);
        if (!xpLook) {
            painter->setPen(pal.color(QPalette::Light));
            painter->drawLine(left, y + 1, r.right() - 2, y + 1);
        }
        painter->restore();
        return;
    }

    if (selected) {
        if (xpLook) {
            QRect bar = r.adjusted(1, 0, -1, 0);
            painter->fillRect(bar, Blend(highlight, face, 0.25));
            painter->setPen(highlight);
            painter->drawRect(bar.adjusted(0, 0, -1, -1));
        } else {
            painter->fillRect(r, highlight);
        }
    }

    QRect box = ImageBox(r);
    if (checked) {
        QRect frame = box.adjusted(-2, -2, 2, 2);
        if (xpLook) {
            painter->fillRect(frame, Blend(highlight, face, selected ? 0.55 : 0.35));
            painter->setPen(highlight);
            painter->drawRect(frame.adjusted(0, 0, -1, -1));
        } else {
            painter->fillRect(frame, pal.color(QPalette::Midlight));
            painter->setPen(pal.color(QPalette::Dark));
            painter->drawLine(frame.topLeft(), frame.topRight());
            painter->drawLine(frame.topLeft(), frame.bottomLeft());
            painter->setPen(pal.color(QPalette::Light));
            painter->drawLine(frame.bottomLeft(), frame.bottomRight());
            painter->drawLine(frame.topRight(), frame.bottomRight());
        }
    }

    if (!item->icon.isNull()) {
        QSize available = item->icon.actualSize(QSize(kImageWidth, kImageHeight) * 4);
        QRect target = FitImageRect(available, box);
        QPixmap pixmap = item->icon.pixmap(target.size(), painter->device()->devicePixelRatioF(),
                                           enabled ? QIcon::Normal : QIcon::Disabled);
        painter->drawPixmap(target, pixmap);
    } else if (checked) {
        DrawTick(*painter, box,
                 selected && !xpLook ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
    }

    QColor textColor = !enabled                ? pal.color(QPalette::Disabled, QPalette::Text)
                       : (selected && !xpLook) ? pal.color(QPalette::HighlightedText)
                       : xpLook                ? pal.color(QPalette::Text)
                                               : pal.color(QPalette::WindowText);
    QString text = item->text;
    QString shortcut;
    int tab = text.indexOf(u'\t');
    if (tab >= 0) {
        shortcut = text.mid(tab + 1);
        text = text.left(tab);
    }
    QRect textRect = r.adjusted(TextLeft(), 0, -kRightMargin, 0);
    int flags = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    if (!styleHint(SH_UnderlineShortcut, option, widget)) flags |= Qt::TextHideMnemonic;
    painter->setFont(item->font);
    if (!enabled && !xpLook) {
        painter->setPen(pal.color(QPalette::Light));
        painter->drawText(textRect.translated(1, 1), flags | Qt::AlignLeft, text);
    }
    painter->setPen(textColor);
    painter->drawText(textRect, flags | Qt::AlignLeft, text);
    if (!shortcut.isEmpty()) painter->drawText(textRect, flags | Qt::AlignRight, shortcut);
    painter->restore();
}

}  // namespace orvane
