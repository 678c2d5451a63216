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
};

// Installs the sink that receives every alert; nullptr restores the default, which writes to stderr.
// The sink must outlive its installation.
void SetAlertSink(IAlertSink* sink);

// Hands one message to the installed sink. Thread-safe.
void ShowAlert(const std::string& text);

}  // namespace orvane
