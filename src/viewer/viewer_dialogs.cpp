#include "viewer/viewer_dialogs.h"

#include <utility>

namespace orvane {

namespace {

ViewerDialogFactories& Factories() {
    static ViewerDialogFactories factories;
    return factories;
}

}  // namespace

void SetViewerDialogFactories(ViewerDialogFactories factories) { Factories() = std::move(factories); }

const ViewerDialogFactories& GetViewerDialogFactories() { return Factories(); }

}  // namespace orvane
