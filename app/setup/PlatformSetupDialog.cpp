#include "app/setup/SetupDialog.h"

int runSetupDialog(DemoSettings* settings) {
    return runSetupDialog(settings, platformDisplayModeSource(), platformSetupDialogView());
}
