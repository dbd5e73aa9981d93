// The receipt page's files without windows: stored names, unique names,
// working folders, receipts from mail and from the user's picks.

#include "ScratchMount.h"
#include "TestRoot.h"
#include "WorkflowSupport.h"
#include "uCorePath.h"
#include "uDataVerify.h"
#include "uException.h"
#include "uFactories.h"
#include "uTicketFiles.h"
#include "uTicketOpening.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace kelvora;
using namespace kelvora::test;

namespace {

QByteArray WithHeader(const QByteArray& Text, const QByteArray& Payload = "payload")
{
    QByteArray Result("TRANSPORTABLE", 13);
    Result += '\0';
    const quint32 Length = quint32(Text.size());
    for (int Shift = 0; Shift < 32; Shift += 8)
        Result += char((Length >> Shift) & 0xFF);
    return Result + Text + Payload;
}

IStreamPtr StreamOf(const QByteArray& Bytes)
{
    const IStreamPtr Stream = CreateStream();
    Stream->Write(Bytes.constData(), int32_t(Bytes.size()));
    return Stream;
}

class TicketFiles : public FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        WriteAgencyParams(Root());
        VerifyDatabase();
    }
    QString Folder() const { return GetDataFolder() + QStringLiteral("tickets/12345678/"); }
    QStringList Stored() const { return QDir(Folder()).entryList(QDir::Files, QDir::Name); }
    QString LogText(const QString& Category) const
    {
        return QString::fromUtf8(ReadFile(GetDebugFolder() + Category + QStringLiteral(".log")));
    }
};

TEST_F(TicketFiles, StoredNameFollowsTheReceiptNumber)
{
    const QString Name = VeyName(QStringLiteral("J1499102"));
    const QString Base = Name.chopped(4);
    const struct {
        QByteArray Content;
        QString Stored;
    } Cases[] = {
        {WithHeader("KVTNUM=2\r\nSND_DATE=20261110120000\r\n"), Base + QStringLiteral("-1.xml")},
        {WithHeader("kvtnum= 1\r\n"), Base + QStringLiteral("-0.xml")},
        {WithHeader("KVTNUM=0\r\n"), Name},
        {WithHeader("KVTNUM=x\r\n"), Name},
        {"plain receipt", Name},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(TicketStoredName(QStringLiteral("/in/") + Name, StreamOf(Case.Content)), Case.Stored);
}

TEST_F(TicketFiles, SameNamesBecomeNumberedTheSameReceiptIsKeptOnceAndNineDigitCodesGetAZero)
{
    const QString Name = VeyName(QStringLiteral("J1499102"));
    for (const char* Content : {"receipt", "another", "third", "receipt"})
        EXPECT_FALSE(AddTicketFile(Name, StreamOf(Content)).isEmpty());
    // The fourth is the first delivered again: kept once.
    EXPECT_EQ(Stored(), (QStringList{Name.chopped(4) + QStringLiteral("(1).xml"),
                                     Name.chopped(4) + QStringLiteral("(2).xml"), Name}));
    EXPECT_EQ(AddTicketFile(Name, StreamOf("receipt")), Folder() + Name);
    EXPECT_TRUE(
        LogText(QStringLiteral("receive_tickets")).contains(QStringLiteral("] файл додано: ") + Folder() + Name));
    EXPECT_TRUE(AddTicketFile(QStringLiteral("ABC.XML"), StreamOf("x")).isEmpty());

    EXPECT_EQ(GetTicketsFolder(QStringLiteral("123456789")), GetDataFolder() + QStringLiteral("tickets/0123456789/"));
    EXPECT_TRUE(QDir(GetDataFolder() + QStringLiteral("tickets/0123456789")).exists());
    const QString Nine = VeyName(QStringLiteral("J1499102"), QStringLiteral("0123456789"));
    EXPECT_EQ(AddTicketFile(Nine, StreamOf("x")), GetDataFolder() + QStringLiteral("tickets/0123456789/") + Nine);
}

// A mail leaves the server only when every attachment it carried was kept.
TEST_F(TicketFiles, MailIsDeletedOnlyWhenEveryAttachmentWasStored)
{
    const QString Mask = QStringLiteral("*12345678*;*0123456789*;");
    const QString Ours = VeyName(QStringLiteral("J1499102"));
    const QString Stranger = VeyName(QStringLiteral("J1499102"), QStringLiteral("87654321"));
    const QString BadName = QStringLiteral("12345678-receipt.txt");
    const struct {
        QStringList Names;
        bool Delete;
        int Stored;
    } Cases[] = {
        {{Ours, Stranger}, false, 1},
        {{Stranger, Ours}, false, 1},
        {{BadName, Ours}, false, 1},
        {{Ours, Ours}, true, 2},
        {{}, false, 0},
    };
    for (const auto& Case : Cases) {
        QDir(Folder()).removeRecursively();
        QList<QPair<QString, QByteArray>> Files;
        for (const QString& Name : Case.Names)
            Files.append({Name, QByteArray("receipt ") + QByteArray::number(Files.size()) + " of " + Name.toUtf8()});
        QByteArray Raw = RawMail(QStringLiteral("vey@example.test"), Files);
        QBuffer Buffer(&Raw);
        Buffer.open(QIODevice::ReadOnly);
        int Refreshed = 0;
        EXPECT_EQ(StoreTicketAttachments(CreateMailMessage(Buffer), Mask, [&] { ++Refreshed; }), Case.Delete)
            << Case.Names.join(u' ').toStdString();
        EXPECT_EQ(Stored().size(), Case.Stored);
        EXPECT_EQ(Refreshed, Case.Stored);
    }
    const QString Log = LogText(QStringLiteral("receive_tickets"));
    EXPECT_TRUE(Log.contains(
        QStringLiteral("квитанцію не збережено %1, для неї відсутній профіль підприємства: %2").arg(Stranger, Mask)));
    EXPECT_TRUE(Log.contains(QStringLiteral("квитанцію не збережено, ім'я не відповідає стандарту: ") + BadName));
    EXPECT_TRUE(Log.contains(QStringLiteral("квитанцію успішно отримано і видалено на сервері: ") + Ours));
}

TEST_F(TicketFiles, PickedFilesAreCheckedBeforeTheyAreAdded)
{
    const QString Good = WriteFile(QStringLiteral("in/") + VeyName(QStringLiteral("J1499102")), "receipt");
    const QString Nine =
        WriteFile(QStringLiteral("in/") + VeyName(QStringLiteral("J1499102"), QStringLiteral("0123456789")), "receipt");
    const QString Other =
        WriteFile(QStringLiteral("in/") + VeyName(QStringLiteral("J1499102"), QStringLiteral("87654321")), "r");
    const QString Empty = WriteFile(QStringLiteral("in/") + DksName(), QByteArray());
    const QString Bad = WriteFile(QStringLiteral("in/notes.xml"), "x");
    const QStringList Ignored = AddTicketFiles({Good, Other, Empty, Bad}, QStringLiteral("12345678"));
    EXPECT_EQ(Ignored, (QStringList{ExtractFileName(Other) + QStringLiteral(" (некоректний код ЄДРПО)"),
                                    ExtractFileName(Empty) + QStringLiteral(" (файл порожній)"),
                                    QStringLiteral("notes.xml (назва не відповідає стандарту)")}));
    EXPECT_EQ(Stored(), QStringList{ExtractFileName(Good)});
    EXPECT_EQ(IgnoredFilesWarning({QStringLiteral("a (x)"), QStringLiteral("b (y)")}),
              QStringLiteral("Ці файли були проігноровані:\r\n\r\na (x)\r\nb (y)"));
    // An enterprise of nine digits is known by its padded code in the names.
    EXPECT_TRUE(AddTicketFiles({Nine}, QStringLiteral("123456789")).isEmpty());
    const QString Log = LogText(QStringLiteral("send_reports"));
    EXPECT_TRUE(
        Log.contains(QStringLiteral("код ЄДРПО в імені файлу (87654321) не відповідає коду профілю (12345678)")));
    EXPECT_TRUE(Log.contains(QStringLiteral("файл порожній: ") + Empty));
    EXPECT_TRUE(Log.contains(QStringLiteral("некоректне ім'я файлу при додаванні: ") + Bad));
    EXPECT_THROW(AddTicketFile(Root() + VeyName(QStringLiteral("J1499102"))), Exception);
}

// Opened receipts kept after a failure leave the list, so that a second
// "Завершити" stores nothing twice.
TEST_F(TicketFiles, SavingStopsAtAFailureAndTheSecondTryStoresNothingTwice)
{
    const QString Blocker = WriteFile(QStringLiteral("blocker"), "a file where a folder should be");
    TProfile Profile =
        StoreProfile(QStringLiteral("12345678"), stSignTwo, Root() + QStringLiteral("out"), asSaveToFile, false);
    const QString DksFolder = Profile.CatalogOutDks;
    Profile.CatalogOutDks = Blocker + QStringLiteral("/DKS/");
    GetConfiguration()->WriteSetting(QStringLiteral("brix_folder"), Root() + QStringLiteral("brix"));
    QDir().mkpath(Root() + QStringLiteral("brix"));
    const QString Companion = VeyName(QStringLiteral("J1499102"));
    const QString Dks = DksName().chopped(4) + QStringLiteral(".RPL");
    TTicketDocuments Documents;
    for (const auto& [Name, Content] : std::vector<std::pair<QString, QByteArray>>{
             {Companion, QByteArray("receipt", 8)}, {Dks, "dks receipt"}, {VeyName(QStringLiteral("J0100114")), "r"}}) {
        Documents.push_back(CreateDocument(AddTicketFile(Name, StreamOf(Content))));
        Documents.back()->SetStatus(dsOpened);
        Documents.back()->GetAttributes()->SetValue(QStringLiteral("SND_DATE"), QStringLiteral("20261115093000"));
    }
    FinishOpenedTickets(Documents, nullptr);
    EXPECT_EQ(Documents[0]->GetStream()->GetSize(), 7); // the trailing zero byte is cut

    QString Error;
    EXPECT_FALSE(SaveOpenedTickets(Profile, Documents, Error));
    EXPECT_EQ(Error, QStringLiteral("Неможливо створити каталог для збережених квитанцій: ") + Profile.CatalogOutDks);
    EXPECT_EQ(Documents.size(), 2u);
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("brix/xml/") + Companion), QByteArray("receipt"));

    Profile.CatalogOutDks = DksFolder;
    EXPECT_TRUE(SaveOpenedTickets(Profile, Documents, Error)) << Error.toStdString();
    EXPECT_TRUE(Documents.empty());
    TTickets Tickets;
    GetTickets(Profile.Id, Tickets);
    ASSERT_EQ(Tickets.size(), 3u);
    EXPECT_EQ(QDateTimeFromDateTime(Tickets[0].Received), QDateTime(QDate(2026, 11, 15), QTime(9, 30)));
    EXPECT_EQ(QDir(DksFolder + QStringLiteral("2026-11")).entryList(QDir::Files),
              (QStringList{Dks, Dks.chopped(4) + QStringLiteral(".txt")}));
    EXPECT_TRUE(Stored().isEmpty());
}

// A receipt kept before, whether its working file could not be deleted or it
// was kept by an older program without a hash, is not stored or copied again.
TEST_F(TicketFiles, AReceiptKeptBeforeIsNotStoredOrCopiedAgain)
{
    const TProfile Profile =
        StoreProfile(QStringLiteral("12345678"), stSignTwo, Root() + QStringLiteral("out"), asSaveToFile, false);
    const QString Name = VeyName(QStringLiteral("J1499102"));
    const QString Legacy = VeyName(QStringLiteral("J0100114"));
    TTicket Old{0, Profile.Id, Legacy, daVEY, 0, QStringLiteral("legacy"), QString()};
    AddTicket(Old);
    const auto Open = [&] {
        TTicketDocuments Documents = ReadTicketDocuments(Folder());
        for (const IDocumentPtr& Document : Documents)
            Document->SetStatus(dsOpened);
        return Documents;
    };
    AddTicketFile(Name, StreamOf("receipt"));
    TTicketDocuments Documents = Open();
    QString Error;
    {
        TScratchMount Locked = TScratchMount::ReadOnly(Folder());
        if (!Locked.Mounted())
            GTEST_SKIP() << TScratchMount::SkipReason();
        EXPECT_FALSE(SaveOpenedTickets(Profile, Documents, Error));
    }
    EXPECT_EQ(Error, QStringLiteral("Не вдалося видалити файл: ") + Folder() + Name);
    EXPECT_TRUE(Documents.empty());

    AddTicketFile(Legacy, StreamOf("legacy"));
    Documents = Open();
    ASSERT_EQ(Documents.size(), 2u);
    EXPECT_TRUE(SaveOpenedTickets(Profile, Documents, Error)) << Error.toStdString();
    TTickets Tickets;
    GetTickets(Profile.Id, Tickets);
    EXPECT_EQ(Tickets.size(), 2u);
    EXPECT_EQ(QDir(Profile.CatalogOutVey + QStringLiteral("2026-11")).entryList(QDir::Files), QStringList{Name});
    EXPECT_TRUE(Stored().isEmpty());
}

TEST_F(TicketFiles, AReceivedFileThatCannotBeCopiedStopsTheSaving)
{
    const TProfile Profile =
        StoreProfile(QStringLiteral("12345678"), stSignTwo, Root() + QStringLiteral("out"), asSaveToFile, false);
    const QString Dks = DksName().chopped(4) + QStringLiteral(".RPL");
    TTicketDocuments Documents{CreateDocument(AddTicketFile(Dks, StreamOf("dks receipt")))};
    Documents[0]->SetStatus(dsOpened);
    const QString Out = Profile.CatalogOutDks + QStringLiteral("2026-11");
    QDir().mkpath(Out);
    TScratchMount Locked = TScratchMount::ReadOnly(Out);
    if (!Locked.Mounted())
        GTEST_SKIP() << TScratchMount::SkipReason();
    QString Error;
    EXPECT_FALSE(SaveOpenedTickets(Profile, Documents, Error));
    EXPECT_EQ(Error,
              QStringLiteral("Не вдається переписати файл \"%1/%2\" в каталог збережених квитанцій").arg(Out, Dks));
    EXPECT_EQ(Documents.size(), 1u);
    TTickets Tickets;
    EXPECT_FALSE(GetTickets(Profile.Id, Tickets));
}

} // namespace
