#include "viewer/alert_presenter.h"

#include <QMessageBox>
#include <QMetaObject>

namespace orvane {

CAlertPresenter::CAlertPresenter(QObject* parent) : QObject(parent) {}

CAlertPresenter::~CAlertPresenter() {
    // The boxes have no owner window; they go with the presenter.
    std::map<QString, QMessageBox*> boxes;
    boxes.swap(openBoxes);
    for (auto& [text, box] : boxes) {
        QObject::disconnect(box, nullptr, this, nullptr);
        delete box;
    }
}

void CAlertPresenter::ShowAlert(const std::string& text) {
    const QString message = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        this, [this, message] { Present(message); }, Qt::QueuedConnection);
}

void CAlertPresenter::Present(const QString& text) {
    if (openBoxes.count(text) != 0) return;
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(kCaption), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->setAccessibleName(text);
    openBoxes.emplace(text, box);
    connect(box, &QObject::destroyed, this, [this, text] { openBoxes.erase(text); });
    box->show();
}

}  // namespace orvane
