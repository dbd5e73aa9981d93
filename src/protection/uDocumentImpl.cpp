#include "uDocumentImpl.h"

#include "uException.h"
#include "uFactories.h"

#include <QFileInfo>

namespace kelvora {

IDocumentPtr TDocument::Create(const QString& FileName)
{
    if (!QFileInfo(FileName).isFile())
        throw Exception(QStringLiteral("Файл не знайдено: ") + FileName);
    auto Document = std::make_shared<TDocument>();
    Document->FStream = CreateStreamFromFile(FileName);
    Document->FSignerCertificate = CreateStream();
    Document->FStatus = dsReaded;
    Document->FName = CreateDocumentName(FileName);
    Document->FAttributes = CreateNamedValues();
    return Document;
}

IDocumentNamePtr TDocument::GetName() { return FName; }

TDocumentStatus TDocument::GetStatus() { return FStatus; }

void TDocument::SetStatus(TDocumentStatus Status) { FStatus = Status; }

IStreamPtr TDocument::GetStream() { return FStream; }

IStreamPtr TDocument::GetSignerCertificate() { return FSignerCertificate; }

QString TDocument::GetError() { return FError; }

void TDocument::SetError(const QString& Text) { FError = Text; }

INamedValuesPtr TDocument::GetAttributes() { return FAttributes; }

} // namespace kelvora
