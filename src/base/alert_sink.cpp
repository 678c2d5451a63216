#include "base/alert_sink.h"

#include <cstdio>
#include <mutex>

namespace orvane {

namespace {

std::recursive_mutex sinkLock;  // guards currentSink and serialises deliveries
IAlertSink* currentSink = nullptr;

}  // namespace

void SetAlertSink(IAlertSink* sink) {
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    currentSink = sink;
}

void ShowAlert(const std::string& text) {
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    if (currentSink != nullptr) {
        currentSink->ShowAlert(text);
        return;
    }
    std::fprintf(stderr, "Orvane: %s\n", text.c_str());
}

void CloseAlert(const std::string& text) {
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    if (currentSink != nullptr) currentSink->CloseAlert(text);
}

}  // namespace orvane
