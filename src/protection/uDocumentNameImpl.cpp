#include "uDocumentNameImpl.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uUtils.h"

namespace kelvora {

namespace {

constexpr int kLengthPFU = 39;
constexpr int kLengthVEY = 43;
constexpr int kLengthDKS = 37;

// Strips everything up to and including the blank (code <= 32) from both ends.
QString TrimControls(const QString& Text)
{
    qsizetype First = 0, Last = Text.size();
    while (First < Last && Text[First].unicode() <= 32)
        ++First;
    while (Last > First && Text[Last - 1].unicode() <= 32)
        --Last;
    return Text.mid(First, Last - First);
}

// Cuts Name at the first Mark; what was cut (Mark included) becomes Suffix.
void CutSuffix(QString& Name, QString& Suffix, QChar Mark)
{
    const qsizetype At = Name.indexOf(Mark);
    if (At < 0)
        return;
    Suffix = Name.mid(At);
    Name.truncate(At);
}

} // namespace

TDocumentName::TDocumentName(const QString& FileName) : FOriginalFileName(FileName)
{
    if (!FileName.isEmpty())
        Parse(FileName);
}

QString TDocumentName::GetFileName() { return FOriginalFileName; }

void TDocumentName::SetFileName(const QString& FileName) { Parse(FileName); }

bool TDocumentName::IsValid() { return FAgency != daUnknown; }

TDocumentAgency TDocumentName::GetAgency() { return FAgency; }

QString TDocumentName::GetEDRPOUCode() { return FEDRPOCode; }

QString TDocumentName::GetDocumentType() { return FDocumentType; }

TDateTime TDocumentName::GetDateTime() { return FDateTime; }

void TDocumentName::Parse(const QString& FileName)
{
    FAgency = daUnknown;
    FSuffix.clear();
    FExtension.clear();
    FEDRPOCode.clear();
    FDocumentType.clear();
    FDateTime = 0;

    FName = ExtractFileName(FileName);
    const qsizetype Dot = FName.lastIndexOf(u'.');
    if (Dot >= 0) {
        FExtension = FName.mid(Dot);
        FName.truncate(Dot);
    }
    CutSuffix(FName, FSuffix, u'-');
    CutSuffix(FName, FSuffix, u'(');
    FName = TrimControls(FName);

    FAgency = DetectAgency();
    if (FAgency != daUnknown)
        ExtractFields();
}

TDocumentAgency TDocumentName::DetectAgency() const
{
    if (!MatchesAnyMask(FExtension, QStringLiteral(".rpl;.xml")))
        return daUnknown;
    switch (FName.size()) {
    case kLengthPFU:
        return daPFU;
    case kLengthVEY:
        return daVEY;
    case kLengthDKS:
        return daDKS;
    default:
        return daUnknown;
    }
}

void TDocumentName::ExtractFields()
{
    // Positions below count from 0; a field that is no number or a date that
    // does not exist leaves the fields set so far and is only logged.
    try {
        if (FAgency == daPFU) {
            FEDRPOCode = FName.mid(5, 10);
            while (FEDRPOCode.endsWith(u'Z'))
                FEDRPOCode.chop(1);
            FDocumentType = FName.mid(34, 3);
            FDateTime = EncodeDate(StrToInt(FName.mid(24, 4)), StrToInt(FName.mid(22, 2)), StrToInt(FName.mid(20, 2)));
            FDateTime +=
                EncodeTime(StrToInt(FName.mid(28, 2)), StrToInt(FName.mid(30, 2)), StrToInt(FName.mid(32, 2)), 0);
        } else {
            const bool Vey = FAgency == daVEY;
            FEDRPOCode = FName.mid(Vey ? 4 : 5, 10);
            if (FEDRPOCode.startsWith(QStringLiteral("00")))
                FEDRPOCode.remove(0, 2);
            FDocumentType = FName.mid(Vey ? 14 : 15, 8);
            const int Month = StrToInt(FName.mid(Vey ? 33 : 31, 2));
            const int Year = StrToInt(FName.mid(Vey ? 35 : 33, 4));
            FDateTime = EncodeDate(Year, Month, 1);
        }
    } catch (const Exception& E) {
        // Best effort: a name is parsed whether or not the debug folder can be written.
        TryLog(QStringLiteral("помилка при розборі імені %1: %2").arg(FName, E.Message()),
               QStringLiteral("parse_filename"));
    }
}

} // namespace kelvora
