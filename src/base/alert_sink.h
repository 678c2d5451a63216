#pragma once

#include <string>

namespace orvane {

// Where the engine's messages to the user go: the viewer shows them as warning boxes with the caption
// "Orvane"; tests record them. Implementations must accept calls from any thread and must not block
// the caller on the interface thread.
class IAlertSink {
public:
    virtual ~IAlertSink() = default;
    virtual void ShowAlert(const std::string& text) = 0;
    // Takes a message off the screen when the state it told of no longer holds; nothing when it is
    // not shown.
    virtual void CloseAlert(const std::string& /*text*/) {}
};

// Installs the sink that receives every alert; nullptr restores the default, which writes to stderr.
// The sink must outlive its installation.
void SetAlertSink(IAlertSink* sink);

// Hands one message to the installed sink. Thread-safe.
void ShowAlert(const std::string& text);
// Asks the installed sink to take the message with this text off the screen. Thread-safe.
void CloseAlert(const std::string& text);

}  // namespace orvane
