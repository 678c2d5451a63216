#include "dialogs/camera_controls_dlg.h"

#include <linux/videodev2.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "capture/capture_video.h"
#include "localization/localizable_string.h"

namespace orvane {

namespace {

int ClampToInt(int64_t value) {
    return static_cast<int>(
        std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

bool IsShown(uint32_t type) {
    switch (type) {
        case V4L2_CTRL_TYPE_INTEGER:
        case V4L2_CTRL_TYPE_BOOLEAN:
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU:
        case V4L2_CTRL_TYPE_BUTTON:
            return true;
        default:
            return false;
    }
}

bool IsEditable(const CameraControl& control) {
    return (control.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED)) ==
           0;
}

// The slider and the number box of an integer control, kept in step.
class IntegerEditor final : public QWidget {
public:
    IntegerEditor(const CameraControl& control, QWidget* parent) : QWidget(parent) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        slider = new QSlider(Qt::Horizontal);
        number = new QSpinBox;
        const int minimum = ClampToInt(control.minimum);
        const int maximum = ClampToInt(control.maximum);
        const int step =
            std::max(1, ClampToInt(static_cast<int64_t>(std::min<uint64_t>(control.step, INT32_MAX))));
        slider->setRange(minimum, maximum);
        slider->setSingleStep(step);
        slider->setPageStep(std::max(step, static_cast<int>((int64_t{maximum} - minimum) / 10)));
        number->setRange(minimum, maximum);
        number->setSingleStep(step);
        // One width for every number box, so that the sliders line up.
        number->setMinimumWidth(number->fontMetrics().horizontalAdvance(QStringLiteral("-000000")) + 32);
        slider->setMinimumWidth(200);
        row->addWidget(slider, 1);
        row->addWidget(number);
        slider->setAccessibleName(QString::fromStdString(control.name));
        number->setAccessibleName(QString::fromStdString(control.name));
    }
    void SetValue(int value) {
        const QSignalBlocker quietSlider(slider);
        const QSignalBlocker quietNumber(number);
        slider->setValue(value);
        number->setValue(value);
    }
    QSlider* slider;
    QSpinBox* number;
};

}  // namespace

CCameraControlsDlg::CCameraControlsDlg(CCaptureVideo& session_, QWidget* parent, CLocalizableString* strings_)
    : QDialog(parent),
      session(session_),
      strings(strings_ != nullptr ? *strings_ : *CLocalizableString::GetInstance()) {
    setObjectName(QStringLiteral("cameraControlsDialog"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setModal(true);
    controls = session.GetControls();

    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    int row = 0;
    for (const CameraControl& control : controls) {
        if (control.type == V4L2_CTRL_TYPE_CTRL_CLASS) {
            auto* heading = new QLabel(QString::fromStdString(control.name));
            heading->setTextFormat(Qt::PlainText);
            QFont bold = heading->font();
            bold.setBold(true);
            heading->setFont(bold);
            grid->addWidget(heading, row++, 0, 1, 2);
            continue;
        }
        if (!IsShown(control.type)) continue;
        QWidget* editor = MakeEditor(control);
        if (control.type != V4L2_CTRL_TYPE_BOOLEAN && control.type != V4L2_CTRL_TYPE_BUTTON) {
            auto* label = new QLabel(QString::fromStdString(control.name));
            label->setTextFormat(Qt::PlainText);
            label->setBuddy(editor);
            labels[control.id] = label;
            grid->addWidget(label, row, 0);
        }
        const bool button = control.type == V4L2_CTRL_TYPE_BUTTON;
        grid->addWidget(editor, row++, 1, button ? Qt::AlignLeft : Qt::Alignment());
        editors[control.id] = editor;
        ShowValue(control);
    }
    if (editors.empty()) {
        auto* none = new QLabel(QString::fromStdString(strings.GetString(keys::kCameraControlsNone)));
        none->setObjectName(QStringLiteral("noControls"));
        grid->addWidget(none, row++, 0, 1, 2);
    }
    // Not a fault: uvcvideo makes the button's input device only for cameras that declare one.
    if (!session.HasSnapshotButton()) {
        auto* noButton = new QLabel(QString::fromStdString(strings.GetString(keys::kCameraControlsNoButton)));
        noButton->setObjectName(QStringLiteral("noSnapshotButton"));
        noButton->setTextFormat(Qt::PlainText);
        noButton->setWordWrap(true);
        grid->addWidget(noButton, row++, 0, 1, 2);
    }
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(row, 1);

    auto* scroll = new QScrollArea;
    scroll->setWidget(page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumWidth(page->sizeHint().width() + 24);
    scroll->setMinimumHeight(std::min(page->sizeHint().height() + 8, 560));

    auto* buttons = new QHBoxLayout;
    auto* defaults = new QPushButton(QString::fromStdString(strings.GetString(keys::kSettingBtnReset)));
    defaults->setObjectName(QStringLiteral("defaultsButton"));
    defaults->setAutoDefault(false);
    defaults->setEnabled(!editors.empty());
    auto* close = new QPushButton(QString::fromStdString(strings.GetString(keys::kAlertOk)));
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAutoDefault(false);
    buttons->addWidget(defaults);
    buttons->addStretch(1);
    buttons->addWidget(close);
    connect(defaults, &QPushButton::clicked, this, &CCameraControlsDlg::RestoreDefaults);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* column = new QVBoxLayout(this);
    column->addWidget(scroll, 1);
    column->addLayout(buttons);
}

QWidget* CCameraControlsDlg::MakeEditor(const CameraControl& control) {
    const uint32_t id = control.id;
    const QString name = QString::fromStdString(control.name);
    switch (control.type) {
        case V4L2_CTRL_TYPE_INTEGER: {
            auto* editor = new IntegerEditor(control, this);
            connect(editor->slider, &QSlider::valueChanged, this,
                    [this, id](int value) { ApplyValue(id, value); });
            connect(editor->number, &QSpinBox::valueChanged, this,
                    [this, id](int value) { ApplyValue(id, value); });
            return editor;
        }
        case V4L2_CTRL_TYPE_BOOLEAN: {
            auto* box = new QCheckBox(name);
            box->setAccessibleName(name);
            connect(box, &QCheckBox::toggled, this, [this, id](bool on) { ApplyValue(id, on ? 1 : 0); });
            return box;
        }
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU: {
            auto* list = new QComboBox;
            list->setAccessibleName(name);
            for (const CameraControlItem& item : control.items) {
                const QString text = control.type == V4L2_CTRL_TYPE_MENU ? QString::fromStdString(item.name)
                                                                         : QString::number(item.value);
                list->addItem(text, item.index);
            }
            connect(list, &QComboBox::activated, this,
                    [this, id, list](int position) { ApplyValue(id, list->itemData(position).toInt()); });
            return list;
        }
        default: {
            auto* button = new QPushButton(name);
            button->setAccessibleName(name);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, id] { ApplyValue(id, 1); });
            return button;
        }
    }
}

const CameraControl* CCameraControlsDlg::Find(uint32_t id) const {
    for (const CameraControl& control : controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

QWidget* CCameraControlsDlg::Editor(uint32_t id) const {
    const auto found = editors.find(id);
    return found != editors.end() ? found->second : nullptr;
}

void CCameraControlsDlg::ShowValue(const CameraControl& control) {
    QWidget* editor = Editor(control.id);
    if (editor == nullptr) return;
    editor->setEnabled(IsEditable(control));
    if (QLabel* label = labels.count(control.id) != 0 ? labels[control.id] : nullptr)
        label->setEnabled(IsEditable(control));
    if (!control.hasValue) return;
    if (auto* integer = dynamic_cast<IntegerEditor*>(editor)) {
        integer->SetValue(control.value);
    } else if (auto* box = qobject_cast<QCheckBox*>(editor)) {
        const QSignalBlocker quiet(box);
        box->setChecked(control.value != 0);
    } else if (auto* list = qobject_cast<QComboBox*>(editor)) {
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(list->findData(static_cast<uint32_t>(control.value)));
    }
}

bool CCameraControlsDlg::ApplyValue(uint32_t id, int32_t value) {
    const CameraControl* control = Find(id);
    if (control == nullptr) return false;
    const bool written = session.SetControl(id, value);
    // Every control is read again, not only when the camera sets V4L2_CTRL_FLAG_UPDATE: uvcvideo
    // never does, yet switching its automatic exposure to manual unlocks the exposure time. The
    // camera may also have rounded the value to its step.
    Refresh();
    return written;
}

void CCameraControlsDlg::Refresh() {
    const std::vector<CameraControl> fresh = session.GetControls();
    for (const CameraControl& control : fresh) {
        for (CameraControl& kept : controls) {
            if (kept.id == control.id) kept = control;
        }
        ShowValue(control);
    }
}

void CCameraControlsDlg::RestoreDefaults() {
    // The manual values first, while their automatic modes may still allow them, then the modes.
    std::vector<CameraControl> order(controls);
    std::stable_partition(order.begin(), order.end(), [](const CameraControl& control) {
        return !CCameraControls::IsAutomaticMode(control.id, control.flags);
    });
    for (const CameraControl& control : order) {
        if (!CCameraControls::KeepsValue(control.type) || (control.flags & V4L2_CTRL_FLAG_READ_ONLY) != 0)
            continue;
        if (!IsShown(control.type)) continue;
        session.SetControl(control.id, ClampToInt(control.defaultValue));
    }
    Refresh();
}

}  // namespace orvane
