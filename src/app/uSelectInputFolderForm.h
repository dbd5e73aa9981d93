#pragma once

// The companion-program folder dialog: where Brixdesk lives, from whose
// "send" subfolder the report page collects reports, and whether the files
// are deleted there after reading.

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QToolButton;

namespace kelvora {

// Shows the dialog; its OK writes the settings.
void SelectInputFolder(QWidget* Owner = nullptr);

class TFormInputFolder : public QDialog {
    Q_OBJECT
public:
    explicit TFormInputFolder(QWidget* Owner);

    QString InputFolder() const { return FInputFolder; }

    // The button "Змінити каталог": the folder picker.
    void ButtonChangeFolderClick();
    // OK: writes "brix_folder" and "brix_delete_reports", then closes.
    void accept() override;

private:
    void ShowFolder();

    QString FInputFolder;
    QLineEdit* EditInputFolder = nullptr;
    QToolButton* ButtonChangeFolder = nullptr;
    QCheckBox* CheckBoxDeleteReports = nullptr;
};

} // namespace kelvora
