// The splash picture: a window without decorations or taskbar entry, centred on the primary
// monitor, kept until the launcher closes its end of the socket.
#include <unistd.h>

#include "platform/posix/ui/windows.h"

namespace qn::platform::ui {

namespace {

const GtkApi* quitting = nullptr;

// The launcher closed the socket (or died): the splash ends.
int onLauncherInput(int fd, int, void*) {
    char byte;
    if (::read(fd, &byte, 1) > 0) return 1;  // keep watching
    quitting->gtk_main_quit();
    return 0;
}

Rectangle primaryScreen(const GtkApi& gtk) {
    Rectangle area{0, 0, 0, 0};
    Object display = gtk.gdk_display_get_default();
    Object monitor = gtk.gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gtk.gdk_display_get_monitor(display, 0);
    if (monitor) gtk.gdk_monitor_get_geometry(monitor, &area);
    return area;
}

}  // namespace

int showSplash(const GtkApi& gtk, const Fields& request, RecordChannel& channel) {
    const std::string path = request.empty() ? std::string() : request[0];
    // A picture that does not load shows nothing, as an empty picture does on Windows.
    Object picture = gtk.gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    Object window = nullptr;
    if (picture) {
        const int width = gtk.gdk_pixbuf_get_width(picture);
        const int height = gtk.gdk_pixbuf_get_height(picture);
        window = gtk.gtk_window_new(kWindowToplevel);
        gtk.gtk_window_set_decorated(window, 0);
        gtk.gtk_window_set_resizable(window, 0);
        gtk.gtk_window_set_type_hint(window, kTypeHintSplashscreen);
        gtk.gtk_window_set_skip_taskbar_hint(window, 1);
        gtk.gtk_window_set_skip_pager_hint(window, 1);
        gtk.gtk_container_add(window, gtk.gtk_image_new_from_pixbuf(picture));
        // Truncating division, as on Windows: a picture wider than the screen starts left of it.
        const Rectangle screen = primaryScreen(gtk);
        gtk.gtk_window_move(window, screen.x + (screen.width - width) / 2, screen.y + (screen.height - height) / 2);
        gtk.gtk_widget_show_all(window);
        gtk.gdk_display_sync(gtk.gdk_display_get_default());
        channel.send({"shown", std::to_string(width), std::to_string(height)});
    } else {
        channel.send({"empty"});
    }
    quitting = &gtk;
    gtk.g_unix_fd_add(STDIN_FILENO, kIoIn | kIoHup | kIoErr, onLauncherInput, nullptr);
    gtk.gtk_main();
    if (window) gtk.gtk_widget_destroy(window);
    return 0;
}

}  // namespace qn::platform::ui
