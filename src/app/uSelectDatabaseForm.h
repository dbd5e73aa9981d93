#pragma once

// The database selection dialog: which database file the client uses, for
// example one shared with other installations in a network folder.

#include <QDialog>
#include <QString>

class QLabel;
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
    // OK: another file is stored in the settings and the dialog closes with
    // OK; the same file closes it with Cancel.
    void accept() override;

private:
    // Shows FDatabasePath with its counts; raises when they cannot be read.
    void ShowDatabase();
    // As ShowDatabase, with the failure shown in the dialog instead.
    void ShowDatabaseOrError();

    QString FDatabasePath;
    QLabel* LabelDatabasePath = nullptr;
    QLabel* LabelProfilesCount = nullptr;
    QLabel* LabelTicketsCount = nullptr;
    QLabel* LabelError = nullptr;
    QPushButton* ButtonChange = nullptr;
};

} // namespace kelvora
