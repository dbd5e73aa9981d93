#include "uFactories.h"

#include "uBackup.h"
#include "uConfiguratorImpl.h"
#include "uCorePath.h"
#include "uCryptoManagerImpl.h"
#include "uDocumentImpl.h"
#include "uDocumentNameImpl.h"
#include "uEnumeratorImpl.h"
#include "uMailMessageImpl.h"
#include "uMailReceiveImpl.h"
#include "uMailSendImpl.h"
#include "uMailServerAssistant.h"
#include "uNamedValuesImpl.h"
#include "uPgQueryImpl.h"
#include "uQueryImpl.h"
#include "uStreamImpl.h"
#include "uUpdaterImpl.h"
#include "uZipImpl.h"

#include <vector>

namespace kelvora {

namespace {

std::vector<std::function<void()>>& Releasers()
{
    static std::vector<std::function<void()>> List;
    return List;
}

IConfigurationPtr gConfiguration;
IMailServerAssistantPtr gMailServerAssistant;

// The process object Instance, made on first use; released with the other
// process objects, after which the next use makes a new one.
template <class TImpl, class TPtr> TPtr ProcessObject(TPtr& Instance)
{
    if (!Instance) {
        Instance = std::make_shared<TImpl>();
        RegisterProcessObject([&Instance] { Instance.reset(); });
    }
    return Instance;
}

} // namespace

// ---------------------------------------------------------------- core

IStreamPtr CreateStream() { return std::make_shared<TStream_>(); }

IStreamPtr CreateStreamFromFile(const QString& FileName)
{
    IStreamPtr Result = CreateStream();
    Result->LoadFromFile(FileName);
    return Result;
}

IStreamPtr CreateStreamFromStream(QIODevice& Stream)
{
    IStreamPtr Result = CreateStream();
    Result->LoadFromStream(Stream, -1);
    return Result;
}

IEnumeratorPtr CreateEnumerator() { return std::make_shared<TEnumerator>(); }

INamedValuesPtr CreateNamedValues() { return std::make_shared<TNamedValues>(); }

// ---------------------------------------------------------------- protection

IDocumentNamePtr CreateDocumentName(const QString& FileName) { return std::make_shared<TDocumentName>(FileName); }

IDocumentPtr CreateDocument(const QString& FileName) { return TDocument::Create(FileName); }

ICryptoManagerPtr GetCryptoManager()
{
    static ICryptoManagerPtr Instance;
    return ProcessObject<TCryptoManager>(Instance);
}

// ---------------------------------------------------------------- storage

IQueryPtr CreateQuery(const QString& DatabasePath)
{
    // A query object lives for one store operation: the location it finds
    // now is the one the operation uses.
    const QString Location = DatabasePath.isEmpty() ? GetDatabasePath() : DatabasePath;
    if (IsServerLocation(Location))
        return std::make_shared<TPgQuery>(Location);
    return std::make_shared<TQuery>(DatabasePath);
}

// ---------------------------------------------------------------- mail

IMailSendPtr CreateMailSend() { return std::make_shared<TMailSend>(); }

IMailReceivePtr CreateMailReceive() { return std::make_shared<TMaiReceive>(); }

IMailMessagePtr CreateMailMessage(QIODevice& Stream) { return TMailMessage::Create(Stream); }

// ---------------------------------------------------------------- maintenance

IZipArchivePtr CreateZipArchive() { return std::make_shared<TZipArchive>(); }

IArchiveItemPtr CreateArchiveItem(const QString& FileName)
{
    if (FileName.isEmpty())
        return std::make_shared<TArchiveItem>();
    auto Item = std::make_shared<TArchiveItem>(ExtractFileName(FileName));
    Item->LoadFromFile(FileName);
    return Item;
}

IBackupPtr CreateBackup() { return std::make_shared<TDatabaseBackup>(); }

IUpdaterPtr GetUpdater()
{
    static IUpdaterPtr Updater;
    return ProcessObject<TUpdater>(Updater);
}

// ---------------------------------------------------------------- process-wide

IConfigurationPtr GetConfiguration() { return ProcessObject<TConfiguration>(gConfiguration); }

IMailServerAssistantPtr GetMailServerAssistant() { return ProcessObject<TMailServerAssistant>(gMailServerAssistant); }

void RegisterProcessObject(std::function<void()> Release) { Releasers().push_back(std::move(Release)); }

void ReleaseProcessObjects()
{
    auto& List = Releasers();
    while (!List.empty()) {
        auto Release = std::move(List.back());
        List.pop_back();
        Release();
    }
}

} // namespace kelvora
