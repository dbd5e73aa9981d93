#pragma once

// The application for registering signature certificates.

#include "uDocument1391101.h"

#include "uContractForm.h"

class QComboBox;
class QDateEdit;
class QLineEdit;

namespace kelvora {

// The application dialog: the taxpayer, up to three responsible persons with
// their signature types, the head, the executor and a telephone; "Зберегти"
// writes the document into the report page's working folder of the profile.
class TFormReport1391101 : public TContractForm {
    Q_OBJECT
public:
    explicit TFormReport1391101(QWidget* Owner = nullptr);

    // The fields as typed, the signature types as the texts shown.
    TData1391101 Data() const;

protected:
    void FillInitial() override;

private:
    struct TRowControls {
        QLineEdit* Name;
        QLineEdit* Code;
        QLineEdit* Position;
        QComboBox* Type;
    };

    void ActionSaveExecute() override;
    void Fill(const TData1391101& Data);

    QDateEdit* DateTimePickerHFILL;
    QLineEdit* EditHNUM;
    QLineEdit* EditHQEM;
    QLineEdit* EditQEMORIG;
    QLineEdit* EditHNAME;
    QLineEdit* EditHTIN;
    TRowControls FRows[3];
    QLineEdit* EditHBOS;
    QLineEdit* EditHPOST;
    QLineEdit* EditHEXECUTOR;
    QLineEdit* EditHTEL;
};

// Opens the application dialog for the profile, as a private person or as a
// legal entity; true when it closed with OK (the document was written).
bool ShowContract1391101(int ProfileId, bool PrivatePerson, QWidget* Owner = nullptr);

} // namespace kelvora
