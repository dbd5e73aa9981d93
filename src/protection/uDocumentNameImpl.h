#pragma once

#include "uInterfaces.h"

namespace kelvora {

// Parses a report or receipt file name by the naming conventions of the
// three agencies. A name that fits none is not an error: the agency is
// daUnknown and IsValid answers false.
class TDocumentName : public IDocumentName {
public:
    explicit TDocumentName(const QString& FileName);

    QString GetFileName() override;
    void SetFileName(const QString& FileName) override;
    bool IsValid() override;
    TDocumentAgency GetAgency() override;
    QString GetEDRPOUCode() override;
    QString GetDocumentType() override;
    TDateTime GetDateTime() override;

    // The bare name: no folder, extension, copy suffix or surrounding blanks.
    const QString& GetBareName() const { return FName; }

private:
    void Parse(const QString& FileName);
    TDocumentAgency DetectAgency() const;
    void ExtractFields();

    QString FOriginalFileName;
    TDocumentAgency FAgency = daUnknown;
    QString FName;
    QString FSuffix;
    QString FExtension;
    QString FEDRPOCode;
    QString FDocumentType;
    TDateTime FDateTime = 0;
};

} // namespace kelvora
