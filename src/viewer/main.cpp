#include "dialogs/install_dialogs.h"
#include "viewer/orvane_app.h"

int main(int argc, char** argv) {
    orvane::InstallDialogs();
    orvane::COrvaneApp app;
    return app.Run(argc, argv);
}
