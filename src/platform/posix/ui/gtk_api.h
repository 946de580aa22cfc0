#pragma once
// The few GTK 3 functions the launcher's windows use, found at run time: the launcher links no
// toolkit, so it starts where GTK is missing and then writes its texts instead. Objects are
// opaque pointers; the enumeration values below are GTK 3's, which its ABI keeps fixed.

#include <string>

namespace qn::platform::ui {

using Object = void*;
using Callback = void (*)();

enum : int {
    kWindowToplevel = 0,
    kPositionCenter = 1,
    kOrientationHorizontal = 0,
    kOrientationVertical = 1,
    kMessageError = 3,
    kButtonsOk = 1,
    kIconSizeDialog = 6,
    kFileChooserSelectFolder = 2,
    kTypeHintSplashscreen = 4,
    kResponseAccept = -3,
    kResponseDeleteEvent = -4,
    kResponseOk = -5,
    kResponseCancel = -6,
    kIoIn = 1,
    kIoHup = 16,
    kIoErr = 8,
};

struct Rectangle {
    int x, y, width, height;
};

// return type, name, parameters: one row per function, resolved by name.
#define QN_GTK_FUNCTIONS(X)                                                                       \
    X(int, gtk_init_check, (int*, char***))                                                      \
    X(void, gdk_set_allowed_backends, (const char*))                                             \
    X(Object, gdk_display_get_default, ())                                                       \
    X(Object, gdk_display_get_primary_monitor, (Object))                                         \
    X(Object, gdk_display_get_monitor, (Object, int))                                            \
    X(void, gdk_monitor_get_geometry, (Object, Rectangle*))                                      \
    X(void, gdk_display_sync, (Object))                                                          \
    X(Object, gdk_pixbuf_new_from_file, (const char*, Object*))                                  \
    X(int, gdk_pixbuf_get_width, (Object))                                                       \
    X(int, gdk_pixbuf_get_height, (Object))                                                      \
    X(void, g_free, (void*))                                                                     \
    X(char*, g_utf8_make_valid, (const char*, long))                                             \
    X(unsigned long, g_signal_connect_data, (Object, const char*, Callback, void*, void*, int))   \
    X(unsigned, g_unix_fd_add, (int, int, int (*)(int, int, void*), void*))                      \
    X(Object, gtk_window_new, (int))                                                             \
    X(void, gtk_window_set_title, (Object, const char*))                                         \
    X(void, gtk_window_set_default_size, (Object, int, int))                                     \
    X(void, gtk_window_set_resizable, (Object, int))                                             \
    X(void, gtk_window_set_decorated, (Object, int))                                             \
    X(void, gtk_window_set_type_hint, (Object, int))                                             \
    X(void, gtk_window_set_skip_taskbar_hint, (Object, int))                                     \
    X(void, gtk_window_set_skip_pager_hint, (Object, int))                                       \
    X(void, gtk_window_move, (Object, int, int))                                                 \
    X(void, gtk_window_set_position, (Object, int))                                              \
    X(Object, gtk_message_dialog_new, (Object, int, int, int, const char*, ...))                 \
    X(void, gtk_message_dialog_set_image, (Object, Object))                                      \
    X(Object, gtk_dialog_new, ())                                                                \
    X(Object, gtk_dialog_add_button, (Object, const char*, int))                                 \
    X(Object, gtk_dialog_get_content_area, (Object))                                             \
    X(void, gtk_dialog_set_default_response, (Object, int))                                      \
    X(void, gtk_dialog_set_response_sensitive, (Object, int, int))                               \
    X(int, gtk_dialog_run, (Object))                                                             \
    X(Object, gtk_dialog_get_widget_for_response, (Object, int))                                 \
    X(Object, gtk_file_chooser_dialog_new, (const char*, Object, int, const char*, ...))         \
    X(char*, gtk_file_chooser_get_filename, (Object))                                            \
    X(int, gtk_file_chooser_set_current_folder, (Object, const char*))                           \
    X(Object, gtk_box_new, (int, int))                                                           \
    X(void, gtk_box_pack_start, (Object, Object, int, int, unsigned))                            \
    X(Object, gtk_frame_new, (const char*))                                                      \
    X(void, gtk_container_add, (Object, Object))                                                 \
    X(void, gtk_container_set_border_width, (Object, unsigned))                                  \
    X(Object, gtk_label_new, (const char*))                                                      \
    X(void, gtk_label_set_text, (Object, const char*))                                           \
    X(void, gtk_label_set_line_wrap, (Object, int))                                              \
    X(void, gtk_label_set_max_width_chars, (Object, int))                                        \
    X(void, gtk_label_set_xalign, (Object, float))                                               \
    X(Object, gtk_link_button_new, (const char*))                                                \
    X(Object, gtk_button_new_with_mnemonic, (const char*))                                       \
    X(Object, gtk_entry_new, ())                                                                 \
    X(void, gtk_entry_set_text, (Object, const char*))                                           \
    X(void, gtk_editable_set_editable, (Object, int))                                            \
    X(Object, gtk_image_new_from_icon_name, (const char*, int))                                  \
    X(Object, gtk_image_new_from_pixbuf, (Object))                                               \
    X(Object, gtk_scrolled_window_new, (Object, Object))                                         \
    X(Object, gtk_text_view_new, ())                                                             \
    X(Object, gtk_text_view_get_buffer, (Object))                                                \
    X(void, gtk_text_view_set_editable, (Object, int))                                           \
    X(void, gtk_text_view_set_monospace, (Object, int))                                          \
    X(void, gtk_text_buffer_set_text, (Object, const char*, int))                                \
    X(void, gtk_widget_set_size_request, (Object, int, int))                                     \
    X(void, gtk_widget_set_sensitive, (Object, int))                                             \
    X(void, gtk_widget_show_all, (Object))                                                       \
    X(void, gtk_widget_grab_focus, (Object))                                                     \
    X(void, gtk_widget_destroy, (Object))                                                        \
    X(void, gtk_main, ())                                                                        \
    X(void, gtk_main_quit, ())

struct GtkApi {
#define QN_GTK_FIELD(result, name, parameters) result(*name) parameters = nullptr;
    QN_GTK_FUNCTIONS(QN_GTK_FIELD)
#undef QN_GTK_FIELD
};

/// GTK 3 with every function above, loaded once; null when it is missing or incomplete, with the
/// reason in `problem`.
const GtkApi* loadGtk(std::string& problem);

/// Connects a signal handler that receives (the emitting object, `data`).
template <typename Handler>
void connect(const GtkApi& gtk, Object object, const char* signal, Handler handler, void* data) {
    gtk.g_signal_connect_data(object, signal, reinterpret_cast<Callback>(handler), data, nullptr, 0);
}

}  // namespace qn::platform::ui
