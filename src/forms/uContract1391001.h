#pragma once

// The agreement on the recognition of electronic documents.

#include "uDocument1391001.h"

#include "uContractForm.h"

class QDateEdit;
class QLineEdit;

namespace kelvora {

// The agreement dialog: the parties, the agreement's text and the signature
// block; "Зберегти" writes the document into the report page's working
// folder of the profile.
class TFormReport1391001 : public TContractForm {
    Q_OBJECT
public:
    explicit TFormReport1391001(QWidget* Owner = nullptr);

    // The fields as typed.
    TData1391001 Data() const;

protected:
    void FillInitial() override;

private:
    void ActionSaveExecute() override;
    void Fill(const TData1391001& Data);

    QLineEdit* EditHNUM;
    QDateEdit* DateTimePicker1;
    QLineEdit* EditHQEM;
    QLineEdit* EditQEMORIG;
    QLineEdit* EditHBOSQEM;
    QLineEdit* EditHTIN;
    QLineEdit* EditHBOS;
    QLineEdit* EditH01G1S1;
    QLineEdit* EditHNAME;
    QLineEdit* EditHTINQEM;
    QLineEdit* EditHLOCQEM;
    QLineEdit* EditHLOC;
    QDateEdit* DateTimePicker2;
    QDateEdit* DateTimePicker3;
};

// Opens the agreement dialog for the profile, as a private person or as a
// legal entity; true when it closed with OK (the document was written).
bool ShowContract1391001(int ProfileId, bool PrivatePerson, QWidget* Owner = nullptr);

} // namespace kelvora
