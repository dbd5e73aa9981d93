#pragma once

// The one place where shared objects are made. The Create functions make a new
// object on every call; the Get functions hand out one process-wide object,
// made on first use and released by ReleaseProcessObjects.

#include "uInterfaces.h"

#include <functional>

class QIODevice;

namespace kelvora {

// ---------------------------------------------------------------- core
IStreamPtr CreateStream();
// EInOutError when the file cannot be read.
IStreamPtr CreateStreamFromFile(const QString& FileName);
IStreamPtr CreateStreamFromStream(QIODevice& Stream);
IEnumeratorPtr CreateEnumerator();
INamedValuesPtr CreateNamedValues();

// ---------------------------------------------------------------- protection
IDocumentNamePtr CreateDocumentName(const QString& FileName);
// Exception "Файл не знайдено: <FileName>" when there is no such file.
IDocumentPtr CreateDocument(const QString& FileName);
// The process-wide crypto manager, made on first use: loads and initialises
// the crypto library, raising ECryptoError when it cannot (the next call then
// tries again). ReleaseProcessObjects finalises and unloads the library.
ICryptoManagerPtr GetCryptoManager();

// ---------------------------------------------------------------- storage
// A query object for the database DatabasePath: a file, or a server named by
// a connection URI ("postgresql://..."); an empty path means the configured
// database.
IQueryPtr CreateQuery(const QString& DatabasePath);

// ---------------------------------------------------------------- mail
IMailSendPtr CreateMailSend();
IMailReceivePtr CreateMailReceive();
// Parses the whole raw message held in Stream (read from position 0).
IMailMessagePtr CreateMailMessage(QIODevice& Stream);

// ---------------------------------------------------------------- maintenance
IZipArchivePtr CreateZipArchive();
// With a FileName: named after the file (no folder), holding its content
// (EInOutError when it cannot be read).
IArchiveItemPtr CreateArchiveItem(const QString& FileName = QString());
IBackupPtr CreateBackup();
// The process-wide updater.
IUpdaterPtr GetUpdater();
// What the updater's InstallUpdate calls, after starting the installer, to
// end the program. The window code sets it; until then the application's
// event loop is ended.
void SetQuitApplicationHook(std::function<void()> Hook);

// ---------------------------------------------------------------- process-wide
// Parse errors of an existing params.xml propagate; nothing is kept then.
IConfigurationPtr GetConfiguration();
// The mail-provider presets, loaded from mail_servers.xml when first asked for.
IMailServerAssistantPtr GetMailServerAssistant();

// Releases every process-wide object (in the reverse order of their making)
// and forgets the kept database path. Called at program exit; tests call it to
// start afresh.
void ReleaseProcessObjects();
// A process-wide object calls this once when it is made, with what releases it.
void RegisterProcessObject(std::function<void()> Release);

} // namespace kelvora
