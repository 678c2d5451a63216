#include "viewer/alert_presenter.h"

#include <QMessageBox>
#include <QMetaObject>

namespace orvane {

CAlertPresenter::CAlertPresenter(QObject* parent) : QObject(parent) {}

CAlertPresenter::~CAlertPresenter() {
    // The boxes go with the presenter, whether they stand over an owner window or not.
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

void CAlertPresenter::CloseAlert(const std::string& text) {
    const QString message = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        this, [this, message] { Dismiss(message); }, Qt::QueuedConnection);
}

void CAlertPresenter::Dismiss(const QString& text) {
    auto found = openBoxes.find(text);
    if (found == openBoxes.end()) return;
    QMessageBox* box = found->second;
    openBoxes.erase(found);  // the same text may be shown anew before the box is gone
    box->close();
}

void CAlertPresenter::Present(const QString& text) {
    if (openBoxes.count(text) != 0) return;
    auto* box =
        new QMessageBox(QMessageBox::Warning, QString::fromUtf8(kCaption), text, QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setAccessibleName(text);
    openBoxes.emplace(text, box);
    connect(box, &QObject::destroyed, this, [this, text, box] {
        auto found = openBoxes.find(text);
        if (found != openBoxes.end() && found->second == box) openBoxes.erase(found);
    });
    box->show();
}

}  // namespace orvane
