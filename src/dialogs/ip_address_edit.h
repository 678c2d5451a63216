#pragma once

#include <QLineEdit>
#include <QString>
#include <cstdint>

namespace orvane {

// An entry for one IPv4 address in dotted form. Only what can still become an address can be typed
// (four numbers 0 .. 255, without leading zeros); an address left incomplete when the entry loses the
// focus is put back to the last complete one, so the entry always stands for a valid address.
// Interface thread.
class CIpAddressEdit final : public QLineEdit {
    Q_OBJECT

public:
    explicit CIpAddressEdit(QWidget* parent = nullptr);

    // The address in host byte order (first number in the most significant byte): the one shown, or
    // while the text is incomplete, the last complete one.
    uint32_t Address() const;
    void SetAddress(uint32_t address);

    // "a.b.c.d"
    static QString FormatAddress(uint32_t address);
    // True with `address` set when `text` is a complete address in the form the entry accepts.
    static bool ParseAddress(const QString& text, uint32_t& address);

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    void OnTextChanged(const QString& text);

    uint32_t address = 0;  // the last complete address
};

}  // namespace orvane
