#pragma once

#include "uInterfaces.h"

namespace kelvora {

// One report or receipt file while the client works on it, held in memory.
class TDocument : public IDocument {
public:
    // Reads the whole file; "Файл не знайдено: <FileName>" when it does not exist.
    static IDocumentPtr Create(const QString& FileName);

    IDocumentNamePtr GetName() override;
    TDocumentStatus GetStatus() override;
    void SetStatus(TDocumentStatus Status) override;
    IStreamPtr GetStream() override;
    IStreamPtr GetSignerCertificate() override;
    QString GetError() override;
    void SetError(const QString& Text) override;
    INamedValuesPtr GetAttributes() override;

private:
    IDocumentNamePtr FName;
    TDocumentStatus FStatus = dsUnknown;
    IStreamPtr FStream;
    IStreamPtr FSignerCertificate;
    QString FError;
    INamedValuesPtr FAttributes;
};

} // namespace kelvora
