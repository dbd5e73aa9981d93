#include "uSelectInputFolderForm.h"

#include "uDialogs.h"
#include "uDisplayPath.h"
#include "uEditorIcons.h"
#include "uFactories.h"
#include "uSettingValues.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace kelvora {

namespace {

const int kPathWidth = 300;

} // namespace

TFormInputFolder::TFormInputFolder(QWidget* Owner) : QDialog(Owner)
{
    setObjectName(QStringLiteral("TFormInputFolder"));
    setWindowTitle(QStringLiteral("Розміщення програми BRIX"));

    auto* Prompt = new QLabel(QStringLiteral("Вкажіть каталог програми \"Brixdesk\""));
    EditInputFolder = new QLineEdit;
    EditInputFolder->setObjectName(QStringLiteral("EditInputFolder"));
    EditInputFolder->setReadOnly(true);
    EditInputFolder->setMinimumWidth(kPathWidth + 16);
    Prompt->setBuddy(EditInputFolder);
    ButtonChangeFolder = new QToolButton;
    ButtonChangeFolder->setObjectName(QStringLiteral("ButtonChangeFolder"));
    ButtonChangeFolder->setIcon(EditorIcon(eiFolder));
    ButtonChangeFolder->setToolTip(QStringLiteral("Змінити каталог"));
    auto* FolderRow = new QHBoxLayout;
    FolderRow->addWidget(EditInputFolder, 1);
    FolderRow->addWidget(ButtonChangeFolder);

    CheckBoxDeleteReports = new QCheckBox(QStringLiteral("Видаляти файли після зчитування"));
    CheckBoxDeleteReports->setObjectName(QStringLiteral("CheckBoxDeleteReports"));

    auto* Note = new QLabel(QStringLiteral("Звіти, що знаходять в підкаталозі SEND будуть автоматично з'являтись в "
                                           "списку на відправку, якщо їх код ЄДРПОУ відповідає коду профілю."));
    Note->setObjectName(QStringLiteral("LabelNote"));
    Note->setWordWrap(true);

    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(Prompt);
    Layout->addLayout(FolderRow);
    Layout->addWidget(CheckBoxDeleteReports);
    Layout->addWidget(Note);
    Layout->addStretch(1);
    Layout->addWidget(OkCancelButtons(this));

    connect(ButtonChangeFolder, &QToolButton::clicked, this, [this] { ButtonChangeFolderClick(); });

    const IConfigurationPtr Configuration = GetConfiguration();
    FInputFolder = Configuration->ReadSetting(QStringLiteral("brix_folder"));
    CheckBoxDeleteReports->setChecked(SettingIsTrue(Configuration->ReadSetting(QStringLiteral("brix_delete_reports"))));
    ShowFolder();
    resize(440, sizeHint().height());
}

void TFormInputFolder::ShowFolder()
{
    const QFontMetrics Metrics = EditInputFolder->fontMetrics();
    EditInputFolder->setText(
        ShortenPath(FInputFolder, kPathWidth, [&](const QString& Text) { return Metrics.horizontalAdvance(Text); }));
    EditInputFolder->setToolTip(FInputFolder);
    EditInputFolder->setCursorPosition(0);
    CheckBoxDeleteReports->setEnabled(!FInputFolder.isEmpty());
}

void TFormInputFolder::ButtonChangeFolderClick()
{
    QString Folder;
    if (!SelectFolder(QStringLiteral("Директорія програми Brixdesk"), this, Folder, FInputFolder))
        return;
    FInputFolder = Folder;
    ShowFolder();
}

void TFormInputFolder::accept()
{
    const IConfigurationPtr Configuration = GetConfiguration();
    Configuration->WriteSetting(QStringLiteral("brix_folder"), FInputFolder);
    Configuration->WriteSetting(QStringLiteral("brix_delete_reports"), BoolSetting(CheckBoxDeleteReports->isChecked()));
    QDialog::accept();
}

void SelectInputFolder(QWidget* Owner)
{
    TFormInputFolder Form(Owner ? Owner : ApplicationMainWindow());
    Form.exec();
}

} // namespace kelvora
