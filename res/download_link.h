/* The download page the missing-runtime message points to; shared by launcher.rc and the code. */
#ifndef QN_DOWNLOAD_LINK_H
#define QN_DOWNLOAD_LINK_H

#define QN_DOWNLOAD_LINK "https://adoptium.net/"

#endif
