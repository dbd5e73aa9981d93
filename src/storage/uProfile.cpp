#include "uProfile.h"

#include "uException.h"
#include "uFactories.h"
#include "uQueryImpl.h"

namespace kelvora {

namespace {

TProfile ReadProfile(const IQueryResultsPtr& Row)
{
    TProfile Profile;
    Profile.Id = Row->GetValue(QStringLiteral("ID")).ToInt();
    Profile.Name = Row->GetValue(QStringLiteral("NAME")).ToString();
    Profile.Code = Row->GetValue(QStringLiteral("CODE")).ToString();
    Profile.SignType = static_cast<TSignType>(Row->GetValue(QStringLiteral("SIGN_TYPE")).ToInt());
    Profile.SignAfterAction = static_cast<TAfterSignAction>(Row->GetValue(QStringLiteral("SIGN_AFTER_ACTION")).ToInt());
    Profile.SignSeparate = Row->GetValue(QStringLiteral("SIGN_SEPARATE")).ToInt() != 0;
    Profile.CatalogOutPfu = Row->GetValue(QStringLiteral("CATALOG_OUT_PFU")).ToString();
    Profile.CatalogOutVey = Row->GetValue(QStringLiteral("CATALOG_OUT_VEY")).ToString();
    Profile.CatalogOutDks = Row->GetValue(QStringLiteral("CATALOG_OUT_DKS")).ToString();
    Profile.DefaultAccountId = Row->GetValue(QStringLiteral("DEFAULT_ACCOUNT")).ToInt();
    return Profile;
}

QString SignTypeText(TSignType Value)
{
    switch (Value) {
    case stSignOne:
        return QStringLiteral("1_sign");
    case stSignTwo:
        return QStringLiteral("2_sign");
    case stSignThree:
        return QStringLiteral("3_sign");
    }
    return QString();
}

QString AfterSignText(TAfterSignAction Value)
{
    switch (Value) {
    case asSaveToFile:
        return QStringLiteral("SaveToFile");
    case asSendWiaEmail:
        return QStringLiteral("SendEmail");
    }
    return QString();
}

bool UpdateProfileWith(IQuery& Query, int32_t Id, const TProfile& Profile)
{
    // Another client sharing the database may have deleted it meanwhile: the
    // edit must not be reported as saved.
    if (!Query.Select(QStringLiteral("select ID from PROFILE where id=:1"), {Id}))
        throw Exception(QStringLiteral("Профіль не знайдено."));
    Query.Exec(QStringLiteral("update PROFILE set NAME=:1, CODE=:2, SIGN_TYPE=:3, SIGN_AFTER_ACTION=:4, "
                              "SIGN_SEPARATE=:5, CATALOG_OUT_PFU=:6, CATALOG_OUT_VEY=:7, CATALOG_OUT_DKS=:8 "
                              "where id=:9"),
               {Profile.Name, Profile.Code, int32_t(Profile.SignType), int32_t(Profile.SignAfterAction),
                int32_t(Profile.SignSeparate ? 1 : 0), Profile.CatalogOutPfu, Profile.CatalogOutVey,
                Profile.CatalogOutDks, Id});
    // Only an account that exists may become the default one.
    const IQueryResultsPtr Account =
        Query.Select(QStringLiteral("select * from EMAIL_ACCOUNT where id=:1"), {Profile.DefaultAccountId});
    const int32_t AccountId = Account ? Profile.DefaultAccountId : 0;
    if (AccountId != 0)
        Query.Exec(QStringLiteral("update PROFILE set DEFAULT_ACCOUNT=:1 where id=:2"), {AccountId, Id});
    else
        Query.Exec(QStringLiteral("update PROFILE set DEFAULT_ACCOUNT=NULL where id=:1"), {Id});
    return true;
}

} // namespace

// The operations of several statements run in one transaction each: a
// failure half-way leaves the database as it was, never a nameless profile
// or receipts without their profile.

bool GetProfile(int32_t Id, TProfile& Profile)
{
    const IQueryResultsPtr Row =
        CreateQuery(QString())->Select(QStringLiteral("select * from PROFILE where id=:1"), {Id});
    if (!Row)
        return false;
    Profile = ReadProfile(Row);
    return true;
}

bool GetProfiles(TProfiles& Profiles)
{
    Profiles.clear();
    const IQueryResultsPtr Rows =
        CreateQuery(QString())->Select(QStringLiteral("select * from PROFILE order by NAME desc"));
    return AppendRows(Rows, Profiles, ReadProfile);
}

bool AddProfile(TProfile& Profile)
{
    TProfile Stored = Profile;
    bool Result = false;
    RunInTransaction(QString(), [&](IQuery& Query) {
        const IQueryResultsPtr Row = Query.Insert(QStringLiteral("insert into PROFILE(NAME) values(NULL)"));
        Stored.Id = Row->GetValue(QStringLiteral("ID")).ToInt();
        Result = UpdateProfileWith(Query, Stored.Id, Stored);
    });
    Profile.Id = Stored.Id; // only once the row is there for good
    return Result;
}

bool UpdateProfile(int32_t Id, const TProfile& Profile)
{
    bool Result = false;
    RunInTransaction(QString(), [&](IQuery& Query) { Result = UpdateProfileWith(Query, Id, Profile); });
    return Result;
}

bool DeleteProfile(int32_t Id)
{
    RunInTransaction(QString(), [&](IQuery& Query) {
        Query.Exec(QStringLiteral("delete from PROFILE where ID=:1"), {Id});
        Query.Exec(QStringLiteral("delete from TICKET where ID_PROFILE=:1"), {Id});
        // SQLite may give a later profile the id of the last one deleted: it
        // must not inherit the record of what this one sent. (A database not
        // yet converted has no such record.)
        if (Query.Select(QStringLiteral("select 1 from sqlite_master where type='table' and name=:1"),
                         {QStringLiteral("SENT_REPORT")}))
            Query.Exec(QStringLiteral("delete from SENT_REPORT where ID_PROFILE=:1"), {Id});
    });
    return true;
}

QString AgencyCatalog(const TProfile& Profile, TDocumentAgency Agency)
{
    switch (Agency) {
    case daPFU:
        return Profile.CatalogOutPfu;
    case daVEY:
        return Profile.CatalogOutVey;
    case daDKS:
        return Profile.CatalogOutDks;
    case daUnknown:
        break;
    }
    return QString();
}

QString AgencyCode(TDocumentAgency Agency)
{
    static const QString Codes[] = {QString(), QStringLiteral("PFU"), QStringLiteral("VEY"), QStringLiteral("DKS")};
    return Agency >= daPFU && Agency <= daDKS ? Codes[Agency] : QString();
}

QString ProfileToString(const TProfile& Profile)
{
    // Built by concatenation, so that a "%1" in a name stays as typed.
    try {
        return QStringLiteral("[Id=") + QString::number(Profile.Id) + QStringLiteral("; Name=") + Profile.Name +
               QStringLiteral("; Code=") + Profile.Code + QStringLiteral("; SignType=") +
               SignTypeText(Profile.SignType) + QStringLiteral("; AfterSign=") +
               AfterSignText(Profile.SignAfterAction) + QStringLiteral("; SeparateSign=") +
               (Profile.SignSeparate ? QStringLiteral("True") : QStringLiteral("False")) +
               QStringLiteral("; CatalogOutPFU=") + Profile.CatalogOutPfu + QStringLiteral("; CatalogOutVEY=") +
               Profile.CatalogOutVey + QStringLiteral("; CatalogOutDKS=") + Profile.CatalogOutDks + QStringLiteral("]");
    } catch (const std::exception& E) {
        return QStringLiteral("[Exception: ") + ExceptionText(E) + QStringLiteral("]");
    }
}

} // namespace kelvora
