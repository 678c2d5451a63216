#pragma once

#include "widgets/button_st.h"
#include "widgets/theme_helper_st.h"

namespace orvane {

// The image button in the platform's look: while its theme helper reports the application as themed,
// the style draws the face (push button, or tool button with the toolbar look) and the frame of the
// plain image button is left out; otherwise it draws as CButtonST. UI thread only.
class CXPStyleButtonST : public CButtonST {
    Q_OBJECT

public:
    explicit CXPStyleButtonST(QWidget* parent = nullptr);
    explicit CXPStyleButtonST(const QString& caption, QWidget* parent = nullptr);

    // The helper to draw with; it must outlive the button or be replaced first. Null: unthemed.
    void SetThemeHelper(CThemeHelperST* helper);
    CThemeHelperST* ThemeHelper() const { return themeHelper; }
    // Tool button look ("TOOLBAR") instead of push button look ("BUTTON"); off by default.
    void DrawAsToolbar(bool toolbar);
    bool IsToolbarLook() const { return toolbarLook; }

    // Whether the next paint uses the style.
    bool IsThemedDrawing() const;
    // The face state the style is asked for: disabled 4, pressed 3, hot 2, default 5, else normal 1.
    int ThemeStateId() const;

protected:
    bool PaintThemedBackground(QPainter& painter) override;

private:
    CThemeHelperST* themeHelper = nullptr;
    bool toolbarLook = false;
};

}  // namespace orvane
