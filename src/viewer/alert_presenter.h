#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <string>

#include "base/alert_sink.h"

class QMessageBox;
class QWidget;

namespace orvane {

// Shows the program's alerts as warning boxes with the caption "Orvane". A call from any thread is
// handed to the interface thread and returns at once, so a worker that holds a lock is never held
// up by a box. A text that is already on screen is not shown a second time until its box is closed.
// The boxes do not block the program: they stand over the owner window while its buttons keep
// working, so no command is swallowed by a box the user has not seen; a box whose state passed is
// closed by CloseAlert.
class CAlertPresenter final : public QObject, public IAlertSink {
    Q_OBJECT

public:
    explicit CAlertPresenter(QObject* parent = nullptr);
    ~CAlertPresenter() override;

    // Any thread.
    void ShowAlert(const std::string& text) override;
    void CloseAlert(const std::string& text) override;

    // Interface thread: the window the boxes stand over (null: none); it must outlive the boxes or
    // be set back to null first. Boxes already shown keep theirs.
    void SetOwner(QWidget* window) { owner = window; }

    // Interface thread: the boxes on screen, by text.
    const std::map<QString, QMessageBox*>& OpenBoxes() const { return openBoxes; }

    static constexpr const char* kCaption = "Orvane";

private:
    void Present(const QString& text);
    void Dismiss(const QString& text);

    std::map<QString, QMessageBox*> openBoxes;  // interface thread only
    QWidget* owner = nullptr;                   // interface thread only
};

}  // namespace orvane
