#pragma once

// The database selection dialog: which database file the client uses, for
// example one shared with other installations in a network folder.

#include "uBusyGuard.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvora {

// True when the dialog closed with OK, having pointed the settings at
// another database file; the caller then checks the database and reloads.
bool SelectDatabase(QWidget* Owner = nullptr);

class TFormDatabaseSelect : public QDialog {
    Q_OBJECT
public:
    explicit TFormDatabaseSelect(QWidget* Owner);

    QString DatabasePath() const { return FDatabasePath; }

    // "Змінити...": another file; the previous one stays when it cannot be read.
    void ButtonChangeClick();
    // "Перевірити": connects to the server the fields name and shows its
    // counts; it becomes the chosen database. The previous one stays when
    // the server cannot be used.
    void ButtonCheckClick();
    // Copies the current database file into the checked server's empty
    // database (all or nothing); the file is left as it was.
    void ButtonMoveClick();
    // OK: another database is stored in the settings (a server's password in
    // libpq's password file) and the dialog closes with OK; the same one
    // closes it with Cancel. Another program's file gets the program's
    // tables only with the user's consent.
    void accept() override;

private:
    // Shows FDatabasePath with its counts; raises when they cannot be read.
    void ShowDatabase();
    // As ShowDatabase, with the failure shown in the dialog instead.
    void ShowDatabaseOrError();

    // The password typed for the checked server; kept in memory only until OK.
    QString FServerPassword;
    QString FDatabasePath;
    TBusyCounter FBusy{this};
    QLabel* LabelDatabasePath = nullptr;
    QLabel* LabelNote = nullptr;
    QLineEdit* EditHost = nullptr;
    QLineEdit* EditPort = nullptr;
    QLineEdit* EditDatabase = nullptr;
    QLineEdit* EditUser = nullptr;
    QLineEdit* EditPassword = nullptr;
    QPushButton* ButtonCheck = nullptr;
    QPushButton* ButtonMove = nullptr;
    QLabel* LabelProfilesCount = nullptr;
    QLabel* LabelTicketsCount = nullptr;
    QLabel* LabelError = nullptr;
    QPushButton* ButtonChange = nullptr;
};

} // namespace kelvora
