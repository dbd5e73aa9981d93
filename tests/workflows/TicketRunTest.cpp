// The receipt run without windows, driven as a program without windows does:
// mail from the loopback server, the key supplied to the crypto library from
// a file, the list model checked by Qt's model tester throughout.

#include "TestPki.h"
#include "TestRoot.h"
#include "WorkflowSupport.h"
#include "uCorePath.h"
#include "uDataVerify.h"
#include "uException.h"
#include "uFactories.h"
#include "uTicket.h"
#include "uTicketRun.h"

#include <QAbstractItemModelTester>
#include <QDirIterator>
#include <gtest/gtest.h>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class TicketRun : public FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        TestPki();
        ClearAgencyMailboxes();
        WriteAgencyParams(Root());
        VerifyDatabase();
        Profile = StoreProfile(QStringLiteral("12345678"), stSignTwo, Root() + QStringLiteral("out"));
    }
    // The gateway's receipts for one report, waiting in the enterprise's mailbox.
    QList<QByteArray> Answered(const QString& Name)
    {
        EXPECT_TRUE(MailReports(QStringLiteral("vey"), {{Name, ProtectReport(Name, SampleReport(),
                                                                             {QStringLiteral("12345678-director"),
                                                                              QStringLiteral("12345678-stamp")})}}));
        const TToolResult Gateway = RunGateway(Root() + QStringLiteral("gateway"));
        EXPECT_EQ(Gateway.Code, 0) << Gateway.Output.toStdString();
        return AgencyMailServers().Messages(EnterpriseUser);
    }
    static QStringList States(const TTicketRun& Run)
    {
        QStringList Result;
        for (const IDocumentPtr& Document : Run.Documents())
            Result << TicketStateText(Document);
        return Result;
    }
    int OutputFiles() const
    {
        int Count = 0;
        for (QDirIterator It(Profile.CatalogOutVey, QDir::Files, QDirIterator::Subdirectories); It.hasNext(); It.next())
            ++Count;
        return Count;
    }

    TProfile Profile;
};

TEST_F(TicketRun, ReceivesOpensWithTheRightKeyOnlyAndKeepsEachReceiptOnce)
{
    const QList<QByteArray> Mails = Answered(VeyName(QStringLiteral("J0100114")));
    ASSERT_EQ(Mails.size(), 3);
    TTicketRun Run(Profile.Id);
    TTicketListModel Model(Run);
    QAbstractItemModelTester Tester(&Model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    int Rereads = 0;
    QObject::connect(&Run, &TTicketRun::Reread, [&] { ++Rereads; });

    Run.Receive();
    EXPECT_EQ(Run.MailError(), QString());
    EXPECT_EQ(Run.Documents().size(), 3u);
    EXPECT_EQ(Model.rowCount(), 3);
    EXPECT_EQ(Rereads, 3); // after each mail
    EXPECT_TRUE(AgencyMailServers().Messages(EnterpriseUser).isEmpty());

    const QString Stamp = TestPki().KeyFile(QStringLiteral("12345678-stamp"));
    const QString Foreign = TestPki().KeyFile(QStringLiteral("1234567890-entrepreneur"));
    const QString ForeignQuestion =
        QStringLiteral("Код ЄДРПО профілю (12345678) не співпадає з кодом ключа (). Наполягаєте на використанні "
                       "ключа?");
    const struct {
        const char* What;
        QString Key;
        QByteArray Password;
        int UseForeign; // the answer to the question, -1: nobody to ask
        bool Opened;
        int Reads;     // the second read of a refused key is cancelled
        QString Told;  // the start of the first error told
        QString State; // of every document afterwards
    } Cases[] = {
        {"wrong password", Stamp, "wrong password", 0, false, 1, QStringLiteral("Помилка зчитування ключа: "),
         QStringLiteral("Не відкритий")},
        {"foreign key refused", Foreign, TestPki().Password, 0, false, 2, QString(), QStringLiteral("Не відкритий")},
        {"foreign key, nobody to ask", Foreign, TestPki().Password, -1, false, 1,
         QStringLiteral("Код ЄДРПО профілю (12345678) не співпадає з кодом ключа ()."), QStringLiteral("Не відкритий")},
        {"foreign key used", Foreign, TestPki().Password, 1, true, 1,
         QStringLiteral("Відбулись помилки при розшифровці 3 квитанцій."),
         QStringLiteral("Дані зашифровано не для зчитаного особистого ключа.")},
        {"right key", Stamp, TestPki().Password, 0, true, 1, QString(), QStringLiteral("Відкритий")},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.What);
        Run.Refresh(); // what a failed opening left behind is read again
        QStringList Told, Questions;
        int Reads = 0;
        TTicketRun::TOpenEvents Events;
        Events.ReadKey = [&](const QString& Caption, TCertOwnerInfo& Info) {
            EXPECT_EQ(Caption, QStringLiteral("Зчитати ключ цифрової печатки"));
            if (Reads++ == 0)
                SupplyKeyFile(Case.Key, Case.Password);
            else
                SupplyCancel();
            return GetCryptoManager()->ReadPrivateKeyInfo(Info, Caption);
        };
        if (Case.UseForeign >= 0)
            Events.UseForeignKey = [&](const QString& Question) {
                Questions << Question;
                return Case.UseForeign == 1;
            };
        Events.Error = [&](const QString& Text) { Told << Text; };
        EXPECT_EQ(Run.Open(Events), Case.Opened);
        EXPECT_EQ(Reads, Case.Reads);
        EXPECT_EQ(Questions,
                  Case.Key == Foreign && Case.UseForeign >= 0 ? QStringList{ForeignQuestion} : QStringList());
        EXPECT_EQ(Told.isEmpty(), Case.Told.isEmpty()) << Told.join(u'\n').toStdString();
        EXPECT_TRUE(Told.value(0).startsWith(Case.Told)) << Told.join(u'\n').toStdString();
        EXPECT_EQ(States(Run), QStringList(3, Case.State));
    }

    QString Error;
    ASSERT_TRUE(Run.Save(Error)) << Error.toStdString();
    EXPECT_TRUE(Run.Documents().empty());
    EXPECT_EQ(OutputFiles(), 3);

    // The session broke after DELE: the same mails come again and are only deleted.
    for (const QByteArray& Mail : Mails)
        AgencyMailServers().Deliver(EnterpriseUser, Mail);
    TTicketRun Again(Profile.Id);
    Again.Receive();
    EXPECT_TRUE(Again.Documents().empty());
    EXPECT_TRUE(AgencyMailServers().Messages(EnterpriseUser).isEmpty());
    EXPECT_EQ(OutputFiles(), 3);
    TTickets Tickets;
    GetTickets(Profile.Id, Tickets);
    EXPECT_EQ(Tickets.size(), 3u);
}

TEST_F(TicketRun, WithoutMailAccountOrProfileNothingIsContacted)
{
    const TProfile Bare =
        StoreProfile(QStringLiteral("12345679"), stSignOne, Root() + QStringLiteral("out"), asSendWiaEmail, false);
    TTicketRun Run(Bare.Id);
    EXPECT_FALSE(Run.PrepareReceive());
    try {
        Run.Receive();
        ADD_FAILURE() << "received without an account";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), NoMailAccountText);
    }
    EXPECT_EQ(Run.MailError(), QString());
    const QString Log = QString::fromUtf8(ReadFile(GetDebugFolder() + QStringLiteral("receive_tickets.log")));
    EXPECT_FALSE(Log.contains(QStringLiteral("мейл-акаунт:")));
    EXPECT_THROW(TTicketRun(Bare.Id + 100), Exception);
}

} // namespace
