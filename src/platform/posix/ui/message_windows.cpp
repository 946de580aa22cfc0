// The error window, the uncaught-exception question, and the layout both questions share.
#include "platform/posix/ui/windows.h"
#include "res/dialog_texts.h"

namespace qn::platform::ui {

namespace {

constexpr int kIgnore = 1;
constexpr int kStop = 2;
constexpr int kWrapChars = 60;

}  // namespace

std::string labelText(const GtkApi& gtk, const std::string& text) {
    char* valid = gtk.g_utf8_make_valid(text.c_str(), static_cast<long>(text.size()));
    std::string result = valid ? valid : "";
    gtk.g_free(valid);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
    return result;
}

Object leftLabel(const GtkApi& gtk, const std::string& text, int wrapChars) {
    Object label = gtk.gtk_label_new(labelText(gtk, text).c_str());
    gtk.gtk_label_set_xalign(label, 0.0f);
    if (wrapChars > 0) {
        gtk.gtk_label_set_line_wrap(label, 1);
        gtk.gtk_label_set_max_width_chars(label, wrapChars);
    }
    return label;
}

Object questionColumn(const GtkApi& gtk, Object dialog, const char* title, const char* frameLabel,
                      Object heading) {
    gtk.gtk_window_set_title(dialog, title);
    gtk.gtk_window_set_position(dialog, kPositionCenter);
    Object frame = gtk.gtk_frame_new(frameLabel);
    gtk.gtk_container_set_border_width(frame, 8);
    gtk.gtk_box_pack_start(gtk.gtk_dialog_get_content_area(dialog), frame, 1, 1, 0);
    Object column = gtk.gtk_box_new(kOrientationVertical, 8);
    gtk.gtk_container_set_border_width(column, 8);
    gtk.gtk_container_add(frame, column);
    Object top = gtk.gtk_box_new(kOrientationHorizontal, 12);
    gtk.gtk_box_pack_start(top, gtk.gtk_image_new_from_icon_name("dialog-error", kIconSizeDialog), 0, 0, 0);
    gtk.gtk_box_pack_start(top, heading, 1, 1, 0);
    gtk.gtk_box_pack_start(column, top, 0, 0, 0);
    return column;
}

int showMessage(const GtkApi& gtk, const Fields& request, RecordChannel& channel) {
    const std::string title = request.size() > 0 ? request[0] : std::string();
    const std::string text = request.size() > 1 ? labelText(gtk, request[1]) : std::string();
    Object dialog = gtk.gtk_message_dialog_new(nullptr, 0, kMessageError, kButtonsOk, "%s", text.c_str());
    gtk.gtk_window_set_title(dialog, labelText(gtk, title).c_str());
    // The stop sign of the Windows box; current GTK draws no icon in a message dialog by itself.
    Object icon = gtk.gtk_image_new_from_icon_name("dialog-error", kIconSizeDialog);
    gtk.gtk_message_dialog_set_image(dialog, icon);
    gtk.gtk_widget_show_all(icon);
    gtk.gtk_window_set_position(dialog, kPositionCenter);
    gtk.gtk_dialog_run(dialog);
    gtk.gtk_widget_destroy(dialog);
    channel.send({"closed"});
    return 0;
}

int askAboutException(const GtkApi& gtk, const Fields& request, RecordChannel& channel) {
    const std::string trace = request.empty() ? std::string() : labelText(gtk, request[0]);
    Object dialog = gtk.gtk_dialog_new();
    gtk.gtk_window_set_resizable(dialog, 1);
    // The first size is the least: the trace area only ever grows.
    gtk.gtk_widget_set_size_request(dialog, 560, 460);
    Object column = questionColumn(gtk, dialog, QN_TEXT_JAVA_EXCEPTION, QN_TEXT_UNCAUGHT_EXCEPTION,
                                   leftLabel(gtk, QN_TEXT_EXCEPTION_INTRO, kWrapChars));

    Object scrolled = gtk.gtk_scrolled_window_new(nullptr, nullptr);
    Object view = gtk.gtk_text_view_new();
    gtk.gtk_text_view_set_editable(view, 0);
    gtk.gtk_text_view_set_monospace(view, 1);
    gtk.gtk_text_buffer_set_text(gtk.gtk_text_view_get_buffer(view), trace.c_str(), -1);
    gtk.gtk_container_add(scrolled, view);
    gtk.gtk_box_pack_start(column, scrolled, 1, 1, 0);
    gtk.gtk_box_pack_start(column, leftLabel(gtk, QN_TEXT_EXCEPTION_HINT, kWrapChars), 0, 0, 0);
    gtk.gtk_box_pack_start(column, leftLabel(gtk, QN_TEXT_EXCEPTION_WARNING, kWrapChars), 0, 0, 0);

    Object ignore = gtk.gtk_dialog_add_button(dialog, QN_TEXT_IGNORE, kIgnore);
    gtk.gtk_dialog_add_button(dialog, QN_TEXT_STOP, kStop);
    gtk.gtk_dialog_set_default_response(dialog, kIgnore);
    gtk.gtk_widget_show_all(dialog);
    gtk.gtk_widget_grab_focus(ignore);  // Enter ignores, as on Windows; the trace would take it
    // Escape and the close box answer as Stop does.
    const int response = gtk.gtk_dialog_run(dialog);
    gtk.gtk_widget_destroy(dialog);
    channel.send({response == kIgnore ? "ignore" : "stop"});
    return 0;
}

}  // namespace qn::platform::ui
