// The setup dialog in GTK 3: a modal, centred dialog laid out like the original template
// (186 x 111 dialog units, about 280 x 180 pixels): the title line on top, the resolution list
// and the fullscreen check box each behind a right-aligned label, the quote below, "Demo" at the
// bottom left and "Die" at the bottom right.
#include <gtk/gtk.h>

#include "app/setup/SetupDialogView.h"

namespace {

const char* const quote =
    "\"We're not going to rush a demo like this (or our previous efforts) again, next time "
    "something more complete.\"";

void respond(GtkWidget* button, gpointer responseId) {
    gtk_dialog_response(GTK_DIALOG(gtk_widget_get_toplevel(button)), GPOINTER_TO_INT(responseId));
}

GtkWidget* rightAlignedLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_widget_set_halign(label, GTK_ALIGN_END);
    gtk_label_set_xalign(GTK_LABEL(label), 1.0f);
    return label;
}

// Takes every event GTK has queued, so that a destroyed dialog is really off the screen before
// the demo's own window opens.
void drainEvents() {
    while (gtk_events_pending()) {
        gtk_main_iteration_do(FALSE);
    }
    GdkDisplay* display = gdk_display_get_default();
    if (display != nullptr) {
        gdk_display_sync(display);
    }
    while (gtk_events_pending()) {
        gtk_main_iteration_do(FALSE);
    }
}

class GtkSetupDialogView : public SetupDialogView {
public:
    int show(const std::vector<std::string>& items, SetupChoice& choice) override {
        if (!initialised()) {
            return -1;
        }

        GtkWidget* dialog = gtk_dialog_new();
        gtk_window_set_title(GTK_WINDOW(dialog), "Halvo selektor");
        gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
        gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
        gtk_container_set_border_width(GTK_CONTAINER(dialog), 8);

        GtkWidget* grid = gtk_grid_new();
        gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
        gtk_grid_set_column_spacing(GTK_GRID(grid), 14);
        gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid, TRUE, TRUE, 0);

        GtkWidget* title = gtk_label_new("Orlo");
        gtk_widget_set_halign(title, GTK_ALIGN_CENTER);
        gtk_widget_set_hexpand(title, TRUE);
        gtk_grid_attach(GTK_GRID(grid), title, 0, 0, 2, 1);

        GtkWidget* resolutions = gtk_combo_box_text_new();
        for (const std::string& item : items) {
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(resolutions), item.c_str());
        }
        if (choice.selectedIndex >= 0 && choice.selectedIndex < static_cast<int>(items.size())) {
            gtk_combo_box_set_active(GTK_COMBO_BOX(resolutions), choice.selectedIndex);
        }
        gtk_widget_set_size_request(resolutions, 112, -1);
        gtk_widget_set_halign(resolutions, GTK_ALIGN_START);
        gtk_grid_attach(GTK_GRID(grid), rightAlignedLabel("Resolution:"), 0, 1, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), resolutions, 1, 1, 1, 1);

        GtkWidget* fullscreen = gtk_check_button_new();
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(fullscreen), choice.fullscreenTicked ? TRUE : FALSE);
        gtk_widget_set_halign(fullscreen, GTK_ALIGN_START);
        gtk_grid_attach(GTK_GRID(grid), rightAlignedLabel("Fullscreen:"), 0, 2, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), fullscreen, 1, 2, 1, 1);

        GtkWidget* saying = gtk_label_new(quote);
        gtk_label_set_line_wrap(GTK_LABEL(saying), TRUE);
        gtk_label_set_max_width_chars(GTK_LABEL(saying), 40);
        gtk_label_set_xalign(GTK_LABEL(saying), 0.0f);
        gtk_widget_set_margin_top(saying, 6);
        gtk_grid_attach(GTK_GRID(grid), saying, 0, 3, 2, 1);

        GtkWidget* demo = gtk_button_new_with_label("Demo");
        GtkWidget* die = gtk_button_new_with_label("Die");
        gtk_widget_set_size_request(demo, 75, -1);
        gtk_widget_set_size_request(die, 75, -1);
        g_signal_connect(demo, "clicked", G_CALLBACK(respond), GINT_TO_POINTER(GTK_RESPONSE_OK));
        g_signal_connect(die, "clicked", G_CALLBACK(respond), GINT_TO_POINTER(GTK_RESPONSE_CANCEL));
        GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        gtk_box_pack_start(GTK_BOX(buttons), demo, FALSE, FALSE, 0);
        gtk_box_pack_end(GTK_BOX(buttons), die, FALSE, FALSE, 0);
        gtk_widget_set_margin_top(buttons, 8);
        gtk_grid_attach(GTK_GRID(grid), buttons, 0, 4, 2, 1);

        // "Demo" is the default button and starts with the focus, so Enter starts the demo.
        // Escape and the close box end gtk_dialog_run with a delete response: "Die".
        gtk_widget_set_can_default(demo, TRUE);
        gtk_window_set_default(GTK_WINDOW(dialog), demo);
        gtk_widget_show_all(dialog);
        gtk_widget_grab_focus(demo);

        int response = gtk_dialog_run(GTK_DIALOG(dialog));
        int result = 0;
        if (response == GTK_RESPONSE_OK) {
            choice.selectedIndex = gtk_combo_box_get_active(GTK_COMBO_BOX(resolutions));
            choice.fullscreenTicked = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(fullscreen)) != FALSE;
            result = 1;
        }
        gtk_widget_destroy(dialog);
        drainEvents();
        return result;
    }

private:
    static bool initialised() {
        // GTK would otherwise switch the whole process to the user's locale, and with it the
        // decimal separator the demo's text readers expect.
        static const bool ok = [] {
            gtk_disable_setlocale();
            return gtk_init_check(nullptr, nullptr) != FALSE;
        }();
        return ok;
    }
};

} // namespace

SetupDialogView& platformSetupDialogView() {
    static GtkSetupDialogView view;
    return view;
}
