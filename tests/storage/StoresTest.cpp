#include "DatabaseDirect.h"
#include "PgTestServer.h"
#include "TestRoot.h"

#include "uCorePath.h"
#include "uDataVerify.h"
#include "uDateTime.h"
#include "uEmailAccount.h"
#include "uException.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uSentReport.h"
#include "uTicket.h"

#include <functional>
#include <gmock/gmock.h>

namespace kelvora::test {
namespace {

using ::testing::ElementsAre;

// Every store on the default file and on a server.
class StoresTest : public FreshRoot, public ::testing::WithParamInterface<TBackend> {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        UseBackend(GetParam(), Root());
    }
    DatabaseDirect Direct() const { return DatabaseDirect(GetDatabasePath()); }

    static TProfile Profile(const QString& Name, int32_t DefaultAccountId = 0)
    {
        return {.Name = Name,
                .Code = QStringLiteral("01234567"),
                .SignType = stSignThree,
                .SignAfterAction = asSendWiaEmail,
                .SignSeparate = true,
                .CatalogOutPfu = QStringLiteral("C:\\Звіти\\PFU"),
                .CatalogOutVey = QStringLiteral("C:\\Звіти\\VEY"),
                .CatalogOutDks = QStringLiteral("C:\\Звіти\\DKS"),
                .DefaultAccountId = DefaultAccountId};
    }
    static TEmailAccount Account(const QString& Email)
    {
        return {.Email = Email,
                .POPHost = QStringLiteral("pop.example.ua"),
                .POPPort = QStringLiteral("995"),
                .POPSecure = SECURE_SSLTLS,
                .POPUser = QStringLiteral("бухгалтер"),
                .POPPassword = QStringLiteral("p'ss;\"word--"),
                .SMTPHost = QStringLiteral("smtp.example.ua"),
                .SMTPPort = QStringLiteral("587"),
                .SMTPSecure = SECURE_STARTTLS,
                .SMTPUser = QStringLiteral("smtp-user"),
                .SMTPPassword = QStringLiteral("Пароль 1")};
    }
    static TTicket Ticket(int32_t ProfileId, const QString& FileName)
    {
        return {.ProfileId = ProfileId,
                .FileName = FileName,
                .Agency = daVEY,
                .Received = EncodeDate(2013, 3, 2) + EncodeTime(9, 5, 3, 7),
                .Data = QStringLiteral("Квитанція №1 про отримання звіту ").repeated(100)};
    }
    static QStringList Names(const TTickets& Tickets)
    {
        QStringList Result;
        for (const TTicket& T : Tickets)
            Result << T.FileName;
        return Result;
    }
};

// ---------------------------------------------------------------- profiles

TEST_P(StoresTest, ProfilesRoundTripAndListByNameDescending)
{
    TProfiles Listed{Profile(QStringLiteral("stale"))};
    EXPECT_FALSE(GetProfiles(Listed));
    EXPECT_TRUE(Listed.empty());

    TProfile B = Profile(QStringLiteral("Бета"));
    B.Id = 77; // a record that looks stored still gets a new row
    ASSERT_TRUE(AddProfile(B));
    EXPECT_EQ(B.Id, 1);
    TProfile A = Profile(QStringLiteral("Альфа"));
    A.SignType = stSignOne;
    A.SignAfterAction = asSaveToFile; // differs from SignSeparate, so a swap of the two shows
    ASSERT_TRUE(AddProfile(A));
    TProfile G = Profile(QStringLiteral("Гамма"));
    ASSERT_TRUE(AddProfile(G));

    TProfile Read;
    ASSERT_TRUE(GetProfile(A.Id, Read));
    EXPECT_EQ(Read, A);
    TProfile Untouched = Profile(QStringLiteral("x"));
    EXPECT_FALSE(GetProfile(99, Untouched));
    EXPECT_EQ(Untouched, Profile(QStringLiteral("x")));

    ASSERT_TRUE(GetProfiles(Listed));
    ASSERT_EQ(Listed.size(), 3u);
    EXPECT_EQ(Listed[0], G);
    EXPECT_EQ(Listed[1], B);
    EXPECT_EQ(Listed[2], A);

    // By the bytes of the names, as SQLite orders them, whatever a server's
    // locale would say about case or alphabet.
    for (const char* Name : {"Zeta", "alpha", "Ґрунт"}) {
        TProfile More = Profile(QString::fromUtf8(Name));
        AddProfile(More);
    }
    GetProfiles(Listed);
    QStringList Order;
    for (const TProfile& P : Listed)
        Order << P.Name;
    EXPECT_THAT(Order, ElementsAre("Ґрунт", "Гамма", "Бета", "Альфа", "alpha", "Zeta"));
}

TEST_P(StoresTest, UpdateWritesTheGivenRowAndOnlyAnExistingDefaultAccount)
{
    TEmailAccount Mail = Account(QStringLiteral("a@example.ua"));
    ASSERT_TRUE(AddEmailAccount(Mail));
    TProfile First = Profile(QStringLiteral("Перший"), Mail.Id);
    ASSERT_TRUE(AddProfile(First));
    TProfile Second = Profile(QStringLiteral("Другий"));
    ASSERT_TRUE(AddProfile(Second));

    // The row is chosen by the Id argument, not by the record's own Id.
    TProfile Changed = Profile(QStringLiteral("Змінений"), Mail.Id);
    Changed.Id = First.Id;
    ASSERT_TRUE(UpdateProfile(Second.Id, Changed));
    EXPECT_THAT(Direct().Column(QStringLiteral("select NAME || ':' || DEFAULT_ACCOUNT from PROFILE order by ID")),
                ElementsAre("Перший:1", "Змінений:1"));
    TEmailAccount Default;
    ASSERT_TRUE(GetDefaultAccount(Second.Id, Default));
    EXPECT_EQ(Default, Mail);

    // An account that is gone is never written as the default.
    ASSERT_TRUE(DeleteEmailAccount(Mail.Id));
    ASSERT_TRUE(UpdateProfile(First.Id, First));
    EXPECT_EQ(Direct().Scalar(
                  QStringLiteral("select coalesce(cast(DEFAULT_ACCOUNT as text), 'null') from PROFILE where ID=1")),
              "null");
    EXPECT_FALSE(GetDefaultAccount(First.Id, Default));
    EXPECT_FALSE(GetDefaultAccount(99, Default));
}

TEST_P(StoresTest, SavingAProfileAnotherClientDeletedIsRefused)
{
    TProfile Edited = Profile(QStringLiteral("Спільний"));
    ASSERT_TRUE(AddProfile(Edited));
    ASSERT_TRUE(DeleteProfile(Edited.Id)); // by another accountant meanwhile
    Edited.Name = QStringLiteral("Змінений");
    try {
        UpdateProfile(Edited.Id, Edited);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Профіль не знайдено.");
    }
    EXPECT_EQ(Direct().Scalar(QStringLiteral("select count(*) from PROFILE")), "0");
}

TEST_P(StoresTest, DeletingAProfileTakesItsReceiptsButNotAccountsOrOthers)
{
    TEmailAccount Mail = Account(QStringLiteral("a@example.ua"));
    AddEmailAccount(Mail);
    TProfile Gone = Profile(QStringLiteral("Gone"), Mail.Id);
    TProfile Kept = Profile(QStringLiteral("Kept"), Mail.Id);
    AddProfile(Gone);
    AddProfile(Kept);
    TTicket T1 = Ticket(Gone.Id, QStringLiteral("gone1")), T2 = Ticket(Kept.Id, QStringLiteral("kept1")),
            T3 = Ticket(Gone.Id, QStringLiteral("gone2"));
    AddTicket(T1);
    AddTicket(T2);
    AddTicket(T3);

    ASSERT_TRUE(DeleteProfile(Gone.Id));
    TProfile Read;
    EXPECT_FALSE(GetProfile(Gone.Id, Read));
    EXPECT_TRUE(GetProfile(Kept.Id, Read));
    EXPECT_THAT(Direct().Column(QStringLiteral("select FILE_NAME from TICKET")), ElementsAre("kept1"));
    TEmailAccounts Accounts;
    EXPECT_TRUE(GetEmailAccounts(Accounts));
}

TEST_P(StoresTest, ProfileToStringNamesEnumerationsAndKeepsTextVerbatim)
{
    TProfile P = Profile(QStringLiteral("ФОП %1 \"Коваль\""));
    P.Id = 12;
    P.SignType = stSignTwo;
    P.SignAfterAction = asSendWiaEmail;
    P.SignSeparate = false;
    EXPECT_EQ(ProfileToString(P),
              "[Id=12; Name=ФОП %1 \"Коваль\"; Code=01234567; SignType=2_sign; AfterSign=SendEmail; "
              "SeparateSign=False; CatalogOutPFU=C:\\Звіти\\PFU; CatalogOutVEY=C:\\Звіти\\VEY; "
              "CatalogOutDKS=C:\\Звіти\\DKS]");
    P.SignType = static_cast<TSignType>(7);
    P.SignAfterAction = static_cast<TAfterSignAction>(-1);
    P.SignSeparate = true;
    EXPECT_THAT(ProfileToString(P).toStdString(), ::testing::HasSubstr("; SignType=; AfterSign=; SeparateSign=True;"));
}

// ---------------------------------------------------------------- mail accounts

TEST_P(StoresTest, AccountsRoundTripInTableOrderWithPlainTextPasswords)
{
    TEmailAccounts Accounts{Account(QStringLiteral("stale"))};
    EXPECT_FALSE(GetEmailAccounts(Accounts));
    EXPECT_TRUE(Accounts.empty());

    TEmailAccount Z = Account(QStringLiteral("z@example.ua")), A = Account(QStringLiteral("a@example.ua"));
    A.POPSecure = SECURE_NONE;
    ASSERT_TRUE(AddEmailAccount(Z));
    ASSERT_TRUE(AddEmailAccount(A));
    EXPECT_EQ(A.Id, 2);

    ASSERT_TRUE(GetEmailAccounts(Accounts));
    ASSERT_EQ(Accounts.size(), 2u);
    EXPECT_EQ(Accounts[0], Z);
    EXPECT_EQ(Accounts[1], A);
    // Other installations read the passwords back as typed.
    EXPECT_THAT(Direct().Column(QStringLiteral("select POP_PASSWORD || '|' || SMTP_PASSWORD from EMAIL_ACCOUNT")),
                ElementsAre("p'ss;\"word--|Пароль 1", "p'ss;\"word--|Пароль 1"));

    Z.SMTPHost = QStringLiteral("smtp.other.ua");
    Z.SMTPSecure = SECURE_NONE;
    ASSERT_TRUE(UpdateEmailAccount(Z));
    GetEmailAccounts(Accounts);
    EXPECT_EQ(Accounts[0], Z);
    EXPECT_EQ(Accounts[1], A);
}

TEST_P(StoresTest, DeletingAnAccountClearsItAsDefaultInEveryProfile)
{
    TEmailAccount Gone = Account(QStringLiteral("gone@example.ua")), Kept = Account(QStringLiteral("kept@example.ua"));
    AddEmailAccount(Gone);
    AddEmailAccount(Kept);
    TProfile P1 = Profile(QStringLiteral("1"), Gone.Id), P2 = Profile(QStringLiteral("2"), Gone.Id),
             P3 = Profile(QStringLiteral("3"), Kept.Id);
    AddProfile(P1);
    AddProfile(P2);
    AddProfile(P3);

    ASSERT_TRUE(DeleteEmailAccount(Gone.Id));
    EXPECT_THAT(Direct().Column(QStringLiteral("select DEFAULT_ACCOUNT from PROFILE order by ID")),
                ElementsAre("<null>", "<null>", QString::number(Kept.Id)));
    TEmailAccount Default;
    EXPECT_FALSE(GetDefaultAccount(P1.Id, Default));
    TProfile Read;
    GetProfile(P2.Id, Read);
    EXPECT_EQ(Read.DefaultAccountId, 0);
    ASSERT_TRUE(GetDefaultAccount(P3.Id, Default));
    EXPECT_EQ(Default.Email, "kept@example.ua");
}

// ---------------------------------------------------------------- transactions

TEST_P(StoresTest, AFailureHalfWayThroughAnOperationLeavesTheDatabaseAsItWas)
{
    // Each operation's later statement is made to fail by a trigger, as a
    // full disk or a lost network folder would.
    struct TCase {
        const char* Trigger;
        std::function<void(int32_t Profile, int32_t Mail)> Action;
    };
    const TCase Cases[] = {
        {"before update on PROFILE",
         [](int32_t, int32_t) {
             TProfile New = Profile(QStringLiteral("Новий"));
             AddProfile(New);
         }},
        {"before update on EMAIL_ACCOUNT",
         [](int32_t, int32_t) {
             TEmailAccount New = Account(QStringLiteral("new@example.ua"));
             AddEmailAccount(New);
         }},
        {"before delete on TICKET", [](int32_t Profile, int32_t) { DeleteProfile(Profile); }},
        {"before update on PROFILE", [](int32_t, int32_t Mail) { DeleteEmailAccount(Mail); }},
    };
    const auto Snapshot = [this] {
        return Direct().Column(QStringLiteral("select ID || NAME || coalesce(cast(DEFAULT_ACCOUNT as text), '-') "
                                              "from PROFILE order by ID")) +
               Direct().Column(QStringLiteral("select ID || USER_EMAIL from EMAIL_ACCOUNT order by ID")) +
               Direct().Column(QStringLiteral("select ID_PROFILE from TICKET order by ID"));
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Trigger);
        Direct().Exec(QStringLiteral("drop table if exists PROFILE; drop table if exists EMAIL_ACCOUNT; "
                                     "drop table if exists TICKET"));
        TEmailAccount Mail = Account(QStringLiteral("a@example.ua"));
        ASSERT_TRUE(AddEmailAccount(Mail));
        TProfile Owner = Profile(QStringLiteral("Власник"), Mail.Id);
        ASSERT_TRUE(AddProfile(Owner));
        TTicket Receipt = Ticket(Owner.Id, QStringLiteral("r.xml"));
        ASSERT_TRUE(AddTicket(Receipt));
        const QStringList Before = Snapshot();
        Direct().AddFailingTrigger(QString::fromLatin1(Case.Trigger));
        EXPECT_THROW(Case.Action(Owner.Id, Mail.Id), Exception);
        Direct().DropFailingTrigger(QString::fromLatin1(Case.Trigger));
        EXPECT_EQ(Snapshot(), Before);
    }
}

// ---------------------------------------------------------------- receipts

TEST_P(StoresTest, ReceiptsRoundTripPerProfileInTableOrder)
{
    TTicket First = Ticket(1, QStringLiteral("b.xml")), Other = Ticket(2, QStringLiteral("other.xml")),
            Second = Ticket(1, QStringLiteral("a.xml"));
    Second.Agency = daDKS;
    Second.Received = 0.5;
    ASSERT_TRUE(AddTicket(First));
    ASSERT_TRUE(AddTicket(Other));
    ASSERT_TRUE(AddTicket(Second));
    EXPECT_EQ(Second.Id, 3);

    TTickets Tickets{Ticket(9, QStringLiteral("already there"))};
    ASSERT_TRUE(GetTickets(1, Tickets)); // appends
    EXPECT_THAT(Names(Tickets), ElementsAre("already there", "b.xml", "a.xml"));
    const TTicket& Read = Tickets[1];
    EXPECT_EQ(Read.Id, First.Id);
    EXPECT_EQ(Read.ProfileId, 1);
    EXPECT_EQ(Read.Agency, daVEY);
    EXPECT_EQ(Read.Received, First.Received); // exact, not rounded
    EXPECT_EQ(Read.Data, First.Data);
    EXPECT_EQ(Tickets[2].Agency, daDKS);

    ASSERT_TRUE(DeleteTicket(First.Id));
    TTickets After;
    ASSERT_TRUE(GetTickets(1, After));
    EXPECT_THAT(Names(After), ElementsAre("a.xml"));
    TTickets None;
    EXPECT_FALSE(GetTickets(3, None));
    EXPECT_TRUE(None.empty());

    ClearTicket(First);
    EXPECT_EQ(First, TTicket());
}

TEST_P(StoresTest, ReceiptWithoutProfileIsRefusedAndNothingIsWritten)
{
    TTicket Stored = Ticket(1, QStringLiteral("stored.xml"));
    AddTicket(Stored);
    TTicket Orphan = Ticket(0, QStringLiteral("orphan.xml"));
    try {
        AddTicket(Orphan);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Профіль не знайдено.");
    }
    EXPECT_EQ(Orphan.Id, 0);
    EXPECT_THAT(Direct().Column(QStringLiteral("select FILE_NAME from TICKET")), ElementsAre("stored.xml"));
}

TEST_P(StoresTest, RevisionTwoKeepsWhatWasSentAndWhichReceiptFilesWereKept)
{
    // A revision-1 file with a receipt kept before hashes were recorded.
    TTicket Old = Ticket(1, QStringLiteral("old.xml"));
    AddTicket(Old);
    WriteFile(QStringLiteral("config/params.xml"), "<params><param name=\"software_revision\">2</param></params>");
    ReleaseProcessObjects(); // the configuration is read when it is made
    VerifyDatabase();
    EXPECT_EQ(Direct().Scalar(QStringLiteral("select VALUE from SETTINGS")), "2");

    TTicket New = Ticket(1, QStringLiteral("new.xml"));
    New.ContentHash = ContentHash("received bytes");
    AddTicket(New);
    TTickets Read;
    GetTickets(1, Read);
    ASSERT_EQ(Read.size(), 2u);
    EXPECT_EQ(Read[0].ContentHash, QString());
    EXPECT_EQ(Read[1], New);
    EXPECT_EQ(FindKeptTicket(1, QStringLiteral("new.xml"), New.ContentHash), New.Id);
    EXPECT_EQ(FindKeptTicket(2, QStringLiteral("new.xml"), New.ContentHash), 0);     // another profile's
    EXPECT_EQ(FindKeptTicket(1, QStringLiteral("renamed.xml"), New.ContentHash), 0); // another name
    EXPECT_EQ(FindKeptTicket(1, QStringLiteral("old.xml"), ContentHash("x"), Old.Data), Old.Id);
    EXPECT_EQ(FindKeptTicket(1, QStringLiteral("old.xml"), ContentHash("x"), QStringLiteral("other")), 0);

    TProfile Owner = Profile(QStringLiteral("Відправник"));
    AddProfile(Owner);
    const auto Sent = [&](const QString& Name, const QByteArray& Content, const QString& MessageId) {
        TSentReport Report{.ProfileId = Owner.Id,
                           .Agency = daVEY,
                           .FileName = Name,
                           .ReportHash = ContentHash(Content),
                           .ProtectedName = Name + QStringLiteral(".p7s"),
                           .Sent = EncodeDate(2026, 12, 1),
                           .MessageId = MessageId};
        EXPECT_TRUE(AddSentReport(Report));
        return Report;
    };
    Sent(QStringLiteral("a.xml"), "report", QStringLiteral("<1@k>"));
    const TSentReport Again = Sent(QStringLiteral("a copy.xml"), "report", QStringLiteral("<2@k>"));
    TSentReport Found;
    ASSERT_TRUE(FindSentReport(Owner.Id, ContentHash("report"), Found));
    EXPECT_EQ(Found, Again); // the latest sending
    EXPECT_FALSE(FindSentReport(Owner.Id, ContentHash("other"), Found));
    TSentReport Orphan{.FileName = QStringLiteral("x.xml")};
    EXPECT_THROW(AddSentReport(Orphan), Exception);

    // The reports of one mail are stored together: all with their ids, or
    // none when one of them cannot be.
    TSentReports Mail = {Again, Again};
    Mail[1].FileName = QStringLiteral("b.xml");
    AddSentReports(Mail);
    EXPECT_GT(Mail[0].Id, Again.Id);
    EXPECT_EQ(Mail[1].Id, Mail[0].Id + 1);
    TSentReports Broken = {Again, Orphan};
    EXPECT_THROW(AddSentReports(Broken), Exception);
    TSentReports Stored;
    ASSERT_TRUE(GetSentReports(Owner.Id, Stored));
    EXPECT_EQ(Stored.size(), 4u);
    EXPECT_EQ(Stored.back(), Mail[1]);

    // A deleted profile's record does not pass to a profile that gets its id.
    DeleteProfile(Owner.Id);
    TSentReports Left;
    EXPECT_FALSE(GetSentReports(Owner.Id, Left));
}

INSTANTIATE_TEST_SUITE_P(Backends, StoresTest, ::testing::Values(TBackend::File, TBackend::Server), BackendName);

} // namespace
} // namespace kelvora::test
