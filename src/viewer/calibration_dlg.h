#pragma once

#include <QDialog>
#include <QImage>
#include <QLineF>
#include <QWidget>
#include <string>

#include "config/calibration.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace orvane {

class CCalibrationStore;
class CLocalizableString;

// The still picture of the calibration dialog: shown whole, letterboxed, with the line the user drags
// along a known length. The line is kept in pixels of the picture.
class CCalibrationPicture final : public QWidget {
    Q_OBJECT

public:
    explicit CCalibrationPicture(const QImage& picture, QWidget* parent = nullptr);

    const QImage& Picture() const { return picture; }
    // The line in picture pixels (null while none was drawn).
    QLineF Line() const { return line; }
    void SetLine(const QLineF& pictureLine);
    // Where the picture is drawn in the widget.
    QRect PictureRect() const;
    QPointF ToPicture(QPointF widgetPoint) const;
    QPointF ToWidget(QPointF picturePoint) const;

    QSize sizeHint() const override;

Q_SIGNALS:
    void LineChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage picture;
    QLineF line;
    bool dragging = false;
};

// "Calibrate...": on a still of the live picture the user drags a line along a known length, types the
// length and its unit and names the calibration; the calibrations of the camera are kept in the store,
// where one may be chosen as the active one, renamed or deleted. Interface thread only.
class CCalibrationDlg final : public QDialog {
    Q_OBJECT

public:
    // picture: the live picture as the user saw it, in capture pixels; identity: the camera's.
    CCalibrationDlg(const QImage& picture, const std::string& identity, CCalibrationStore& store,
                    CLocalizableString& strings, QWidget* parent = nullptr);

    CCalibrationPicture* PictureView() const { return pictureView; }
    QDoubleSpinBox* LengthBox() const { return lengthBox; }
    QComboBox* UnitBox() const { return unitBox; }
    QLineEdit* NameEdit() const { return nameEdit; }
    QComboBox* ActiveBox() const { return activeBox; }
    QPushButton* SaveButton() const { return saveButton; }
    QPushButton* RenameButton() const { return renameButton; }
    QPushButton* DeleteButton() const { return deleteButton; }
    QLabel* LineLabel() const { return lineLabel; }

    // Keeps the calibration of the drawn line, length, unit and name and makes it the active one.
    bool SaveCalibration();
    // Renames the calibration chosen in the combo box to the name typed in.
    bool RenameChosen();
    bool DeleteChosen();

Q_SIGNALS:
    // The store changed (a calibration saved, chosen, renamed or deleted).
    void CalibrationsChanged();

private:
    void Reload(const std::string& select);
    void UpdateState();
    void OnActiveChosen(int index);
    std::string ChosenName() const;
    std::string Text(const char* key, const char* fallback) const;

    std::string identity;
    CCalibrationStore& store;
    CLocalizableString& strings;
    CCalibrationPicture* pictureView = nullptr;
    QLabel* lineLabel = nullptr;
    QDoubleSpinBox* lengthBox = nullptr;
    QComboBox* unitBox = nullptr;
    QLineEdit* nameEdit = nullptr;
    QComboBox* activeBox = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* renameButton = nullptr;
    QPushButton* deleteButton = nullptr;
    bool reloading = false;
};

}  // namespace orvane
