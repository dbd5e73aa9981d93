#include "uUtils.h"

#include "uCodePage.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <memory>
#include <openssl/evp.h>

namespace kelvora {

namespace {

QString JoinPath(const QString& Folder, const QString& Name)
{
    return Folder.endsWith(PathDelim()) || Folder.endsWith(u'/') ? Folder + Name : Folder + PathDelim() + Name;
}

QStringList SplitMasks(const QString& Masks)
{
    QStringList Result;
    QString Current;
    bool Quoted = false;
    for (QChar Ch : Masks) {
        if (Ch == u'"') {
            Quoted = !Quoted;
        } else if (!Quoted && (Ch == u';' || Ch == u' ')) {
            if (!Current.isEmpty())
                Result << Current;
            Current.clear();
        } else {
            Current += Ch;
        }
    }
    if (!Current.isEmpty())
        Result << Current;
    return Result;
}

// The masks of the last list asked for, compiled once: FindFiles matches
// thousands of names against one list.
const QList<QRegularExpression>& CompiledMasks(const QString& Masks)
{
    static QString Last;
    static QList<QRegularExpression> Compiled;
    if (Compiled.isEmpty() || Last != Masks) {
        Compiled.clear();
        for (const QString& Mask : SplitMasks(Masks))
            Compiled << QRegularExpression(QRegularExpression::wildcardToRegularExpression(Mask),
                                           QRegularExpression::CaseInsensitiveOption);
        Last = Masks;
    }
    return Compiled;
}

struct TDigestFree {
    void operator()(EVP_MD_CTX* Context) const { EVP_MD_CTX_free(Context); }
};

// MD5 over everything Feed hands to the update function.
template <class F> QString MD5Of(F&& Feed)
{
    std::unique_ptr<EVP_MD_CTX, TDigestFree> Context(EVP_MD_CTX_new());
    if (!Context || !EVP_DigestInit_ex(Context.get(), EVP_md5(), nullptr))
        throw Exception(QStringLiteral("MD5 is not available"));
    Feed([&](const char* Data, qsizetype Size) { EVP_DigestUpdate(Context.get(), Data, static_cast<size_t>(Size)); });
    unsigned char Digest[EVP_MAX_MD_SIZE];
    unsigned int Length = 0;
    EVP_DigestFinal_ex(Context.get(), Digest, &Length);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(Digest), Length).toHex().toUpper());
}

constexpr QDir::Filters kAllFiles = QDir::Files | QDir::Hidden | QDir::System;
constexpr QDir::SortFlags kSystemOrder = QDir::Name | QDir::IgnoreCase;

} // namespace

bool FindFiles(const QString& Folder, QStringList* List, const QString& Masks, int Depth)
{
    const QDir Dir(Folder);
    if (!List || Folder.isEmpty() || !Dir.exists())
        return false;
    if (Depth != 1) {
        for (const QString& Sub : Dir.entryList(
                 QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System | QDir::NoSymLinks, kSystemOrder))
            FindFiles(JoinPath(Folder, Sub), List, Masks, Depth - 1);
    }
    for (const QString& Name : Dir.entryList(kAllFiles, kSystemOrder))
        if (MatchesAnyMask(Name, Masks))
            List->append(JoinPath(Folder, Name));
    return true;
}

bool ListSubfolders(const QString& Folder, QStringList* List)
{
    const QDir Dir(Folder);
    if (!List || Folder.isEmpty() || !Dir.exists())
        return false;
    List->clear();
    for (const QString& Sub : Dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, kSystemOrder))
        List->append(JoinPath(Folder, Sub));
    return true;
}

int32_t GetFileSize(const QString& Path)
{
    // A name that exists is taken as it is: "b[1].backup" is a file, not a
    // set of names.
    const QFileInfo Info(Path);
    if (Info.exists())
        return static_cast<int32_t>(Info.size());
    const QDir Dir = Info.absoluteDir();
    const QFileInfoList Entries =
        Dir.entryInfoList({Info.fileName()}, kAllFiles | QDir::Dirs | QDir::NoDotAndDotDot, kSystemOrder);
    return Entries.isEmpty() ? -1 : static_cast<int32_t>(Entries.first().size());
}

TDateTime GetFileDate(const QString& FileName)
{
    const QFileInfo Info(FileName);
    return Info.exists() ? DateTimeFromQDateTime(Info.lastModified()) : 0;
}

bool DeleteFileForce(const QString& FileName)
{
    const QFileInfo Info(FileName);
    if (Info.isSymLink())
        return QFile::remove(FileName);
    QFile File(FileName);
    if (Info.exists() && !(File.permissions() & QFileDevice::WriteOwner))
        File.setPermissions(File.permissions() | QFileDevice::WriteOwner);
    const int Saved = errno;
    const bool Removed = File.remove();
    if (Removed)
        errno = Saved;
    return Removed;
}

bool CopyFiles(const QString& SourceFolder, const QString& TargetFolder)
{
    try {
        if (!QDir().mkpath(TargetFolder))
            return false;
        QStringList Files;
        FindFiles(SourceFolder, &Files, QStringLiteral("*"), 1);
        for (const QString& Source : Files) {
            const QString Target = JoinPath(TargetFolder, ExtractFileName(Source));
            if (QFileInfo::exists(Target) && !DeleteFileForce(Target))
                return false;
            if (!QFile::copy(Source, Target))
                return false;
            // The copy is done: a log that cannot be written does not undo it.
            TryLog(QStringLiteral("Скопійовано файл з \"%1\" до \"%2\"").arg(Source, Target),
                   QStringLiteral("copy_files"));
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

QString UniqueFileName(const QString& FileName)
{
    if (!QFileInfo::exists(FileName))
        return FileName;
    const QString Name = ExtractFileName(FileName);
    const QString Folder = FileName.left(FileName.size() - Name.size());
    const qsizetype Dot = Name.lastIndexOf(u'.');
    const QString Extension = Dot >= 0 ? Name.mid(Dot) : QString();
    QString Base = Dot >= 0 ? Name.left(Dot) : Name;
    const QString Bare = RegexGroup(Base, QStringLiteral("(.*)\\([0-9]*\\)"), 1);
    if (!Bare.isEmpty())
        Base = Bare;
    const QString Prefix = Folder.isEmpty() ? QString() : JoinPath(Folder.chopped(1), QString());
    for (int N = 1;; ++N) {
        const QString Candidate = QStringLiteral("%1%2(%3)%4").arg(Prefix, Base).arg(N).arg(Extension);
        if (!QFileInfo::exists(Candidate))
            return Candidate;
    }
}

QString ReplaceLastNameChar(const QString& FileName, QChar Ch)
{
    const qsizetype NameStart = FileName.size() - ExtractFileName(FileName).size();
    qsizetype Dot = FileName.lastIndexOf(u'.');
    if (Dot < NameStart)
        Dot = FileName.size();
    if (Dot <= NameStart)
        return FileName;
    QString Result = FileName;
    Result[Dot - 1] = Ch;
    return Result;
}

QString GetTimeStampedTempName()
{
    return GetTempFolder() + CurrentDateTime().toString(QStringLiteral("ddMMyy_HHmmss_zzz"));
}

QString UrlFileName(const QString& Url) { return Url.mid(Url.lastIndexOf(u'/') + 1); }

bool MatchesAnyMask(const QString& Name, const QString& Masks)
{
    for (const QRegularExpression& Mask : CompiledMasks(Masks))
        if (Mask.match(Name).hasMatch())
            return true;
    return false;
}

QString RegexGroup(const QString& Text, const QString& Pattern, int Index)
{
    const QRegularExpression Regex(Pattern,
                                   QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    const QRegularExpressionMatch Match = Regex.match(Text);
    if (!Match.hasMatch() || Index < 0 || Index > Match.lastCapturedIndex())
        return QString();
    return Match.captured(Index);
}

TDateTime ParseCompactDateTime(const QString& Text, TDateTime Default)
{
    static const QRegularExpression Compact(QStringLiteral("^(\\d\\d\\d\\d)(\\d\\d)(\\d\\d)(\\d\\d)(\\d\\d)(\\d\\d)"),
                                            QRegularExpression::MultilineOption);
    const QRegularExpressionMatch Match = Compact.match(Text);
    if (!Match.hasMatch())
        return Default;
    auto Part = [&](int I) { return Match.captured(I).toInt(); };
    return EncodeDate(Part(1), Part(2), Part(3)) + EncodeTime(Part(4), Part(5), Part(6), 0);
}

int32_t StrToInt(const QString& Text)
{
    bool Ok = false;
    const int Value = Text.trimmed().toInt(&Ok, 10);
    if (!Ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(Text));
    return Value;
}

QString GetListValue(const QStringList& List, const QString& Name)
{
    for (const QString& Line : List) {
        const qsizetype Eq = Line.indexOf(u'=');
        if (Eq >= 0 && QStringView(Line).left(Eq).compare(Name, Qt::CaseInsensitive) == 0)
            return Line.mid(Eq + 1);
    }
    return QString();
}

QString FileMD5(const QString& FileName)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, File.errorString()));
    return MD5Of([&](auto Update) {
        QByteArray Buffer(1 << 16, Qt::Uninitialized);
        for (;;) {
            const qint64 Got = File.read(Buffer.data(), Buffer.size());
            if (Got < 0)
                throw EInOutError(QStringLiteral("Cannot read file \"%1\". %2").arg(FileName, File.errorString()));
            if (Got == 0)
                break;
            Update(Buffer.constData(), Got);
        }
    });
}

QString TextMD5(const QString& Text)
{
    const QByteArray Bytes = ToAnsi(Text);
    return MD5Of([&](auto Update) { Update(Bytes.constData(), Bytes.size()); });
}

QString GetFileVersion(const QString& FileName)
{
    const QString Own = QFileInfo(GetProgramFilePath()).canonicalFilePath();
    if (!Own.isEmpty() && QFileInfo(FileName).canonicalFilePath() == Own)
        return QStringLiteral(KELVORA_VERSION);
    return QString();
}

QString GetPresentationPath()
{
#ifdef Q_OS_WIN
    return GetDataFolder() + QStringLiteral("presentation.exe");
#else
    return GetDataFolder() + QStringLiteral("presentation");
#endif
}

bool GetSystemProxy(QString& Host, int& Port)
{
    QString Setting = qEnvironmentVariable("http_proxy");
    if (Setting.isEmpty())
        Setting = qEnvironmentVariable("HTTP_PROXY");
    Setting = Setting.trimmed();
    if (Setting.isEmpty())
        return false;
    if (Setting.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive))
        Setting.remove(0, 7);
    if (Setting.endsWith(u'/'))
        Setting.chop(1);
    Host = Setting;
    const qsizetype Http = Host.indexOf(QStringLiteral("http="));
    if (Http >= 0)
        Host = Host.mid(Http + 5);
    const qsizetype Semicolon = Host.indexOf(u';');
    if (Http >= 0 && Semicolon >= 0)
        Host.truncate(Semicolon);
    const qsizetype Colon = Host.indexOf(u':');
    if (Colon >= 0) {
        bool Ok = false;
        Port = Host.mid(Colon + 1).toInt(&Ok);
        if (!Ok)
            Port = 0;
        Host.truncate(Colon);
    }
    return true;
}

} // namespace kelvora
