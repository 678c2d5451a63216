#include "dialogs/install_dialogs.h"
#include "viewer/orvane_app.h"

#include <utility>

int main(int argc, char** argv) {
    orvane::COrvaneApp::Options options;
    options.viewer.dialogs = orvane::ViewerDialogs();
    orvane::COrvaneApp app(std::move(options));
    return app.Run(argc, argv);
}
