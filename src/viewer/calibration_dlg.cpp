#include "viewer/calibration_dlg.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QGuiApplication>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "base/text.h"
#include "config/calibration_store.h"
#include "imaging/scale_calibration.h"
#include "localization/localizable_string.h"
#include "localization/string_keys.h"

namespace orvane {

namespace {

constexpr LengthUnit kUnits[] = {LengthUnit::Nanometre, LengthUnit::Micrometre, LengthUnit::Millimetre};
constexpr int kPictureWidth = 560;  // the still's width in the dialog, for its size hint
constexpr int kPictureFrame = 8;
constexpr int kDialogWidth = 800;
constexpr int kDialogHeight = 720;

}  // namespace

// --- The still picture --------------------------------------------------------------------------------

CCalibrationPicture::CCalibrationPicture(const QImage& picture_, QWidget* parent)
    : QWidget(parent), picture(picture_) {
    setObjectName(QStringLiteral("calibrationPicture"));
    setCursor(Qt::CrossCursor);
    setMinimumSize(240, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize CCalibrationPicture::sizeHint() const {
    if (picture.isNull() || picture.width() <= 0) return QSize(kPictureWidth, kPictureWidth * 3 / 4);
    return QSize(kPictureWidth, kPictureWidth * picture.height() / picture.width());
}

QRect CCalibrationPicture::PictureRect() const {
    // A dark frame around the still, so that a line can start or end beyond its edge and reach it.
    const QRect inside = rect().adjusted(kPictureFrame, kPictureFrame, -kPictureFrame, -kPictureFrame);
    if (picture.isNull() || inside.isEmpty()) return inside;
    QSize size = picture.size().scaled(inside.size(), Qt::KeepAspectRatio);
    return QRect(QPoint(inside.x() + (inside.width() - size.width()) / 2,
                        inside.y() + (inside.height() - size.height()) / 2),
                 size);
}

QPointF CCalibrationPicture::ToPicture(QPointF p) const {
    const QRect area = PictureRect();
    if (area.isEmpty() || picture.isNull()) return p;
    const double x = (p.x() - area.x()) * picture.width() / area.width();
    const double y = (p.y() - area.y()) * picture.height() / area.height();
    return QPointF(std::clamp(x, 0.0, double(picture.width())), std::clamp(y, 0.0, double(picture.height())));
}

QPointF CCalibrationPicture::ToWidget(QPointF p) const {
    const QRect area = PictureRect();
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0) return p;
    return QPointF(area.x() + p.x() * area.width() / picture.width(),
                   area.y() + p.y() * area.height() / picture.height());
}

void CCalibrationPicture::SetLine(const QLineF& pictureLine) {
    line = pictureLine;
    update();
    Q_EMIT LineChanged();
}

void CCalibrationPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!picture.isNull()) painter.drawImage(PictureRect(), picture);
    if (line.isNull() && !dragging) return;
    painter.setRenderHint(QPainter::Antialiasing);
    const QLineF shown(ToWidget(line.p1()), ToWidget(line.p2()));
    painter.setPen(QPen(QColor(0, 0, 0, 170), 4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(shown);
    painter.setPen(QPen(QColor(255, 214, 10), 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(shown);
}

void CCalibrationPicture::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging = true;
    const QPointF at = ToPicture(event->position());
    line = QLineF(at, at);
    update();
}

void CCalibrationPicture::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging) return;
    line.setP2(ToPicture(event->position()));
    update();
    Q_EMIT LineChanged();
}

void CCalibrationPicture::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging || event->button() != Qt::LeftButton) return;
    dragging = false;
    SetLine(QLineF(line.p1(), ToPicture(event->position())));
}

// --- The dialog -------------------------------------------------------------------------------------------

CCalibrationDlg::CCalibrationDlg(const QImage& picture, const std::string& identity_, CCalibrationStore& store_,
                                 CLocalizableString& strings_, QWidget* parent)
    : QDialog(parent), identity(identity_), store(store_), strings(strings_) {
    setObjectName(QStringLiteral("calibrationDialog"));
    setWindowTitle(QString::fromStdString(Text(keys::kDlgCalibrate.key, keys::kDlgCalibrate.fallback)));
    setAccessibleName(windowTitle());
    auto text = [this](const StringKey& key) { return QString::fromStdString(strings.GetString(key)); };

    auto* hint = new QLabel(text(keys::kCalibrateLabHint));
    hint->setWordWrap(true);
    pictureView = new CCalibrationPicture(picture);
    lineLabel = new QLabel;
    lineLabel->setObjectName(QStringLiteral("lineLabel"));

    lengthBox = new QDoubleSpinBox;
    lengthBox->setObjectName(QStringLiteral("lengthBox"));
    lengthBox->setRange(0, 1e6);
    lengthBox->setDecimals(3);
    lengthBox->setValue(100);
    unitBox = new QComboBox;
    unitBox->setObjectName(QStringLiteral("unitBox"));
    for (LengthUnit unit : kUnits) unitBox->addItem(QString::fromStdString(UnitText(unit)), static_cast<int>(unit));
    unitBox->setCurrentIndex(1);
    auto* lengthRow = new QHBoxLayout;
    lengthRow->addWidget(lengthBox, 1);
    lengthRow->addWidget(unitBox);
    nameEdit = new QLineEdit;
    nameEdit->setObjectName(QStringLiteral("nameEdit"));
    nameEdit->setPlaceholderText(QStringLiteral("10x objective"));
    saveButton = new QPushButton(text(keys::kCalibrateBtnSave));
    saveButton->setObjectName(QStringLiteral("saveButton"));

    activeBox = new QComboBox;
    activeBox->setObjectName(QStringLiteral("activeBox"));
    activeBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    activeBox->setMinimumContentsLength(16);
    renameButton = new QPushButton(text(keys::kCalibrateBtnRename));
    renameButton->setObjectName(QStringLiteral("renameButton"));
    deleteButton = new QPushButton(text(keys::kCalibrateBtnDelete));
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    auto* activeRow = new QHBoxLayout;
    activeRow->addWidget(activeBox, 1);
    activeRow->addWidget(renameButton);
    activeRow->addWidget(deleteButton);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(nameEdit, 1);
    nameRow->addWidget(saveButton);

    auto* form = new QFormLayout;
    form->addRow(text(keys::kCalibrateLabLength), lengthRow);
    form->addRow(text(keys::kCalibrateLabName), nameRow);
    form->addRow(text(keys::kCalibrateLabActive), activeRow);

    auto* note = new QLabel(text(keys::kCalibrateLabNote));
    note->setObjectName(QStringLiteral("noteLabel"));
    note->setWordWrap(true);
    auto* closeButton = new QPushButton(text(keys::kCalibrateBtnClose));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(closeButton);

    auto* column = new QVBoxLayout(this);
    column->addWidget(hint);
    column->addWidget(pictureView, 1);
    column->addWidget(lineLabel);
    column->addLayout(form);
    column->addWidget(note);
    column->addLayout(closeRow);

    // Enter in a field must not close the dialog or save by surprise.
    for (QPushButton* button : {saveButton, renameButton, deleteButton, closeButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(pictureView, &CCalibrationPicture::LineChanged, this, &CCalibrationDlg::UpdateState);
    connect(lengthBox, &QDoubleSpinBox::valueChanged, this, &CCalibrationDlg::UpdateState);
    connect(nameEdit, &QLineEdit::textChanged, this, &CCalibrationDlg::UpdateState);
    connect(saveButton, &QPushButton::clicked, this, &CCalibrationDlg::SaveCalibration);
    connect(renameButton, &QPushButton::clicked, this, &CCalibrationDlg::RenameChosen);
    connect(deleteButton, &QPushButton::clicked, this, &CCalibrationDlg::DeleteChosen);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(activeBox, &QComboBox::currentIndexChanged, this, &CCalibrationDlg::OnActiveChosen);

    const std::optional<Calibration> active = store.Active(identity);
    Reload(active ? active->name : std::string());

    // Room for a still large enough to aim at a scale's marks, within the screen.
    QSize size(kDialogWidth, kDialogHeight);
    if (const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    }
    resize(size.expandedTo(minimumSizeHint()));
}

std::string CCalibrationDlg::Text(const char* key, const char* fallback) const {
    return strings.GetString(key, fallback);
}

void CCalibrationDlg::Reload(const std::string& select) {
    reloading = true;
    activeBox->clear();
    activeBox->addItem(QString::fromStdString(strings.GetString(keys::kCalibrateItemNone)), QString());
    for (const Calibration& calibration : store.List(identity)) {
        const QString name = QString::fromStdString(calibration.name);
        activeBox->addItem(name, name);
    }
    const int found = activeBox->findData(QString::fromStdString(select));
    activeBox->setCurrentIndex(found >= 0 ? found : 0);
    reloading = false;
    UpdateState();
}

std::string CCalibrationDlg::ChosenName() const { return activeBox->currentData().toString().toStdString(); }

void CCalibrationDlg::UpdateState() {
    const double pixels = pictureView->Line().length();
    lineLabel->setText(QString::fromStdString(
        Format(strings.GetString(keys::kCalibrateLabLine), QString::number(pixels, 'f', 1).toStdString())));
    lineLabel->setAccessibleName(lineLabel->text());
    saveButton->setEnabled(pixels >= 1 && lengthBox->value() > 0 && !nameEdit->text().trimmed().isEmpty());
    const bool chosen = !ChosenName().empty();
    renameButton->setEnabled(chosen && !nameEdit->text().trimmed().isEmpty());
    deleteButton->setEnabled(chosen);
}

void CCalibrationDlg::OnActiveChosen(int) {
    if (reloading) return;
    store.SetActive(identity, ChosenName());
    UpdateState();
    Q_EMIT CalibrationsChanged();
}

bool CCalibrationDlg::SaveCalibration() {
    const double pixels = pictureView->Line().length();
    const std::string name = nameEdit->text().trimmed().toStdString();
    if (pixels < 1 || lengthBox->value() <= 0 || name.empty() || pictureView->Picture().isNull()) return false;
    Calibration calibration;
    calibration.name = name;
    calibration.unit = static_cast<LengthUnit>(unitBox->currentData().toInt());
    calibration.metresPerPixel = lengthBox->value() * UnitMetres(calibration.unit) / pixels;
    calibration.atWidth = pictureView->Picture().width();
    if (!store.Add(identity, calibration) || !store.SetActive(identity, name)) return false;
    Reload(name);
    Q_EMIT CalibrationsChanged();
    return true;
}

bool CCalibrationDlg::RenameChosen() {
    const std::string from = ChosenName();
    const std::string to = nameEdit->text().trimmed().toStdString();
    if (from.empty() || to.empty() || !store.Rename(identity, from, to)) return false;
    Reload(to);
    Q_EMIT CalibrationsChanged();
    return true;
}

bool CCalibrationDlg::DeleteChosen() {
    const std::string name = ChosenName();
    if (name.empty() || !store.Remove(identity, name)) return false;
    const std::optional<Calibration> active = store.Active(identity);
    Reload(active ? active->name : std::string());
    Q_EMIT CalibrationsChanged();
    return true;
}

}  // namespace orvane
