#include "Pfcp2Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <filesystem>
#include <mutex>
#include <string>

namespace pfcp2 {

namespace {

// Readable is false when the file exists but cannot be read.
QStringList ReadLines(const QString& FileName, bool* Readable = nullptr)
{
    QFile File(FileName);
    if (Readable)
        *Readable = true;
    if (!File.open(QIODevice::ReadOnly)) {
        if (Readable)
            *Readable = !QFileInfo::exists(FileName);
        return {};
    }
    QString Text = QString::fromUtf8(File.readAll());
    Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList Lines = Text.split(u'\n');
    if (!Lines.isEmpty() && Lines.last().isEmpty())
        Lines.removeLast();
    return Lines;
}

QString SectionOf(const QString& Line)
{
    const QString Trimmed = Line.trimmed();
    if (Trimmed.startsWith(u'[') && Trimmed.endsWith(u']'))
        return Trimmed.mid(1, Trimmed.size() - 2).trimmed();
    return QString();
}

bool IsEntry(const QString& Line, const QString& Name, QString* Value = nullptr)
{
    const qsizetype Eq = Line.indexOf(u'=');
    if (Eq < 0 || Line.left(Eq).trimmed().compare(Name, Qt::CaseInsensitive) != 0)
        return false;
    if (Value)
        *Value = Line.mid(Eq + 1).trimmed();
    return true;
}

} // namespace

QString SettingsFilePath()
{
    QString Base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (Base.isEmpty() || QDir::isRelativePath(Base))
        Base = QDir::homePath() + QStringLiteral("/.config");
    return Base + QStringLiteral("/pfcp2/pfcp2.ini");
}

QString ReadSetting(const QString& Section, const QString& Name)
{
    bool InSection = false;
    for (const QString& Line : ReadLines(SettingsFilePath())) {
        const QString Found = SectionOf(Line);
        if (!Found.isNull()) {
            InSection = Found.compare(Section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString Value;
        if (InSection && IsEntry(Line, Name, &Value))
            return Value;
    }
    return QString();
}

bool WriteSetting(const QString& Section, const QString& Name, const QString& Value)
{
    const QString FileName = SettingsFilePath();
    bool Readable = true;
    QStringList Lines = ReadLines(FileName, &Readable);
    if (!Readable)
        return false; // writing now would drop the keys that could not be read
    const QString Entry = Name + u'=' + Value;
    qsizetype SectionEnd = -1;
    bool InSection = false, Written = false;
    for (qsizetype I = 0; I < Lines.size() && !Written; ++I) {
        const QString Found = SectionOf(Lines[I]);
        if (!Found.isNull()) {
            InSection = Found.compare(Section, Qt::CaseInsensitive) == 0;
            if (InSection)
                SectionEnd = I + 1;
        } else if (InSection && IsEntry(Lines[I], Name)) {
            Lines[I] = Entry;
            Written = true;
        } else if (InSection && !Lines[I].trimmed().isEmpty()) {
            SectionEnd = I + 1;
        }
    }
    if (!Written) {
        if (SectionEnd < 0) {
            Lines << (u'[' + Section + u']');
            SectionEnd = Lines.size();
        }
        Lines.insert(SectionEnd, Entry);
    }
    if (!QDir().mkpath(QFileInfo(FileName).absolutePath()))
        return false;
    // Renamed over the old file only when all of it was written: a full disk
    // keeps the old settings. The explicit flush: commit alone does not see a
    // failure of the last buffered write.
    QSaveFile File(FileName);
    if (!File.open(QIODevice::WriteOnly))
        return false;
    const QByteArray Bytes = (Lines.join(QStringLiteral("\n")) + u'\n').toUtf8();
    return File.write(Bytes) == Bytes.size() && File.flush() && File.commit();
}

QString FileStoreFolder()
{
    // Asked before every operation on the store: read the file again only
    // when it changed.
    namespace fs = std::filesystem;
    static std::mutex Lock;
    static std::string Seen;
    static QString Value;
    const std::string Path = QFile::encodeName(SettingsFilePath()).toStdString();
    std::error_code Error;
    const auto Size = fs::file_size(Path, Error);
    const auto Time = Error ? 0 : fs::last_write_time(Path, Error).time_since_epoch().count();
    const std::string Key =
        Path + '|' + std::to_string(Error ? -1 : static_cast<long long>(Size)) + '|' + std::to_string(Time);
    std::lock_guard<std::mutex> Guard(Lock);
    if (Key != Seen) {
        Value = ReadSetting(QString::fromLatin1(FileStoreSection), QString::fromLatin1(PathValue));
        Seen = Key;
    }
    return Value;
}

} // namespace pfcp2
