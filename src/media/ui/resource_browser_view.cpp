#include "media/ui/resource_browser_view.h"

#include <QResizeEvent>

#include "config/setting_param_manage.h"
#include "media/ui/resources_browser_dlg.h"

namespace orvane {

CResourceBrowserView::CResourceBrowserView(QWidget* parent)
    : CResourceBrowserView(*CSettingParamManage::GetInstance(), parent) {}

CResourceBrowserView::CResourceBrowserView(const CSettingParamManage& settings, QWidget* parent)
    : QWidget(parent) {
    panel = new CResourcesBrowserDlg(&settings, this);
    panel->setObjectName(QStringLiteral("resourcesBrowser"));
    panel->setGeometry(rect());
    panel->show();
}

CResourceBrowserView::~CResourceBrowserView() = default;

void CResourceBrowserView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    panel->setGeometry(rect());
}

}  // namespace orvane
