#pragma once

// Opening documents and web pages in the system's own programs, the
// introduction program, and the program's fixed addresses (installation
// parameters, so that an installation can set them).

#include <QString>
#include <QUrl>

namespace kelvora {

// Opens a file, folder, web page or "mailto:" link with its default program.
void OpenDocument(const QString& FileOrUrl);

// Starts the introduction program of the data folder when it exists (the
// platform's window manager decides its size); true when it was started.
bool RunPresentation();

// params.xml "feedback_email": where "Надіслати відгук" writes to.
QString FeedbackAddress();
// The "mailto:" link to the feedback address with the subject naming the
// program's version; empty when no address is set.
QUrl FeedbackMailUrl();
// params.xml "certification_centre_url" + "/certificates-search"; empty when
// no site is set.
QUrl CertificateSearchUrl();

} // namespace kelvora
