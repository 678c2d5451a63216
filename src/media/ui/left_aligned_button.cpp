#include "media/ui/left_aligned_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace orvane {

CLeftAlignedButton::CLeftAlignedButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void CLeftAlignedButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);

    option.text = caption;
    const int indent = fontMetrics().horizontalAdvance(QLatin1Char(' '));
    const QRect textRect =
        style()->subElementRect(QStyle::SE_PushButtonContents, &option, this).adjusted(indent, 0, -indent, 0);
    const QString shown = fontMetrics().elidedText(caption, Qt::ElideRight, textRect.width());
    painter.drawItemText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, palette(),
                         isEnabled(), shown, QPalette::ButtonText);
}

}  // namespace orvane
