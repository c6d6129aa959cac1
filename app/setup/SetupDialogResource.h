// Identifiers of the setup dialog's template (SetupDialog.rc) and its controls, shared by the
// resource script and the Win32 dialog view.
#pragma once

#define VELMORA_IDD_SETUP 101
#define VELMORA_IDC_RESOLUTION 1001
#define VELMORA_IDC_FULLSCREEN 1003
