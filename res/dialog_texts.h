/* The fixed texts of the two questions, shared by launcher.rc and the Linux windows. */
#ifndef QN_DIALOG_TEXTS_H
#define QN_DIALOG_TEXTS_H

#define QN_TEXT_OK "OK"
#define QN_TEXT_CANCEL "Cancel"

#define QN_TEXT_JRE_NOT_FOUND "JRE Not Found"
#define QN_TEXT_MISSING_JRE "Missing JRE"
#define QN_TEXT_JRE_PATH "JRE Path:"
#define QN_TEXT_BROWSE "Browse..."
#define QN_TEXT_BROWSE_HINT "If you have a JRE installed you can browse for it below:"

#define QN_TEXT_JAVA_EXCEPTION "Java Exception"
#define QN_TEXT_UNCAUGHT_EXCEPTION "Uncaught Exception"
#define QN_TEXT_IGNORE "Ignore"
#define QN_TEXT_STOP "Stop"
#define QN_TEXT_EXCEPTION_INTRO "The java process has thrown the following uncaught exception:"
#define QN_TEXT_EXCEPTION_HINT \
    "Press Ignore to continue and ignore the exception or press Stop to close the application."
#define QN_TEXT_EXCEPTION_WARNING \
    "WARNING: If you choose to Stop the application any unsaved data will be lost."

#endif
