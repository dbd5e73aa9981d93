#include "uIniFile.h"

#include "uCodePage.h"
#include "uException.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringList>

namespace kelvora {

namespace {

// How long a writer waits for another process's write to end.
constexpr int kLockWaitMs = 10000;

// UTF-8 when the bytes are valid UTF-8, else windows-1251.
QString DecodeSettings(const QByteArray& Bytes)
{
    QStringDecoder Utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString Text = Utf8.decode(Bytes);
    return Utf8.hasError() ? FromAnsi(Bytes) : Text;
}

// The file's lines; none when it does not exist. Strict: a file that exists
// but cannot be read raises, so that a write never replaces it with a file
// that lacks its keys.
QStringList ReadLines(const QString& FileName, bool Strict)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly)) {
        if (Strict && QFileInfo::exists(FileName))
            throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, File.errorString()));
        return {};
    }
    const QByteArray Bytes = File.readAll();
    if (Strict && File.error() != QFileDevice::NoError)
        throw EInOutError(QStringLiteral("Cannot read file \"%1\". %2").arg(FileName, File.errorString()));
    QString Text = DecodeSettings(Bytes);
    if (Text.startsWith(QChar(0xFEFF)))
        Text.remove(0, 1);
    Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList Lines = Text.split(u'\n');
    if (!Lines.isEmpty() && Lines.last().isEmpty())
        Lines.removeLast();
    return Lines;
}

// The section name when Line is a section header, else a null QString.
QString SectionOf(const QString& Line)
{
    const QString Trimmed = Line.trimmed();
    if (Trimmed.startsWith(u'[') && Trimmed.endsWith(u']'))
        return Trimmed.mid(1, Trimmed.size() - 2).trimmed();
    return QString();
}

bool KeyIs(const QString& Line, const QString& Key, QString* Value = nullptr)
{
    const qsizetype Eq = Line.indexOf(u'=');
    if (Eq < 0 || Line.left(Eq).trimmed().compare(Key.trimmed(), Qt::CaseInsensitive) != 0)
        return false;
    if (Value)
        *Value = Line.mid(Eq + 1).trimmed();
    return true;
}

} // namespace

QString TIniFile::ReadString(const QString& Section, const QString& Key) const
{
    bool InSection = false;
    for (const QString& Line : ReadLines(FFileName, false)) {
        const QString Name = SectionOf(Line);
        if (!Name.isNull()) {
            InSection = Name.compare(Section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString Value;
        if (InSection && KeyIs(Line, Key, &Value))
            return Value;
    }
    return QString();
}

void TIniFile::WriteString(const QString& Section, const QString& Key, const QString& Value) const
{
    // Read, change and write back under one lock: two processes writing at
    // once would otherwise each write back the file without the other's key.
    QLockFile Lock(FFileName + QStringLiteral(".lock"));
    if (!Lock.tryLock(kLockWaitMs))
        throw EInOutError(QStringLiteral("Cannot lock file \"%1\"").arg(FFileName));
    QStringList Lines = ReadLines(FFileName, true);
    // A line break inside a value would end the entry and start another one.
    QString OneLine = Value;
    OneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(u'\r', u' ').replace(u'\n', u' ');
    const QString Entry = Key.trimmed() + u'=' + OneLine;
    qsizetype SectionEnd = -1; // index after the last line of the section
    bool Written = false;
    bool InSection = false;
    for (qsizetype I = 0; I < Lines.size() && !Written; ++I) {
        const QString Name = SectionOf(Lines[I]);
        if (!Name.isNull()) {
            InSection = Name.compare(Section, Qt::CaseInsensitive) == 0;
            if (InSection)
                SectionEnd = I + 1;
            continue;
        }
        if (!InSection)
            continue;
        if (KeyIs(Lines[I], Key)) {
            Lines[I] = Entry;
            Written = true;
        } else if (!Lines[I].trimmed().isEmpty()) {
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

    // Written beside the old file and renamed over it only when every byte
    // reached the disk: a full disk leaves the old file, not half a new one.
    QSaveFile File(FFileName);
    if (!File.open(QIODevice::WriteOnly))
        throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(FFileName, File.errorString()));
    const QByteArray Bytes = (Lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
    // The explicit flush: commit alone does not see a failure of the last
    // buffered write.
    if (File.write(Bytes) != Bytes.size() || !File.flush() || !File.commit()) {
        const QString Reason = File.errorString();
        File.cancelWriting();
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(FFileName, Reason));
    }
}

} // namespace kelvora
