#include "WorkflowSupport.h"

#include "GuiTest.h"
#include "TestPki.h"
#include "uEmailAccount.h"
#include "uFactories.h"
#include "uReportRun.h"
#include "uTransportContainer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#ifndef KELVORA_GATEWAY_TOOL
#define KELVORA_GATEWAY_TOOL ""
#endif

namespace kelvora::test {

namespace {

const QStringList AgencyUsers = {QStringLiteral("vey"), QStringLiteral("pfu"), QStringLiteral("dks")};

IStreamPtr StreamOf(const QByteArray& Bytes)
{
    const IStreamPtr Stream = CreateStream();
    Stream->Write(Bytes.constData(), static_cast<int32_t>(Bytes.size()));
    Stream->SetPosition(0);
    return Stream;
}

QByteArray BytesOf(const IStreamPtr& Stream)
{
    QByteArray Bytes(static_cast<qsizetype>(Stream->GetSize()), Qt::Uninitialized);
    Stream->SetPosition(0);
    Stream->Read(Bytes.data(), static_cast<int32_t>(Bytes.size()));
    return Bytes;
}

QString Padded(const QString& Code) { return Code.size() == 8 ? QStringLiteral("00") + Code : Code; }

} // namespace

TMailServers& AgencyMailServers()
{
    static QTemporaryDir Folder;
    static TMailServers Servers(TMailServers::BOTH, Folder.path(), [] {
        QMap<QString, QString> Accounts;
        for (const QString& User : QStringList{EnterpriseUser} + AgencyUsers)
            Accounts.insert(User, MailPassword);
        return Accounts;
    }());
    return Servers;
}

void ClearAgencyMailboxes()
{
    for (const QString& User : QStringList{EnterpriseUser} + AgencyUsers)
        AgencyMailServers().ClearMailbox(User);
}

QString VeyName(const QString& Document, const QString& Code, const QString& Extension)
{
    return QStringLiteral("2650") + Padded(Code) + Document + QStringLiteral("1000000001") + QStringLiteral("1112026") +
           QStringLiteral("2650") + Extension;
}

QString PfuName(const QString& Code)
{
    return QStringLiteral("00000") + Code + QStringLiteral("ZZ") + QStringLiteral("0000001122026120000ABC10.xml");
}

QString DksName(const QString& Code)
{
    return QStringLiteral("26500") + Padded(Code) + QStringLiteral("S0100114") + QStringLiteral("10000001112026.xml");
}

void WriteAgencyParams(const QString& Root)
{
    QString Params = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>\n"
                                    "<param name=\"software_name\">Kelvora</param>\n"
                                    "<param name=\"software_version\">1.0</param>\n"
                                    "<param name=\"software_revision\">2</param>\n");
    for (const QString& User : AgencyUsers)
        Params += QStringLiteral("<param name=\"email_%1\">%2</param>\n").arg(User, Address(User));
    Params += QStringLiteral("<param name=\"cert_code_pfu\">%1</param>\n<param name=\"cert_code_vey\">%2</param>\n"
                             "<param name=\"cert_code_dks\">%3</param>\n</params>\n")
                  .arg(TTestPki::PfuCode, TTestPki::VeyCode, TTestPki::DksCode);
    QDir().mkpath(Root + QStringLiteral("config"));
    QFile File(Root + QStringLiteral("config/params.xml"));
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
    File.write(Params.toUtf8());
}

TProfile StoreProfile(const QString& Code, TSignType SignType, const QString& OutputFolder, TAfterSignAction After,
                      bool WithAccount)
{
    TProfile Profile;
    Profile.Name = QStringLiteral("ТОВ \"Демо %1\"").arg(Code);
    Profile.Code = Code;
    Profile.SignType = SignType;
    Profile.SignAfterAction = After;
    const QString Out = QDir(OutputFolder).absolutePath() + QDir::separator();
    Profile.CatalogOutPfu = Out + QStringLiteral("PFU") + QDir::separator();
    Profile.CatalogOutVey = Out + QStringLiteral("VEY") + QDir::separator();
    Profile.CatalogOutDks = Out + QStringLiteral("DKS") + QDir::separator();
    if (WithAccount) {
        TEmailAccount Account;
        Account.Email = Address(EnterpriseUser);
        Account.POPHost = Account.SMTPHost = QStringLiteral("127.0.0.1");
        Account.POPPort = QString::number(AgencyMailServers().Pop3Port());
        Account.SMTPPort = QString::number(AgencyMailServers().SmtpPort());
        Account.POPUser = Account.SMTPUser = EnterpriseUser;
        Account.POPPassword = Account.SMTPPassword = MailPassword;
        AddEmailAccount(Account);
        Profile.DefaultAccountId = Account.Id;
    }
    AddProfile(Profile);
    return Profile;
}

QByteArray SampleReport(const QString& Title)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<DECLAR><DECLARBODY><TITLE>%1</TITLE>"
                          "</DECLARBODY></DECLAR>\r\n")
        .arg(Title)
        .toUtf8();
}

QByteArray ProtectReport(const QString& FileName, const QByteArray& Content, const QStringList& Keys,
                         const QString& Email, const std::function<void(QByteArray&)>& Tamper)
{
    const ICryptoManagerPtr Crypto = GetCryptoManager();
    const TDocumentAgency Agency = CreateDocumentName(FileName)->GetAgency();
    const bool Layers = Agency != daPFU;
    IStreamPtr Data = StreamOf(Content);
    TCertOwnerInfo Key;
    auto Sign = [&] {
        Data = Crypto->Sign(Data);
        EXPECT_TRUE(Data) << Crypto->GetLastError().toStdString();
        if (Data && Layers)
            Data = TTransportContainer::SignHeaderAdd(Data);
        return Data != nullptr;
    };
    for (const QString& Name : Keys) {
        SupplyKey(Name);
        if (!Crypto->ReadPrivateKeyInfo(Key, QStringLiteral("key")) || !Sign())
            return QByteArray();
    }
    // A pension-fund report always carries three signatures of its own.
    for (qsizetype I = Keys.size(); !Layers && I < 3; ++I)
        if (!Sign())
            return QByteArray();
    if (Tamper) {
        QByteArray Signed = BytesOf(Data);
        Tamper(Signed);
        Data = StreamOf(Signed);
    }
    const QString Code = Agency == daPFU ? TTestPki::PfuCode : Agency == daDKS ? TTestPki::DksCode : TTestPki::VeyCode;
    TCertOwnerInfo Gateway;
    EXPECT_TRUE(Crypto->FindGatewayCert(Code, Gateway));
    Data = Crypto->Encrypt(Gateway.Client, Data);
    if (!Data)
        return QByteArray();
    if (Layers)
        Data = TTransportContainer::CryptHeaderAdd(Data);
    if (!Sign())
        return QByteArray();
    if (Layers)
        Data = TTransportContainer::TransportableHeaderAdd(
            Data, Key.ClientOrg, Key.ClientEDRPOUCode.isEmpty() ? Key.ClientDRFOCode : Key.ClientEDRPOUCode, FileName,
            Email, QStringLiteral("Kelvora"), QStringLiteral("1.0"));
    return BytesOf(Data);
}

bool ProtectAndSendReports(const TProfile& Profile, const QStringList& Paths, const QStringList& Keys)
{
    // The protected files the run writes go to a folder of their own: the
    // profile's output folders hold only what the receipt tests look for.
    static QTemporaryDir Output;
    TProfile Protecting = Profile;
    Protecting.CatalogOutPfu = Protecting.CatalogOutVey = Protecting.CatalogOutDks = Output.path() + u'/';
    qsizetype Next = 0;
    TReportRunHost Host;
    Host.KeyRequested = [&](int, const QString&) {
        if (Next >= Keys.size())
            return false;
        SupplyKey(Keys[Next++]);
        return true;
    };
    Host.Tell = [](TRunNotice, const QString& Text) { ADD_FAILURE() << Text.toStdString(); };
    TReportRun Run(Protecting, Host);
    Run.AddFiles(Paths);
    EXPECT_EQ(Run.Documents().size(), size_t(Paths.size()));
    try {
        if (Run.Protect() != TReportRun::reComplete) {
            ADD_FAILURE() << "the protection stopped";
            return false;
        }
    } catch (const std::exception& Error) {
        ADD_FAILURE() << Error.what();
        return false;
    }
    const TReportRun::TSendResult Sent = Run.Send();
    EXPECT_TRUE(Sent.Completed) << Sent.Error.toStdString();
    EXPECT_EQ(Sent.Sent, Paths.size());
    return Sent.Completed && Sent.Sent == Paths.size();
}

bool MailReports(const QString& AgencyUser, const QList<QPair<QString, QByteArray>>& Files)
{
    QTemporaryDir Folder;
    QStringList Paths;
    for (const auto& [Name, Content] : Files) {
        QFile File(Folder.filePath(Name));
        if (!File.open(QIODevice::WriteOnly) || File.write(Content) != Content.size())
            return false;
        Paths << File.fileName();
    }
    const IMailSendPtr Sender = CreateMailSend();
    Sender->SetHost(QStringLiteral("127.0.0.1"));
    Sender->SetPort(QString::number(AgencyMailServers().SmtpPort()));
    Sender->SetUserLogin(EnterpriseUser);
    Sender->SetPassword(MailPassword);
    Sender->Send(Address(AgencyUser), Address(EnterpriseUser), QString(), Paths, QString());
    EXPECT_EQ(Sender->GetErrorCode(), 0) << Sender->GetSession().toStdString();
    return Sender->GetErrorCode() == 0;
}

QByteArray RawMail(const QString& From, const QList<QPair<QString, QByteArray>>& Files)
{
    QByteArray Mail = "From: " + From.toUtf8() + "\r\nTo: " + Address(EnterpriseUser).toUtf8() +
                      "\r\nSubject: receipts\r\nDate: Tue, 7 May 2013 10:15:30 +0300\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n--b0\r\n"
                      "Content-Type: text/plain\r\n\r\nreceipts\r\n";
    for (const auto& [Name, Content] : Files)
        Mail += "--b0\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
                "Content-Disposition: attachment; filename=\"" +
                Name.toUtf8() + "\"\r\n\r\n" + Content.toBase64() + "\r\n";
    return Mail + "--b0--\r\n";
}

TToolResult RunGateway(const QString& Work, const QString& Schemas)
{
    QStringList Arguments{
        QStringLiteral("--pop3"),         QStringLiteral("127.0.0.1:%1").arg(AgencyMailServers().Pop3Port()),
        QStringLiteral("--smtp"),         QStringLiteral("127.0.0.1:%1").arg(AgencyMailServers().SmtpPort()),
        QStringLiteral("--password"),     MailPassword,
        QStringLiteral("--address"),      Address(QStringLiteral("vey")),
        QStringLiteral("--keys"),         TestPki().Agencies,
        QStringLiteral("--key-password"), QString::fromUtf8(TestPki().Password),
        QStringLiteral("--work"),         Work,
        QStringLiteral("--file-store"),   TestPki().Store,
        QStringLiteral("--once")};
    for (const QString& User : AgencyUsers)
        Arguments << QStringLiteral("--user") << User;
    if (!Schemas.isEmpty())
        Arguments << QStringLiteral("--schemas") << Schemas;
    return RunTool(QStringLiteral(KELVORA_GATEWAY_TOOL), Arguments, 120000);
}

void DoubleClick(QWidget* Widget, const QPoint& At)
{
    QTest::mouseClick(Widget, Qt::LeftButton, {}, At);
    QTest::mouseDClick(Widget, Qt::LeftButton, {}, At);
    QTest::mouseRelease(Widget, Qt::LeftButton, {}, At);
}

void OnModal(const std::function<void(QWidget*)>& Action) { AnswerModal(Action); }

QStringList PdfText(const QString& FileName)
{
    const TToolResult Result =
        RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), FileName, QStringLiteral("-")});
    if (Result.Code != 0)
        return {};
    QStringList Lines;
    for (const QString& Line : Result.Output.split(u'\n'))
        if (!Line.trimmed().isEmpty())
            Lines << Line.trimmed();
    return Lines;
}

} // namespace kelvora::test
