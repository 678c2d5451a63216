#include "dialogs/ip_address_edit.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QStringList>
#include <QValidator>

namespace orvane {

namespace {

constexpr int kParts = 4;

// Acceptable: four numbers; Intermediate: on the way there (empty parts, fewer than four); Invalid:
// anything no further typing can turn into an address.
QValidator::State Judge(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() > kParts) return QValidator::Invalid;
    bool complete = parts.size() == kParts;
    for (const QString& part : parts) {
        if (part.isEmpty()) {
            complete = false;
            continue;
        }
        if (part.size() > 3) return QValidator::Invalid;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return QValidator::Invalid;
        }
        if (part.size() > 1 && part[0] == QLatin1Char('0')) return QValidator::Invalid;
        if (part.toInt() > 255) return QValidator::Invalid;
    }
    return complete ? QValidator::Acceptable : QValidator::Intermediate;
}

class IpAddressValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*pos*/) const override { return Judge(input); }
};

}  // namespace

CIpAddressEdit::CIpAddressEdit(QWidget* parent) : QLineEdit(parent) {
    setValidator(new IpAddressValidator(this));
    setMaxLength(15);
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 16);
    SetAddress(0);
    connect(this, &QLineEdit::textChanged, this, &CIpAddressEdit::OnTextChanged);
}

uint32_t CIpAddressEdit::Address() const { return address; }

void CIpAddressEdit::SetAddress(uint32_t value) {
    address = value;
    setText(FormatAddress(value));
}

QString CIpAddressEdit::FormatAddress(uint32_t value) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(value >> 24)
        .arg((value >> 16) & 0xFF)
        .arg((value >> 8) & 0xFF)
        .arg(value & 0xFF);
}

bool CIpAddressEdit::ParseAddress(const QString& text, uint32_t& value) {
    if (Judge(text) != QValidator::Acceptable) return false;
    uint32_t result = 0;
    for (const QString& part : text.split(QLatin1Char('.'))) result = (result << 8) | part.toUInt();
    value = result;
    return true;
}

void CIpAddressEdit::OnTextChanged(const QString& text) {
    uint32_t parsed = 0;
    if (ParseAddress(text, parsed)) address = parsed;
}

void CIpAddressEdit::focusOutEvent(QFocusEvent* event) {
    uint32_t parsed = 0;
    if (!ParseAddress(text(), parsed)) setText(FormatAddress(address));
    QLineEdit::focusOutEvent(event);
}

}  // namespace orvane
