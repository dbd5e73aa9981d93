#pragma once

// The mail-account editor with its connection test. The simple mode asks for
// the address and one password and takes the servers from the provider
// presets; the detailed mode shows every server setting.

#include "uBusyGuard.h"
#include "uEmailAccount.h"
#include "uInterfaces.h"

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvora {

// Edits Account in place; true when the user confirmed with OK. Detailed
// shows the server settings at once. Owner: the main window when null.
bool EditEmailAccount(TEmailAccount& Account, bool Detailed, QWidget* Owner = nullptr);

class TMailAccountEditForm : public QDialog {
    Q_OBJECT
public:
    explicit TMailAccountEditForm(QWidget* Owner);
    ~TMailAccountEditForm() override;

    bool Detailed() const { return FDetailed; }
    void SetDetailed(bool Value);
    // Shows Account's settings (the address first, so that a known
    // provider's warning appears; the account's own values then win).
    void Fill(const TEmailAccount& Account);
    // The typed settings into Account (the simple password reaches it
    // through the server passwords it was copied into).
    void ReadBack(TEmailAccount& Account) const;

    // "Перевірити": tests both servers with the typed settings; nothing is saved.
    void ButtonCheckClick();
    // True while a connection test runs.
    bool GUIBlocked() const { return FBusy.Busy(); }
    // The transports of the tests, made on first use; null before.
    IMailReceivePtr Receiver() const { return FMailReceive; }
    IMailSendPtr Sender() const { return FMailSend; }

    // OK: closes only when the settings pass the checks; refused while testing.
    void accept() override;
    // Refused while testing.
    void reject() override;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    void BuildControls();
    void EmailChanged();
    void PasswordChanged();
    void SecurityChanged(bool Pop);
    bool Validate();
    void Relayout();
    void Block(bool Blocked);
    void CancelTest();
    bool FindPreset(TMailServerConfiguration& Preset) const;

    IMailSendPtr FMailSend;
    IMailReceivePtr FMailReceive;
    TBusyCounter FBusy;
    bool FDetailed = false;
    bool FRelayingOut = false;

    QWidget* PanelMain = nullptr;
    QWidget* PanelEmail = nullptr;
    QWidget* PanelPassword = nullptr;
    QWidget* PanelServers = nullptr;
    QLineEdit* EditEmail = nullptr;
    QLabel* LabelServerWarning = nullptr;
    QLineEdit* EditPassword = nullptr;
    QGroupBox* GroupBoxPOP = nullptr;
    QLineEdit* EditPOPHost = nullptr;
    QComboBox* EditPOPPort = nullptr;
    QComboBox* ComboBoxPOPSecure = nullptr;
    QLineEdit* EditPOPUser = nullptr;
    QLineEdit* EditPOPPassword = nullptr;
    QGroupBox* GroupBoxSMTP = nullptr;
    QLineEdit* EditSMTPHost = nullptr;
    QComboBox* EditSMTPPort = nullptr;
    QComboBox* ComboBoxSMTPSecure = nullptr;
    QLineEdit* EditSMTPUser = nullptr;
    QLineEdit* EditSMTPPassword = nullptr;
    QPushButton* ButtonMore = nullptr;
    QPushButton* ButtonCheck = nullptr;
    QPushButton* ButtonOK = nullptr;
    QPushButton* ButtonCancel = nullptr;
};

} // namespace kelvora
