#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "sample_editor/customer_window.h"

bool can_show_window(quorla_owner_window) { return gtk_init_check(nullptr, nullptr); }

bool customer_finishes(quorla_owner_window owner, const std::string& text) {
    GtkWidget* dialog =
        gtk_dialog_new_with_buttons("Sample editor", nullptr, GTK_DIALOG_MODAL, "_Cancel",
                                    GTK_RESPONSE_CANCEL, "_Finish", GTK_RESPONSE_ACCEPT, nullptr);
    GtkWidget* label = gtk_label_new(text.c_str());
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(content), 12);
    gtk_container_add(GTK_CONTAINER(content), label);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_widget_show_all(dialog);
#ifdef GDK_WINDOWING_X11
    // Owned by the launcher's window, as a Windows module would pass the HWND as parent.
    GdkDisplay* display = gtk_widget_get_display(dialog);
    if (GDK_IS_X11_DISPLAY(display)) {
        GdkWindow* owner_window = gdk_x11_window_foreign_new_for_display(
            display, static_cast<Window>(reinterpret_cast<uintptr_t>(owner)));
        if (owner_window != nullptr) {
            gdk_window_set_transient_for(gtk_widget_get_window(dialog), owner_window);
            g_object_unref(owner_window);
        }
    }
#endif
    const gint answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration();
    return answer == GTK_RESPONSE_ACCEPT;
}

std::FILE* open_for_append(const std::string& path) { return std::fopen(path.c_str(), "ab"); }
