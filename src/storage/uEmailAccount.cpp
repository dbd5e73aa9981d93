#include "uEmailAccount.h"

#include "uFactories.h"
#include "uQueryImpl.h"

namespace kelvora {

namespace {

TEmailAccount ReadAccount(const IQueryResultsPtr& Row)
{
    const auto Text = [&](const char* Column) { return Row->GetValue(QString::fromLatin1(Column)).ToString(); };
    const auto Secure = [&](const char* Column) {
        return static_cast<TSecureOptions>(Row->GetValue(QString::fromLatin1(Column)).ToInt());
    };
    TEmailAccount Account;
    Account.Id = Row->GetValue(QStringLiteral("ID")).ToInt();
    Account.Email = Text("USER_EMAIL");
    Account.POPHost = Text("POP_HOST");
    Account.POPPort = Text("POP_PORT");
    Account.POPSecure = Secure("POP_SECURE");
    Account.POPUser = Text("POP_USER");
    Account.POPPassword = Text("POP_PASSWORD");
    Account.SMTPHost = Text("SMTP_HOST");
    Account.SMTPPort = Text("SMTP_PORT");
    Account.SMTPSecure = Secure("SMTP_SECURE");
    Account.SMTPUser = Text("SMTP_USER");
    Account.SMTPPassword = Text("SMTP_PASSWORD");
    return Account;
}

bool UpdateEmailAccountWith(IQuery& Query, const TEmailAccount& Account)
{
    Query.Exec(
        QStringLiteral("update EMAIL_ACCOUNT set USER_EMAIL=?1, POP_HOST=?2, POP_PORT=?3, POP_SECURE=?4, "
                       "POP_USER=?5, POP_PASSWORD=?6, SMTP_HOST=?7, SMTP_PORT=?8, SMTP_SECURE=?9, SMTP_USER=?10, "
                       "SMTP_PASSWORD=?11 where ID=?12"),
        {Account.Email, Account.POPHost, Account.POPPort, int32_t(Account.POPSecure), Account.POPUser,
         Account.POPPassword, Account.SMTPHost, Account.SMTPPort, int32_t(Account.SMTPSecure), Account.SMTPUser,
         Account.SMTPPassword, Account.Id});
    return true;
}

} // namespace

// Adding and deleting run their statements in one transaction: a failure
// half-way leaves no account with an empty address and no profile pointing at
// a deleted account.

bool GetDefaultAccount(int32_t ProfileId, TEmailAccount& Account)
{
    const IQueryPtr Query = CreateQuery(QString());
    const IQueryResultsPtr Profile =
        Query->Select(QStringLiteral("select DEFAULT_ACCOUNT from PROFILE where ID=:1"), {ProfileId});
    if (!Profile)
        return false;
    const int32_t AccountId = Profile->GetValue(QStringLiteral("DEFAULT_ACCOUNT")).ToInt();
    if (AccountId == 0)
        return false;
    const IQueryResultsPtr Row = Query->Select(QStringLiteral("select * from EMAIL_ACCOUNT where ID=:1"), {AccountId});
    if (!Row)
        return false;
    Account = ReadAccount(Row);
    return true;
}

bool GetEmailAccounts(TEmailAccounts& Accounts)
{
    Accounts.clear();
    const IQueryResultsPtr Rows = CreateQuery(QString())->Select(QStringLiteral("select * from EMAIL_ACCOUNT"));
    return AppendRows(Rows, Accounts, ReadAccount);
}

bool AddEmailAccount(TEmailAccount& Account)
{
    TEmailAccount Stored = Account;
    bool Result = false;
    RunInTransaction(QString(), [&](IQuery& Query) {
        const IQueryResultsPtr Row =
            Query.Insert(QStringLiteral("insert into EMAIL_ACCOUNT(USER_EMAIL) values (:1)"), {QString()});
        Stored.Id = Row ? Row->GetValue(QStringLiteral("ID")).ToInt() : 0;
        if (Stored.Id != 0)
            Result = UpdateEmailAccountWith(Query, Stored);
    });
    if (Result)
        Account.Id = Stored.Id;
    return Result;
}

bool UpdateEmailAccount(const TEmailAccount& Account)
{
    return UpdateEmailAccountWith(*CreateQuery(QString()), Account);
}

bool DeleteEmailAccount(int32_t Id)
{
    RunInTransaction(QString(), [&](IQuery& Query) {
        Query.Exec(QStringLiteral("delete from EMAIL_ACCOUNT where ID=:1"), {Id});
        Query.Exec(QStringLiteral("update PROFILE set DEFAULT_ACCOUNT=NULL where DEFAULT_ACCOUNT=:1"), {Id});
    });
    return true;
}

} // namespace kelvora
