#pragma once

// The profile editor: an enterprise's name and code, its keys, what follows
// protection, its output folder, and the mail accounts that every profile
// shares (changed in the database at once) with the profile's default one.

#include "uEmailAccount.h"
#include "uProfile.h"

#include <QDialog>

#include <cstdint>

class QAction;
class QCheckBox;
class QLineEdit;
class QListView;
class QPushButton;
class QRadioButton;
class QStandardItemModel;
class QTabWidget;
class QToolButton;

namespace kelvora {

// Edits profile Id (0: a new profile); true when the user saved, with Id set
// to the saved profile's id. Owner: the main window when null.
bool EditProfile(int32_t& Id, QWidget* Owner = nullptr);

class TProfileEditForm : public QDialog {
    Q_OBJECT
public:
    explicit TProfileEditForm(QWidget* Owner);

    int32_t ProfileId() const { return FProfile.Id; }
    // Loads the dialog for profile Id, or for a new profile when Id is 0;
    // false, after saying so, when profile Id no longer exists.
    bool SetProfileId(int32_t Id);
    // The profile as last loaded or saved, with the default account chosen.
    const TProfile& Profile() const { return FProfile; }
    bool DataWasChanged() const { return FDataWasChanged; }

    // OK: saves when every check passes.
    void accept() override;
    // Every other way of closing: asks first when something was changed.
    void reject() override;

private:
    void BuildControls();
    void FillControls();
    void LoadAccounts();
    void ShowAccounts();
    int32_t SelectedAccountId() const;
    bool Save();
    void ShowPage(int Page);
    void FocusField(int Field);
    void UpdateSignRules();
    void UpdateMailPage();
    void UpdateAccountActions();
    void PageChanged(int Index);
    void Changed();

    void ActionAccountAddExecute();
    void ActionAccountEditExecute();
    void ActionAccountDelExecute();
    void ActionAccountSetDefaultExecute();
    void ActionHelpExecute();
    void ButtonSelectCatalogClick();

    TProfile FProfile;
    TEmailAccounts FMailAccounts;
    bool FDataWasChanged = false;
    bool FFilling = false;     // controls are being filled: no change is the user's
    bool FTurningPage = false; // the dialog itself turns the page

    QTabWidget* PageControl = nullptr;
    QLineEdit* EditName = nullptr;
    QLineEdit* EditCode = nullptr;
    QCheckBox* CheckBoxDirector = nullptr;
    QCheckBox* CheckBoxStamp = nullptr;
    QCheckBox* CheckBoxAccountant = nullptr;
    QCheckBox* CheckBoxSeparate = nullptr;
    QRadioButton* RadioButtonSaveToFile = nullptr;
    QRadioButton* RadioButtonSendEmail = nullptr;
    QLineEdit* EditCatalogVey = nullptr;
    QToolButton* ButtonSelectCatalog = nullptr;
    QListView* ListViewAccounts = nullptr;
    QStandardItemModel* FAccountsModel = nullptr;
    QLineEdit* EditEmailVey = nullptr;
    QAction* ActionAccountAdd = nullptr;
    QAction* ActionAccountEdit = nullptr;
    QAction* ActionAccountDel = nullptr;
    QAction* ActionAccountSetDefault = nullptr;
    QAction* ActionHelp = nullptr;
    QPushButton* ButtonOK = nullptr;
    QPushButton* ButtonCancel = nullptr;
};

} // namespace kelvora
