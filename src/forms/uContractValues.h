#pragma once

// What the agreement and the application share: the comma-text lists in
// which their fields are remembered, the date texts of those lists, the
// report name of the tax inspectorate under which both are written, and the
// XML frame of the documents.

#include "uDateTime.h"
#include "uProfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <libxml/tree.h>

namespace kelvora {

// ---- remembered values

// Items joined by commas; an item that is empty or holds a blank, a comma or
// a double quote is put in double quotes with its inner quotes doubled.
QString ToCommaText(const QStringList& Items);
// The items of a comma text. Commas and blanks outside quotes separate
// items; a double quote anywhere in an item opens a quoted part, in which a
// doubled quote stands for one.
QStringList FromCommaText(const QString& Text);

// Reads and writes one settings key holding a comma text of name=value items.
QStringList ReadRemembered(const QString& Key);
void WriteRemembered(const QString& Key, const QStringList& Items);

// Date and time texts in the system's short date and long time format; a
// two-digit year is written with four digits so that nothing is lost.
QString DateTimeToText(TDateTime Value);
QString DateToText(TDateTime Value);
// Reads what DateTimeToText or DateToText wrote, and other common date
// texts; Default when the text is no date.
TDateTime TextToDateTime(const QString& Text, TDateTime Default);

// ---- profile

// The profile Id, logged as "профіль: " with its text form under Category;
// Exception "Профіль з id "<Id>" не знайдено." when there is none.
TProfile ReadContractProfile(int Id, const QString& Category);

// ---- checks

// The first check a form's fields failed: the data field's name and the
// warning; both empty when every check passed.
struct TContractCheck {
    QString Field;
    QString Message;
    bool Passed() const { return Field.isEmpty(); }
};

// An enterprise code (8 to 10 digits) or a passport's series and number.
bool IsTaxpayerCode(const QString& Text);
extern const QString kTaxpayerCodeMessage;

// Field fails with Message when Value is blank.
TContractCheck Required(const char* Field, const QString& Value, const QString& Message);
// Field fails with EmptyMessage when Code is blank, with kTaxpayerCodeMessage
// when the trimmed Code is no taxpayer code.
TContractCheck TaxpayerCode(const char* Field, const QString& Code, const QString& EmptyMessage);
// The receiving tax office of both forms: its name (HQEM), then its code
// (C_QEM_ORIG), which must have 4 characters.
TContractCheck TaxOffice(const QString& Name, const QString& Code);
// The first of Checks that failed; passed when none did.
TContractCheck FirstFailed(std::initializer_list<TContractCheck> Checks);

// ---- names and folders

// Text padded on the left with "0" to Width; a longer text is kept whole.
QString PadZeros(const QString& Text, int Width);

struct TContractHead {
    QString FormCode;   // "J1391001", "F1391101"...
    QString QemOrig;    // 4-digit code of the receiving tax office
    QString Tin;        // the taxpayer's code
    QString Number;     // the document's number
    TDateTime Date = 0; // the document's date
    QString Software;   // "<software_name> <software_version>"
};

// The head of either form's document: its form code and the data's office
// code, taxpayer code, number and date.
template <class TData> TContractHead ContractHeadOf(const QString& FormCode, const TData& Data)
{
    TContractHead Head;
    Head.FormCode = FormCode;
    Head.QemOrig = Data.C_QEM_ORIG;
    Head.Tin = Data.HTIN;
    Head.Number = Data.HNUM;
    Head.Date = Data.HFILL;
    return Head;
}

// As ContractHeadOf, with the software text (see ContractSoftware): the head
// written into the document itself.
template <class TData> TContractHead ContractDocumentHead(const QString& FormCode, const TData& Data);

// A date as the documents' fields write it: "ddMMyyyy".
QString ContractDate(TDateTime Value);

// The report name of the tax inspectorate for the document: office code,
// code padded to 10, document code, sub-type, version "01", state "1",
// correction "00", number padded to 7, period type "1", month and year,
// office code again, ".xml".
QString ContractFileName(const TContractHead& Head);

// The report page's working folder of the profile (data folder, "reports",
// the profile's code), made when missing. A folder that cannot be made is
// logged under Category; the path is returned all the same.
QString ContractFolder(const TProfile& Profile, const QString& Category);

// ---- XML

// An agency document under construction: DECLAR with the XML Schema instance
// namespace and the schema location, its DECLARHEAD already filled.
class TContractXml {
public:
    explicit TContractXml(const TContractHead& Head);
    ~TContractXml();
    TContractXml(const TContractXml&) = delete;
    TContractXml& operator=(const TContractXml&) = delete;

    xmlNode* Body() const { return FBody; }
    // A child element with Value as its text.
    xmlNode* AddText(xmlNode* Parent, const char* Name, const QString& Value);
    void SetAttribute(xmlNode* Node, const char* Name, const QString& Value);
    // xsi:nil="true" on Node.
    void SetNil(xmlNode* Node);
    // The document in windows-1251; characters the code page lacks become
    // character references.
    QByteArray Save() const;

private:
    xmlDoc* FDoc = nullptr;
    xmlNs* FXsi = nullptr;
    xmlNode* FBody = nullptr;
};

// Writes Content to Path at once, replacing any file of that name only when
// the whole content is written; EInOutError with a Ukrainian text otherwise.
void WriteContractFile(const QString& Path, const QByteArray& Content);

// Writes Document as FileName into the report page's working folder of the
// profile (see ContractFolder), remembers Items under "<FormCode>:<profile
// code>" and logs them under Category; the document's path. Failures raise
// with a message for the user, before anything is remembered.
QString SaveContract(const TProfile& Profile, const QString& Category, const QString& FileName,
                     const QByteArray& Document, const QString& FormCode, const QStringList& Items);

// The software text of the documents: parameters software_name and
// software_version joined by a blank.
QString ContractSoftware();

template <class TData> TContractHead ContractDocumentHead(const QString& FormCode, const TData& Data)
{
    TContractHead Head = ContractHeadOf(FormCode, Data);
    Head.Software = ContractSoftware();
    return Head;
}

} // namespace kelvora
