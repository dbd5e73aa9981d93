#include "Pfcp2Dialogs.h"

#include "Pfcp2Key.h"
#include "Pfcp2Profile.h"
#include "Pfcp2Settings.h"
#include "Pfcp2Store.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <openssl/x509v3.h>

namespace pfcp2 {

namespace {

const QString KeyMasks = QStringLiteral("*.p12 *.pfx");

QString SectionName(const char* Section) { return QString::fromLatin1(Section); }

// A folder field with a browse button.
QWidget* FolderField(QLineEdit* Edit, QWidget* Parent)
{
    auto* Box = new QWidget(Parent);
    auto* Layout = new QHBoxLayout(Box);
    Layout->setContentsMargins(0, 0, 0, 0);
    auto* Browse = new QPushButton(QStringLiteral("Огляд..."), Box);
    Browse->setObjectName(QStringLiteral("BrowseButton"));
    Layout->addWidget(Edit, 1);
    Layout->addWidget(Browse);
    QObject::connect(Browse, &QPushButton::clicked, Edit, [Edit, Box] {
        const QString Folder = QFileDialog::getExistingDirectory(Box, QStringLiteral("Оберіть каталог"), Edit->text());
        if (!Folder.isEmpty()) {
            Edit->setText(QDir::toNativeSeparators(Folder));
            Q_EMIT Edit->editingFinished();
        }
    });
    return Box;
}

QString StatusText(const TStore& Store, X509* Cert)
{
    TError Error;
    return Store.Verify(Cert, nullptr, Error) ? QStringLiteral("чинний") : Error.Text;
}

} // namespace

bool HasUserInterface() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

QString OwnerText(X509* Cert)
{
    const TOwner Owner = DescribeCertificate(Cert);
    const QList<QPair<QString, QString>> Lines = {
        {QStringLiteral("Власник"), Owner.ClientCN},
        {QStringLiteral("Повне ім'я"), Owner.ClientFullName},
        {QStringLiteral("Посада"), Owner.ClientTitle},
        {QStringLiteral("Організація"), Owner.ClientOrg},
        {QStringLiteral("Підрозділ"), Owner.ClientOrgUnit},
        {QStringLiteral("Код ЄДРПОУ"), Owner.ClientEDRPOUCode},
        {QStringLiteral("Код ДРФО"), Owner.ClientDRFOCode},
        {QStringLiteral("Область"), Owner.ClientState},
        {QStringLiteral("Населений пункт"), Owner.ClientLocality},
        {QStringLiteral("Адреса"), Owner.ClientAddress},
        {QStringLiteral("Телефон"), Owner.ClientPhone},
        {QStringLiteral("Електронна пошта"), Owner.ClientEMail},
        {QStringLiteral("DNS-ім'я"), Owner.ClientDNS},
        {QStringLiteral("Тип ключа"),
         Owner.Stamp ? QStringLiteral("цифрова печатка") : QStringLiteral("цифровий підпис")},
        {QStringLiteral("Видавець"), Owner.CertAuthCN},
        {QStringLiteral("Серійний номер"), Owner.CertSerial},
        {QStringLiteral("Ідентифікатор ключа"), Owner.KeySerial},
        {QStringLiteral("Діє з"), TimeText(X509_get0_notBefore(Cert))},
        {QStringLiteral("Діє до"), TimeText(X509_get0_notAfter(Cert))},
    };
    QString Text;
    for (const auto& Line : Lines)
        if (!Line.second.isEmpty())
            Text += Line.first + QStringLiteral(": ") + Line.second + u'\n';
    return Text;
}

bool AskKeyFile(const QString& Title, QString& FileName, QByteArray& Password)
{
    QDialog Dialog(QApplication::activeWindow());
    Dialog.setObjectName(QStringLiteral("PFKeyDialog"));
    Dialog.setWindowTitle(Title.isEmpty() ? QStringLiteral("Зчитування особистого ключа") : Title);
    // A program asks for each of its keys under its own title (the
    // director's, the stamp's): each dialog opens on the file chosen for it
    // last, not on the last file of any key.
    QString TitleName = Dialog.windowTitle();
    for (QChar& Char : TitleName)
        if (QStringLiteral("=;[]\r\n").contains(Char))
            Char = u'_';
    const QFileInfo LastFile(ReadSetting(SectionName(KeyFilesSection), TitleName));
    auto* Folder = new QLineEdit(&Dialog);
    Folder->setObjectName(QStringLiteral("FolderEdit"));
    QString Last = ReadSetting(SectionName(KeyMediaSection), QString::fromLatin1(PathValue));
    if (LastFile.isFile())
        Last = QDir::toNativeSeparators(LastFile.absolutePath());
    Folder->setText(Last.isEmpty() ? QDir::toNativeSeparators(QDir::homePath()) : Last);
    auto* Files = new QComboBox(&Dialog);
    Files->setObjectName(QStringLiteral("KeyFileBox"));
    auto* PasswordEdit = new QLineEdit(&Dialog);
    PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
    PasswordEdit->setEchoMode(QLineEdit::Password);
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &Dialog);
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Скасувати"));

    auto Refill = [&] {
        Files->clear();
        const QDir Medium(Folder->text());
        for (const QString& Name : Medium.entryList(KeyMasks.split(u' '), QDir::Files, QDir::Name))
            Files->addItem(Name, Medium.absoluteFilePath(Name));
        Buttons->button(QDialogButtonBox::Ok)->setEnabled(Files->count() > 0);
    };
    QObject::connect(Folder, &QLineEdit::editingFinished, &Dialog, Refill);
    QObject::connect(Buttons, &QDialogButtonBox::accepted, &Dialog, &QDialog::accept);
    QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
    Refill();
    if (LastFile.isFile())
        Files->setCurrentIndex(std::max(0, Files->findData(LastFile.absoluteFilePath())));

    auto* Form = new QFormLayout;
    Form->addRow(QStringLiteral("Носій ключа:"), FolderField(Folder, &Dialog));
    Form->addRow(QStringLiteral("Файл ключа:"), Files);
    Form->addRow(QStringLiteral("Пароль:"), PasswordEdit);
    auto* Layout = new QVBoxLayout(&Dialog);
    Layout->addLayout(Form);
    Layout->addWidget(Buttons);
    PasswordEdit->setFocus();

    const bool Accepted = Dialog.exec() == QDialog::Accepted && Files->currentIndex() >= 0;
    if (Accepted) {
        FileName = Files->currentData().toString();
        QString Text = PasswordEdit->text();
        Password = Text.toUtf8();
        Text.fill(QChar(0));
        WriteSetting(SectionName(KeyMediaSection), QString::fromLatin1(PathValue), Folder->text());
        WriteSetting(SectionName(KeyFilesSection), TitleName, FileName);
    }
    PasswordEdit->setText(QString(PasswordEdit->text().size(), QChar(0)));
    PasswordEdit->clear();
    return Accepted;
}

bool ShowCertificateList(const TStore& Store, const QString& Title, bool Select, X509** Chosen)
{
    QDialog Dialog(QApplication::activeWindow());
    Dialog.setObjectName(QStringLiteral("PFCertificatesDialog"));
    Dialog.setWindowTitle(Title);
    Dialog.resize(820, 520);
    auto* List = new QTreeWidget(&Dialog);
    List->setObjectName(QStringLiteral("CertificateList"));
    List->setRootIsDecorated(false);
    List->setHeaderLabels({QStringLiteral("Власник"), QStringLiteral("Організація"), QStringLiteral("Код"),
                           QStringLiteral("Видавець"), QStringLiteral("Діє до"), QStringLiteral("Стан")});
    for (size_t I = 0; I < Store.Certs().size(); ++I) {
        X509* Cert = Store.Certs()[I].Cert;
        const TOwner Owner = DescribeCertificate(Cert);
        auto* Row =
            new QTreeWidgetItem(List, {Owner.ClientCN, Owner.ClientOrg,
                                       Owner.ClientEDRPOUCode.isEmpty() ? Owner.ClientDRFOCode : Owner.ClientEDRPOUCode,
                                       Owner.CertAuthCN, TimeText(X509_get0_notAfter(Cert)), StatusText(Store, Cert)});
        Row->setData(0, Qt::UserRole, static_cast<qulonglong>(I));
    }
    List->header()->resizeSections(QHeaderView::ResizeToContents);
    auto* Details = new QPlainTextEdit(&Dialog);
    Details->setObjectName(QStringLiteral("CertificateDetails"));
    Details->setReadOnly(true);
    QObject::connect(List, &QTreeWidget::currentItemChanged, Details, [&](QTreeWidgetItem* Row) {
        Details->setPlainText(Row ? OwnerText(Store.Certs()[Row->data(0, Qt::UserRole).toULongLong()].Cert)
                                  : QString());
    });
    auto* Buttons = new QDialogButtonBox(
        Select ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel : QDialogButtonBox::Close, &Dialog);
    if (Select)
        Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Скасувати"));
    else
        Buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрити"));
    QObject::connect(Buttons, &QDialogButtonBox::accepted, &Dialog, &QDialog::accept);
    QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
    if (Select)
        QObject::connect(List, &QTreeWidget::itemDoubleClicked, &Dialog, &QDialog::accept);
    auto* Layout = new QVBoxLayout(&Dialog);
    Layout->addWidget(new QLabel(QStringLiteral("Файлове сховище: ") + Store.Folder(), &Dialog));
    Layout->addWidget(List, 3);
    Layout->addWidget(Details, 2);
    Layout->addWidget(Buttons);
    if (List->topLevelItemCount() > 0)
        List->setCurrentItem(List->topLevelItem(0));

    const bool Accepted = Dialog.exec() == QDialog::Accepted;
    QTreeWidgetItem* Row = List->currentItem();
    if (!Select || !Accepted || !Row)
        return Accepted && Row;
    X509* Cert = Store.Certs()[Row->data(0, Qt::UserRole).toULongLong()].Cert;
    if (Chosen && X509_up_ref(Cert))
        *Chosen = Cert;
    return true;
}

void ShowCrlList(const TStore& Store)
{
    QDialog Dialog(QApplication::activeWindow());
    Dialog.setObjectName(QStringLiteral("PFCrlDialog"));
    Dialog.setWindowTitle(QStringLiteral("Списки відкликаних сертифікатів"));
    Dialog.resize(720, 420);
    auto* List = new QTreeWidget(&Dialog);
    List->setObjectName(QStringLiteral("CrlList"));
    List->setHeaderLabels({QStringLiteral("Видавець / сертифікат"), QStringLiteral("Випущено / відкликано"),
                           QStringLiteral("Наступне оновлення"), QStringLiteral("Файл")});
    for (const TStoreCrl& Item : Store.Crls()) {
        STACK_OF(X509_REVOKED)* Revoked = X509_CRL_get_REVOKED(Item.Crl);
        auto* Row = new QTreeWidgetItem(List, {NameEntry(X509_CRL_get_issuer(Item.Crl), NID_commonName),
                                               TimeText(X509_CRL_get0_lastUpdate(Item.Crl)),
                                               TimeText(X509_CRL_get0_nextUpdate(Item.Crl)), Item.FileName});
        for (int I = 0; I < sk_X509_REVOKED_num(Revoked); ++I) {
            const X509_REVOKED* Entry = sk_X509_REVOKED_value(Revoked, I);
            BIGNUM* Number = ASN1_INTEGER_to_BN(X509_REVOKED_get0_serialNumber(Entry), nullptr);
            char* Hex = Number ? BN_bn2hex(Number) : nullptr;
            new QTreeWidgetItem(
                Row, {QString::fromLatin1(Hex ? Hex : ""), TimeText(X509_REVOKED_get0_revocationDate(Entry))});
            OPENSSL_free(Hex);
            BN_free(Number);
        }
    }
    List->expandAll();
    List->header()->resizeSections(QHeaderView::ResizeToContents);
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Close, &Dialog);
    Buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрити"));
    QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
    auto* Layout = new QVBoxLayout(&Dialog);
    Layout->addWidget(List);
    Layout->addWidget(Buttons);
    Dialog.exec();
}

bool EditSettings()
{
    QDialog Dialog(QApplication::activeWindow());
    Dialog.setObjectName(QStringLiteral("PFSettingsDialog"));
    Dialog.setWindowTitle(QStringLiteral("Налаштування криптобібліотеки"));
    auto* Folder = new QLineEdit(FileStoreFolder(), &Dialog);
    Folder->setObjectName(QStringLiteral("FileStoreEdit"));
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &Dialog);
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Скасувати"));
    QObject::connect(Buttons, &QDialogButtonBox::accepted, &Dialog, [&] {
        if (!QFileInfo(Folder->text()).isDir()) {
            QMessageBox::warning(&Dialog, Dialog.windowTitle(), QStringLiteral("Каталог не існує: ") + Folder->text());
            return;
        }
        if (!WriteSetting(SectionName(FileStoreSection), QString::fromLatin1(PathValue), Folder->text())) {
            QMessageBox::warning(&Dialog, Dialog.windowTitle(),
                                 QStringLiteral("Неможливо записати файл налаштувань: ") + SettingsFilePath());
            return;
        }
        Dialog.accept();
    });
    QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
    auto* Form = new QFormLayout;
    Form->addRow(QStringLiteral("Файлове сховище сертифікатів:"), FolderField(Folder, &Dialog));
    auto* Layout = new QVBoxLayout(&Dialog);
    Layout->addLayout(Form);
    Layout->addWidget(Buttons);
    Dialog.resize(560, Dialog.sizeHint().height());
    return Dialog.exec() == QDialog::Accepted;
}

void ShowCertificate(X509* Cert) { ShowText(QStringLiteral("Сертифікат"), OwnerText(Cert)); }

void ShowText(const QString& Title, const QString& Text)
{
    QMessageBox Box(QMessageBox::Information, Title, Text, QMessageBox::Ok, QApplication::activeWindow());
    Box.exec();
}

bool AskNewPassword(const QString& Title, QByteArray& OldPassword, QByteArray& NewPassword)
{
    QDialog Dialog(QApplication::activeWindow());
    Dialog.setObjectName(QStringLiteral("PFPasswordDialog"));
    Dialog.setWindowTitle(Title.isEmpty() ? QStringLiteral("Зміна пароля особистого ключа") : Title);
    QLineEdit* Edits[3];
    const char* Names[3] = {"OldPasswordEdit", "NewPasswordEdit", "ConfirmPasswordEdit"};
    auto* Form = new QFormLayout;
    const QString Labels[3] = {QStringLiteral("Поточний пароль:"), QStringLiteral("Новий пароль:"),
                               QStringLiteral("Повторіть новий пароль:")};
    for (int I = 0; I < 3; ++I) {
        Edits[I] = new QLineEdit(&Dialog);
        Edits[I]->setObjectName(QString::fromLatin1(Names[I]));
        Edits[I]->setEchoMode(QLineEdit::Password);
        Form->addRow(Labels[I], Edits[I]);
    }
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &Dialog);
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Скасувати"));
    QObject::connect(Buttons, &QDialogButtonBox::accepted, &Dialog, [&] {
        if (Edits[1]->text().isEmpty() || Edits[1]->text() != Edits[2]->text()) {
            QMessageBox::warning(&Dialog, Dialog.windowTitle(), QStringLiteral("Нові паролі не збігаються."));
            return;
        }
        Dialog.accept();
    });
    QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
    auto* Layout = new QVBoxLayout(&Dialog);
    Layout->addLayout(Form);
    Layout->addWidget(Buttons);
    const bool Accepted = Dialog.exec() == QDialog::Accepted;
    if (Accepted) {
        OldPassword = Edits[0]->text().toUtf8();
        NewPassword = Edits[1]->text().toUtf8();
    }
    for (QLineEdit* Edit : Edits)
        Edit->clear();
    return Accepted;
}

QString AskFolder(const QString& Title)
{
    return QFileDialog::getExistingDirectory(QApplication::activeWindow(), Title, QDir::homePath());
}

bool Confirm(const QString& Title, const QString& Question)
{
    return QMessageBox::question(QApplication::activeWindow(), Title, Question) == QMessageBox::Yes;
}

} // namespace pfcp2
