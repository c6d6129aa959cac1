// The setup dialog on Windows: the modal dialog of template 101 (SetupDialog.rc), owned by the
// foreground window. It only shows the items and the opening choice and reads the choice back;
// "Demo" (also Enter, the default button) ends it with 1, "Die" (also Escape and the close box,
// which the dialog manager turns into IDCANCEL) with 0.
#include "app/setup/SetupDialogResource.h"
#include "app/setup/SetupDialogView.h"

#include <windows.h>

namespace {

struct DialogState {
    const std::vector<std::string>* items;
    SetupChoice* choice;
};

std::wstring wide(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    }
    return result;
}

void showOpeningState(HWND dialog, const DialogState& state) {
    const HWND list = GetDlgItem(dialog, VELMORA_IDC_RESOLUTION);
    for (const std::string& item : *state.items) {
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
    }
    const int selected = state.choice->selectedIndex;
    if (selected >= 0 && selected < static_cast<int>(state.items->size())) {
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    }
    if (state.choice->fullscreenTicked) {
        CheckDlgButton(dialog, VELMORA_IDC_FULLSCREEN, BST_CHECKED);
    }
}

void readChoice(HWND dialog, SetupChoice& choice) {
    const LRESULT selected = SendDlgItemMessageW(dialog, VELMORA_IDC_RESOLUTION, CB_GETCURSEL, 0, 0);
    choice.selectedIndex = selected == CB_ERR ? -1 : static_cast<int>(selected);
    choice.fullscreenTicked = IsDlgButtonChecked(dialog, VELMORA_IDC_FULLSCREEN) == BST_CHECKED;
}

INT_PTR CALLBACK setupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* state = reinterpret_cast<DialogState*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        showOpeningState(dialog, *state);
        // The system gives the focus to the first tab stop, "Demo".
        return TRUE;
    }
    case WM_COMMAND: {
        auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
        switch (LOWORD(wParam)) {
        case IDOK:
            readChoice(dialog, *state->choice);
            EndDialog(dialog, 1);
            break;
        case IDCANCEL:
            EndDialog(dialog, 0);
            break;
        default:
            break;
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}

class Win32SetupDialogView : public SetupDialogView {
public:
    int show(const std::vector<std::string>& items, SetupChoice& choice) override {
        // The choice changes only after "Demo".
        SetupChoice edited = choice;
        DialogState state{&items, &edited};
        const INT_PTR result =
            DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(VELMORA_IDD_SETUP),
                            GetForegroundWindow(), setupDialogProc, reinterpret_cast<LPARAM>(&state));
        if (result == 1) {
            choice = edited;
            return 1;
        }
        return result == 0 ? 0 : -1;
    }
};

} // namespace

SetupDialogView& platformSetupDialogView() {
    static Win32SetupDialogView view;
    return view;
}
