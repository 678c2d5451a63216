#pragma once

#include <QPushButton>

namespace orvane {

// A push button whose caption sits at its left edge (elided when it does not fit), drawn with the
// style's own button face.
class CLeftAlignedButton final : public QPushButton {
    Q_OBJECT

public:
    explicit CLeftAlignedButton(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace orvane
