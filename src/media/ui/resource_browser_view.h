#pragma once

#include <QWidget>

namespace orvane {

class CResourcesBrowserDlg;
class CSettingParamManage;

// The lower left pane of the main viewer: hosts the thumbnail panel of the folder chosen in the tree,
// over its whole area. The panel is made with the view and goes with it. Interface thread.
class CResourceBrowserView final : public QWidget {
    Q_OBJECT

public:
    // With the process-wide settings.
    explicit CResourceBrowserView(QWidget* parent = nullptr);
    // With `settings`, which must outlive the view.
    explicit CResourceBrowserView(const CSettingParamManage& settings, QWidget* parent = nullptr);
    ~CResourceBrowserView() override;

    // The panel; never null while the view lives.
    CResourcesBrowserDlg* Panel() const { return panel; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CResourcesBrowserDlg* panel = nullptr;
};

}  // namespace orvane
