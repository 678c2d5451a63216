#pragma once

#include <QEvent>
#include <cstdint>

#include "base/message_sink.h"

namespace orvane {

// The posted viewer messages travel as events whose type is the message number (1025 ... 1029,
// 1124), all inside Qt's user range.
inline QEvent::Type ViewerEventType(uint32_t message) { return static_cast<QEvent::Type>(message); }

// The capture thread's word that the previewed camera stopped delivering frames for good; the
// viewer's own, outside the numbers above.
inline constexpr uint32_t kStreamLostMessage = 1130;
// The capture thread's word that the camera's frames stopped being usable, or came again.
inline constexpr uint32_t kFramesUnreadableMessage = 1131;

inline bool IsViewerMessage(const QEvent* event, uint32_t message) {
    return static_cast<uint32_t>(event->type()) == message;
}

}  // namespace orvane
