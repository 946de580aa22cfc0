// The missing-runtime question: the message, the download link, a folder chooser whose choice the
// launcher checks (OK only for a folder it can run), OK and Cancel.
#include <cstdlib>

#include "platform/posix/ui/windows.h"
#include "res/dialog_texts.h"

namespace qn::platform::ui {

namespace {

constexpr int kWrapChars = 50;

struct RuntimeQuestion {
    const GtkApi& gtk;
    RecordChannel& channel;
    std::string chooserTitle;
    Object dialog = nullptr;
    Object pathEntry = nullptr;
    Object hintLabel = nullptr;
    bool confirmable = false;
    std::string lastPicked;
};

void browse(Object, void* data) {
    auto& question = *static_cast<RuntimeQuestion*>(data);
    const GtkApi& gtk = question.gtk;
    Object chooser = gtk.gtk_file_chooser_dialog_new(question.chooserTitle.c_str(), question.dialog,
                                                     kFileChooserSelectFolder, "_" QN_TEXT_CANCEL,
                                                     kResponseCancel, "_" QN_TEXT_OK, kResponseAccept, nullptr);
    // Enter in the chooser's location field opens the folder typed; Alt+O then takes it.
    gtk.gtk_dialog_set_default_response(chooser, kResponseAccept);
    gtk.gtk_window_set_default_size(chooser, 720, 480);
    gtk.gtk_window_set_position(chooser, kPositionCenter);
    // It opens where the last pick was, else in the home folder (not among recent files).
    const char* home = std::getenv("HOME");
    const std::string start = !question.lastPicked.empty() ? question.lastPicked : home ? home : "/";
    gtk.gtk_file_chooser_set_current_folder(chooser, start.c_str());
    std::string picked;
    if (gtk.gtk_dialog_run(chooser) == kResponseAccept) {
        if (char* name = gtk.gtk_file_chooser_get_filename(chooser)) {
            picked = name;
            gtk.g_free(name);
        }
    }
    gtk.gtk_widget_destroy(chooser);
    if (picked.empty()) return;  // cancelled, or no folder of the file system: nothing changes
    question.lastPicked = picked;

    gtk.gtk_entry_set_text(question.pathEntry, labelText(gtk, picked).c_str());
    // The launcher judges the folder, by the rule every platform uses.
    question.confirmable = false;
    std::string problem;
    if (question.channel.send({"check", picked})) {
        if (const std::optional<Fields> verdict = question.channel.receive(); verdict && verdict->size() >= 2) {
            question.confirmable = (*verdict)[0] == "1";
            problem = (*verdict)[1];
        }
    }
    gtk.gtk_dialog_set_response_sensitive(question.dialog, kResponseOk, question.confirmable ? 1 : 0);
    // A folder that can be used is one Enter away from being taken.
    if (question.confirmable) gtk.gtk_widget_grab_focus(gtk.gtk_dialog_get_widget_for_response(question.dialog, kResponseOk));
    gtk.gtk_label_set_text(question.hintLabel, problem.empty() ? QN_TEXT_BROWSE_HINT : labelText(gtk, problem).c_str());
}

}  // namespace

int askForRuntime(const GtkApi& gtk, const Fields& request, RecordChannel& channel) {
    const std::string message = request.size() > 0 ? request[0] : std::string();
    const std::string link = request.size() > 1 ? request[1] : std::string();
    RuntimeQuestion question{gtk, channel, request.size() > 2 ? request[2] : std::string(), nullptr, nullptr, nullptr, false, {}};
    Object dialog = question.dialog = gtk.gtk_dialog_new();
    gtk.gtk_window_set_resizable(dialog, 0);
    Object texts = gtk.gtk_box_new(kOrientationVertical, 4);
    gtk.gtk_box_pack_start(texts, leftLabel(gtk, message, kWrapChars), 0, 0, 0);
    // The link button opens the address with the desktop's handler for it.
    Object linkRow = gtk.gtk_box_new(kOrientationHorizontal, 0);
    gtk.gtk_box_pack_start(linkRow, gtk.gtk_link_button_new(link.c_str()), 0, 0, 0);
    gtk.gtk_box_pack_start(texts, linkRow, 0, 0, 0);
    Object column = questionColumn(gtk, dialog, QN_TEXT_JRE_NOT_FOUND, QN_TEXT_MISSING_JRE, texts);

    question.hintLabel = leftLabel(gtk, QN_TEXT_BROWSE_HINT, kWrapChars);
    gtk.gtk_box_pack_start(column, question.hintLabel, 0, 0, 0);
    Object pathRow = gtk.gtk_box_new(kOrientationHorizontal, 6);
    gtk.gtk_box_pack_start(pathRow, leftLabel(gtk, QN_TEXT_JRE_PATH, 0), 0, 0, 0);
    question.pathEntry = gtk.gtk_entry_new();
    gtk.gtk_editable_set_editable(question.pathEntry, 0);
    gtk.gtk_box_pack_start(pathRow, question.pathEntry, 1, 1, 0);
    Object browseButton = gtk.gtk_button_new_with_mnemonic("_" QN_TEXT_BROWSE);
    connect(gtk, browseButton, "clicked", browse, &question);
    gtk.gtk_box_pack_start(pathRow, browseButton, 0, 0, 0);
    gtk.gtk_box_pack_start(column, pathRow, 0, 0, 0);

    gtk.gtk_dialog_add_button(dialog, QN_TEXT_OK, kResponseOk);
    gtk.gtk_dialog_add_button(dialog, QN_TEXT_CANCEL, kResponseCancel);
    gtk.gtk_dialog_set_default_response(dialog, kResponseOk);
    gtk.gtk_dialog_set_response_sensitive(dialog, kResponseOk, 0);
    gtk.gtk_widget_show_all(dialog);
    gtk.gtk_widget_grab_focus(browseButton);
    int response = kResponseCancel;
    // OK can be pressed only while the last folder picked was confirmable.
    do {
        response = gtk.gtk_dialog_run(dialog);
    } while (response == kResponseOk && !question.confirmable);
    gtk.gtk_widget_destroy(dialog);
    channel.send({response == kResponseOk ? "ok" : "cancel"});
    return 0;
}

}  // namespace qn::platform::ui
