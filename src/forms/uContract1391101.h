#pragma once

// The application for registering signature certificates.

#include "uDocument1391101.h"

#include <QDialog>

class QComboBox;
class QDateEdit;
class QLineEdit;

namespace kelvora {

// The application dialog: the taxpayer, up to three responsible persons with
// their signature types, the head, the executor and a telephone; "Зберегти"
// writes the document into the report page's working folder of the profile.
class TFormReport1391101 : public QDialog {
    Q_OBJECT
public:
    explicit TFormReport1391101(QWidget* Owner = nullptr);

    // Reads the profile; Exception when there is none.
    void SetProfileId(int Value);
    // True: the form of a private person; set before the dialog is shown.
    void SetIndividualPerson(bool Value) { FIndividualPerson = Value; }

    // The fields as typed, the signature types as the texts shown.
    TData1391101 Data() const;
    // Where the last save wrote the document.
    QString DocumentPath() const { return FDocumentPath; }

protected:
    void showEvent(QShowEvent* Event) override;

private:
    struct TRowControls {
        QLineEdit* Name;
        QLineEdit* Code;
        QLineEdit* Position;
        QComboBox* Type;
    };

    void ActionSaveExecute();
    void Fill(const TData1391101& Data);
    QLineEdit* AddEdit(const QString& Name);

    bool FIndividualPerson = false;
    TProfile FProfile;
    bool FShown = false;
    QString FDocumentPath;

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
