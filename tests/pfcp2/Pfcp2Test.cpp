// The crypto library on its own, linked in: its exported functions and its
// dialogs, driven through their real widgets on the offscreen platform.

#include "PFCP2.h"
#include "../core/FullDisk.h"
#include "Pfcp2Settings.h"
#include "Pfcp2Text.h"
#include "TestPki.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>
#include <set>

using kelvora::test::TestPki;
using kelvora::test::TTestPki;
using namespace pfcp2;

namespace {

// Runs Action on the next modal dialog as soon as it shows.
void OnDialog(std::function<void(QWidget*)> Action)
{
    auto* Timer = new QTimer;
    Timer->setInterval(5);
    QObject::connect(Timer, &QTimer::timeout, [Timer, Action] {
        QWidget* Dialog = QApplication::activeModalWidget();
        if (!Dialog || !Dialog->isVisible())
            return;
        Timer->stop();
        Timer->deleteLater();
        Action(Dialog);
    });
    Timer->start();
}

template <class T> T* Child(QWidget* Dialog, const char* Name)
{
    T* Widget = Dialog->findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(Widget, nullptr) << Name;
    return Widget;
}

void Press(QWidget* Dialog, QDialogButtonBox::StandardButton Which)
{
    Dialog->findChild<QDialogButtonBox*>()->button(Which)->click();
}

void ChooseKey(QWidget* Dialog, const QString& Folder, const QString& File, const QString& Password)
{
    auto* FolderEdit = Child<QLineEdit>(Dialog, "FolderEdit");
    FolderEdit->setText(Folder);
    Q_EMIT FolderEdit->editingFinished();
    auto* Files = Child<QComboBox>(Dialog, "KeyFileBox");
    Files->setCurrentIndex(Files->findText(File));
    Child<QLineEdit>(Dialog, "PasswordEdit")->setText(Password);
    Press(Dialog, QDialogButtonBox::Ok);
}

struct TRead {
    int32_t Result = 0, Code = -1, Stamp = 0;
    QString CN, Serial, Text;
};

TRead ReadKey(const QString& Title)
{
    PF_CERT_OWNER_INFO Info;
    char Serial[PF_SERIAL_SIZE] = {}, Text[PF_ERROR_TEXT_SIZE] = {};
    TRead Read;
    Read.Result = PFReadPrivateKey(ToCp1251(Title).constData(), 0, &Info, &Read.Stamp, Serial, 0, &Read.Code, Text);
    if (Read.Result) {
        Read.CN = FromCp1251(Info.ClientCN);
        PFFreeCertOwnerInfo(&Info);
    }
    Read.Serial = FromCp1251(Serial);
    Read.Text = FromCp1251(Text);
    return Read;
}

QString Password() { return QString::fromLatin1(TestPki().Password); }

class Pfcp2 : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestPki();
        int32_t Flag = 0;
        char Text[PF_ERROR_TEXT_SIZE] = {};
        ASSERT_TRUE(PFInitialize(0, &Flag, Text));
    }
    void TearDown() override { PFFinalize(); }
};

TEST_F(Pfcp2, KeyDialogReadsTheChosenKeyAndRemembersItsMedium)
{
    QString Title;
    OnDialog([&](QWidget* Dialog) {
        Title = Dialog->windowTitle();
        ChooseKey(Dialog, TestPki().Keys, QStringLiteral("12345678-accountant.p12"), Password());
    });
    const TRead First = ReadKey(QStringLiteral("Ключ бухгалтера"));
    EXPECT_EQ(First.Result, 1) << First.Text.toStdString();
    EXPECT_EQ(Title, QStringLiteral("Ключ бухгалтера"));
    EXPECT_EQ(First.CN, QStringLiteral("Бухгалтерук Олена Петрівна"));
    EXPECT_EQ(First.Serial.size(), 40);
    EXPECT_EQ(ReadSetting(QString::fromLatin1(KeyMediaSection), QString::fromLatin1(PathValue)), TestPki().Keys);

    char Media[PF_ERROR_TEXT_SIZE] = {};
    EXPECT_TRUE(PFGetPrivateKeyMedia(Media, nullptr, nullptr));
    EXPECT_EQ(FromCp1251(Media), TestPki().Keys);

    // The next dialog opens on the remembered medium; cancelling it is code 0.
    QString Folder;
    int Files = 0;
    OnDialog([&](QWidget* Dialog) {
        Folder = Child<QLineEdit>(Dialog, "FolderEdit")->text();
        Files = Child<QComboBox>(Dialog, "KeyFileBox")->count();
        Press(Dialog, QDialogButtonBox::Cancel);
    });
    const TRead Cancelled = ReadKey(QStringLiteral("Ключ"));
    EXPECT_EQ(Cancelled.Result, 0);
    EXPECT_EQ(Cancelled.Code, PF_E_CANCELLED);
    EXPECT_EQ(Folder, TestPki().Keys);
    EXPECT_EQ(Files, QDir(TestPki().Keys).entryList({QStringLiteral("*.p12")}, QDir::Files).size());
}

TEST_F(Pfcp2, KeyDialogOpensOnTheFileChosenLastUnderTheSameTitle)
{
    const QString Director = QStringLiteral("Зчитати ключ директора"),
                  Stamp = QStringLiteral("Зчитати ключ цифрової печатки");
    for (const auto& [Title, File] : {std::pair{Director, QStringLiteral("12345678-director.p12")},
                                      std::pair{Stamp, QStringLiteral("12345678-stamp.p12")}}) {
        OnDialog([&](QWidget* Dialog) { ChooseKey(Dialog, TestPki().Keys, File, Password()); });
        ASSERT_EQ(ReadKey(Title).Result, 1);
    }
    // Each title opens on its own key, whichever was read last; a title never
    // used opens on the medium's first file as before.
    for (const auto& [Title, File] :
         {std::pair{Director, QStringLiteral("12345678-director.p12")},
          std::pair{Stamp, QStringLiteral("12345678-stamp.p12")}, std::pair{QStringLiteral("Ключ"), QString()}}) {
        QString Shown, First;
        OnDialog([&](QWidget* Dialog) {
            auto* Files = Child<QComboBox>(Dialog, "KeyFileBox");
            Shown = Files->currentText();
            First = Files->itemText(0);
            Press(Dialog, QDialogButtonBox::Cancel);
        });
        ReadKey(Title);
        EXPECT_EQ(Shown, File.isEmpty() ? First : File) << Title.toStdString();
    }
}

TEST_F(Pfcp2, KeyDialogWithAWrongPasswordFailsWithItsCode)
{
    OnDialog([](QWidget* Dialog) {
        ChooseKey(Dialog, TestPki().Keys, QStringLiteral("12345678-director.p12"), QStringLiteral("wrong"));
    });
    const TRead Read = ReadKey(QStringLiteral("Ключ"));
    EXPECT_EQ(Read.Result, 0);
    EXPECT_EQ(Read.Code, PF_E_WRONG_PASSWORD);
    EXPECT_EQ(Read.Text, ErrorDescription(PF_E_WRONG_PASSWORD));
}

TEST_F(Pfcp2, CertificateListShowsTheStoreAndSelectsAGateway)
{
    int Rows = 0;
    QString Details, ExpiredState;
    OnDialog([&](QWidget* Dialog) {
        auto* List = Child<QTreeWidget>(Dialog, "CertificateList");
        Rows = List->topLevelItemCount();
        for (int I = 0; I < Rows; ++I)
            if (List->topLevelItem(I)->text(0) == QStringLiteral("Директоренко Петро Іванович") &&
                !List->topLevelItem(I)->text(5).startsWith(QStringLiteral("чинний")))
                ExpiredState += List->topLevelItem(I)->text(5);
        Details = Child<QPlainTextEdit>(Dialog, "CertificateDetails")->toPlainText();
        Press(Dialog, QDialogButtonBox::Close);
    });
    EXPECT_TRUE(PFShowCertificates());
    EXPECT_EQ(Rows, QDir(TestPki().Store).entryList({QStringLiteral("*.crt")}, QDir::Files).size());
    EXPECT_TRUE(Details.contains(QStringLiteral("Власник: ")));
    EXPECT_TRUE(ExpiredState.contains(ErrorDescription(PF_E_CERT_EXPIRED)));
    EXPECT_TRUE(ExpiredState.contains(ErrorDescription(PF_E_CERT_REVOKED)));

    OnDialog([](QWidget* Dialog) {
        auto* List = Child<QTreeWidget>(Dialog, "CertificateList");
        const auto Found = List->findItems(TTestPki::VeyCode, Qt::MatchExactly, 2);
        ASSERT_EQ(Found.size(), 1);
        List->setCurrentItem(Found.front());
        Press(Dialog, QDialogButtonBox::Ok);
    });
    char Name[PF_ERROR_TEXT_SIZE] = {}, Code[PF_SERIAL_SIZE] = {};
    EXPECT_TRUE(PFSelectGatewayCert(Name, Code, ToCp1251(QStringLiteral("Оберіть сертифікат шлюза")).constData()));
    EXPECT_EQ(FromCp1251(Name), QStringLiteral("Шлюз VEY"));
    EXPECT_EQ(FromCp1251(Code), TTestPki::VeyCode);

    OnDialog([](QWidget* Dialog) { Press(Dialog, QDialogButtonBox::Cancel); });
    EXPECT_FALSE(PFSelectGatewayCert(Name, Code, "x"));
    EXPECT_STREQ(Name, "");
    EXPECT_STREQ(Code, "");
}

TEST_F(Pfcp2, CrlListShowsTheRevokedCertificate)
{
    QStringList Revoked;
    int Lists = 0;
    OnDialog([&](QWidget* Dialog) {
        auto* List = Child<QTreeWidget>(Dialog, "CrlList");
        Lists = List->topLevelItemCount();
        for (int I = 0; Lists && I < List->topLevelItem(0)->childCount(); ++I)
            Revoked << List->topLevelItem(0)->child(I)->text(0);
        Press(Dialog, QDialogButtonBox::Close);
    });
    EXPECT_TRUE(PFShowCRLs());
    EXPECT_EQ(Lists, 1);

    uint8_t* Cert = nullptr;
    int32_t Length = 0;
    PF_CERT_OWNER_INFO Info;
    ASSERT_TRUE(
        PFFindGatewayCert(TTestPki::EnterpriseCode.toLatin1().constData(), 3, &Cert, &Length, nullptr, nullptr));
    ASSERT_TRUE(PFGetCertOwnerInfo(Cert, Length, &Info, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(Revoked, QStringList{FromCp1251(Info.CertSerial)}); // the store's fourth: "-revoked"
    PFFreeCertOwnerInfo(&Info);
    PFFreeData(Cert, Length);
}

TEST_F(Pfcp2, SettingsDialogChangesTheFileStore)
{
    QTemporaryDir Other;
    OnDialog([&](QWidget* Dialog) {
        EXPECT_EQ(Child<QLineEdit>(Dialog, "FileStoreEdit")->text(), TestPki().Store);
        Child<QLineEdit>(Dialog, "FileStoreEdit")->setText(Other.path());
        Press(Dialog, QDialogButtonBox::Ok);
    });
    EXPECT_TRUE(PFSetSettings());
    EXPECT_EQ(FileStoreFolder(), Other.path());
    uint8_t* Cert = nullptr;
    int32_t Length = 0, Code = -1;
    EXPECT_FALSE(PFFindGatewayCert(TTestPki::VeyCode.toLatin1().constData(), -1, &Cert, &Length, &Code, nullptr));
    EXPECT_EQ(Code, PF_E_CERT_NOT_FOUND);

    OnDialog([](QWidget* Dialog) { Press(Dialog, QDialogButtonBox::Cancel); });
    EXPECT_FALSE(PFSetSettings());
    ASSERT_TRUE(WriteSetting(QString::fromLatin1(FileStoreSection), QString::fromLatin1(PathValue), TestPki().Store));
}

TEST_F(Pfcp2, AShortSettingsWriteKeepsTheOldFileAndFails)
{
    for (int I = 0; I < 50; ++I)
        ASSERT_TRUE(WriteSetting(QStringLiteral("Padding"), QStringLiteral("Key%1").arg(I), QString(40, u'x')));
    QFile File(SettingsFilePath());
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    const QByteArray Before = File.readAll();
    File.close();
    {
        kelvora::test::TFullDisk Full(512);
        EXPECT_FALSE(WriteSetting(QString::fromLatin1(KeyMediaSection), QString::fromLatin1(PathValue), "/x"));
    }
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    EXPECT_EQ(File.readAll(), Before);
    EXPECT_EQ(FileStoreFolder(), TestPki().Store);
}

TEST_F(Pfcp2, PasswordDialogRewritesTheKeyFile)
{
    QTemporaryDir Medium;
    const QString Copy = QDir(Medium.path()).filePath(QStringLiteral("key.p12"));
    ASSERT_TRUE(QFile::copy(TestPki().KeyFile(QStringLiteral("12345678-director")), Copy));
    PFSupplyPrivateKey(Copy.toUtf8().constData(), TestPki().Password.constData());
    ASSERT_EQ(ReadKey(QString()).Result, 1);

    OnDialog([](QWidget* Dialog) {
        Child<QLineEdit>(Dialog, "OldPasswordEdit")->setText(Password());
        Child<QLineEdit>(Dialog, "NewPasswordEdit")->setText(QStringLiteral("новий пароль"));
        Child<QLineEdit>(Dialog, "ConfirmPasswordEdit")->setText(QStringLiteral("новий пароль"));
        Press(Dialog, QDialogButtonBox::Ok);
    });
    int32_t Code = -1;
    EXPECT_TRUE(PFChangePrivateKeyPassword("x", &Code, nullptr));

    PFSupplyPrivateKey(Copy.toUtf8().constData(), TestPki().Password.constData());
    EXPECT_EQ(ReadKey(QString()).Code, PF_E_WRONG_PASSWORD);
    PFSupplyPrivateKey(Copy.toUtf8().constData(), QStringLiteral("новий пароль").toUtf8().constData());
    EXPECT_EQ(ReadKey(QString()).Result, 1);
}

TEST_F(Pfcp2, FindsCertificatesByCodeIndexAndSerial)
{
    auto Find = [](const QString& Code, int Index, QString* Serial = nullptr, int32_t* Stamp = nullptr) {
        uint8_t* Cert = nullptr;
        int32_t Length = 0, Error = -1;
        QString CN;
        if (PFFindGatewayCert(Code.toLatin1().constData(), Index, &Cert, &Length, &Error, nullptr)) {
            PF_CERT_OWNER_INFO Info;
            EXPECT_TRUE(PFGetCertOwnerInfo(Cert, Length, &Info, Stamp, nullptr, nullptr, nullptr));
            CN = FromCp1251(Info.ClientCN);
            if (Serial)
                *Serial = FromCp1251(Info.CertSerial);
            PFFreeCertOwnerInfo(&Info);
            PFFreeData(Cert, Length);
        } else {
            EXPECT_EQ(Error, PF_E_CERT_NOT_FOUND);
        }
        return CN;
    };
    // Store order is file-name order: accountant, director, expired, revoked, stamp.
    EXPECT_EQ(Find(TTestPki::EnterpriseCode, 0), QStringLiteral("Бухгалтерук Олена Петрівна"));
    int32_t Stamp = 0;
    EXPECT_EQ(Find(TTestPki::EnterpriseCode, 4, nullptr, &Stamp), QStringLiteral("ТОВ \"Демо 12345678\""));
    EXPECT_EQ(Stamp, 1);
    EXPECT_EQ(Find(TTestPki::EnterpriseCode, 5), QString());
    QString Serial;
    EXPECT_EQ(Find(TTestPki::EnterpriseCode, -1, &Serial), QStringLiteral("Директоренко Петро Іванович"));

    uint8_t* Cert = nullptr;
    int32_t Length = 0;
    ASSERT_TRUE(PFFindClientCert(Serial.toLatin1().constData(), &Cert, &Length, nullptr, nullptr));
    PF_CERT_OWNER_INFO Info;
    ASSERT_TRUE(PFGetCertOwnerInfo(Cert, Length, &Info, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(FromCp1251(Info.ClientTitle), QStringLiteral("Директор"));
    PFFreeCertOwnerInfo(&Info);
    PFFreeData(Cert, Length);

    const uint8_t Garbage[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    int32_t Code = -1;
    EXPECT_FALSE(PFGetCertOwnerInfo(Garbage, sizeof Garbage, &Info, nullptr, nullptr, &Code, nullptr));
    EXPECT_EQ(Code, PF_E_CERT_DAMAGED);
}

TEST_F(Pfcp2, CertificatesInTheStoreAreNoTrustAnchorsUnlessSelfSigned)
{
    PFSupplyPrivateKey(TestPki().KeyFile(QStringLiteral("12345678-director")).toUtf8().constData(),
                       TestPki().Password.constData());
    ASSERT_EQ(ReadKey(QString()).Result, 1);
    const uint8_t Data[] = "report";
    uint8_t* Signed = nullptr;
    int32_t SignedLength = 0, Code = -1;
    ASSERT_TRUE(PFProtectData(Data, sizeof Data, &Signed, &SignedLength, PF_OP_SIGN, nullptr, nullptr, 0, nullptr,
                              nullptr, nullptr, &Code, nullptr));

    // A store with the signer's certificate and the revocation list, but not
    // the root that issued them.
    QTemporaryDir Store;
    for (const QString& Name : {QStringLiteral("12345678-director.crt"), QStringLiteral("root-ca.crl")})
        ASSERT_TRUE(QFile::copy(QDir(TestPki().Store).filePath(Name), QDir(Store.path()).filePath(Name)));
    ASSERT_TRUE(WriteSetting(QString::fromLatin1(FileStoreSection), QString::fromLatin1(PathValue), Store.path()));
    uint8_t* Out = nullptr;
    int32_t Length = 0;
    EXPECT_FALSE(PFProtectData(Signed, SignedLength, &Out, &Length, PF_OP_VERIFY, nullptr, nullptr, 0, nullptr, nullptr,
                               nullptr, &Code, nullptr));
    EXPECT_EQ(Code, PF_E_CERT_UNTRUSTED);
    ASSERT_TRUE(WriteSetting(QString::fromLatin1(FileStoreSection), QString::fromLatin1(PathValue), TestPki().Store));
    EXPECT_TRUE(PFProtectData(Signed, SignedLength, &Out, &Length, PF_OP_VERIFY, nullptr, nullptr, 0, nullptr, nullptr,
                              nullptr, &Code, nullptr));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(Out), Length),
              QByteArray(reinterpret_cast<const char*>(Data), sizeof Data));
    PFFreeData(Out, Length);
    PFFreeData(Signed, SignedLength);
}

TEST_F(Pfcp2, RefusesCallsOutsideItsContract)
{
    PFFinalize();
    uint8_t* Out = nullptr;
    int32_t Length = 0, Code = -1;
    char Text[PF_ERROR_TEXT_SIZE] = {};
    const uint8_t Data[] = {1, 2, 3};
    EXPECT_FALSE(
        PFProtectData(Data, 3, &Out, &Length, PF_OP_SIGN, nullptr, nullptr, 0, nullptr, nullptr, nullptr, &Code, Text));
    EXPECT_EQ(Code, PF_E_NOT_INITIALIZED);
    int32_t Flag = 0;
    ASSERT_TRUE(PFInitialize(0, &Flag, Text));

    EXPECT_FALSE(
        PFProtectData(Data, 3, &Out, &Length, 77, nullptr, nullptr, 0, nullptr, nullptr, nullptr, &Code, Text));
    EXPECT_EQ(Code, PF_E_BAD_ARGUMENT);
    EXPECT_FALSE(
        PFProtectData(Data, 3, &Out, &Length, PF_OP_SIGN, nullptr, nullptr, 0, nullptr, nullptr, nullptr, &Code, Text));
    EXPECT_EQ(Code, PF_E_NO_KEY);
    EXPECT_EQ(Out, nullptr);

    std::set<QString> Texts;
    for (int I = 0; I <= PF_E_LAST; ++I) {
        ASSERT_TRUE(PFGetErrorDescr(I, Text));
        Texts.insert(FromCp1251(Text));
    }
    EXPECT_EQ(Texts.size(), size_t(PF_E_LAST + 1));

    uint8_t* Buffer = nullptr;
    ASSERT_TRUE(PFAllocateData(64, &Buffer));
    EXPECT_EQ(Buffer[63], 0);
    EXPECT_TRUE(PFFreeData(Buffer, 0)); // the library knows the size it handed out
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
