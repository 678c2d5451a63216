#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <string>

#include "base/alert_sink.h"

class QMessageBox;

namespace orvane {

// Shows the program's alerts as warning boxes with the caption "Orvane". A call from any thread is
// handed to the interface thread and returns at once, so a worker that holds a lock is never held
// up by a box. A text that is already on screen is not shown a second time until its box is closed.
class CAlertPresenter final : public QObject, public IAlertSink {
    Q_OBJECT

public:
    explicit CAlertPresenter(QObject* parent = nullptr);
    ~CAlertPresenter() override;

    // Any thread.
    void ShowAlert(const std::string& text) override;

    // Interface thread: the boxes on screen, by text.
    const std::map<QString, QMessageBox*>& OpenBoxes() const { return openBoxes; }

    static constexpr const char* kCaption = "Orvane";

private:
    void Present(const QString& text);

    std::map<QString, QMessageBox*> openBoxes;  // interface thread only
};

}  // namespace orvane
