#include "uIniFile.h"

#include "uException.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace kelvora {

namespace {

QStringList ReadLines(const QString& FileName)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        return {};
    QString Text = QString::fromUtf8(File.readAll());
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
    for (const QString& Line : ReadLines(FFileName)) {
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
    QStringList Lines = ReadLines(FFileName);
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

    QSaveFile File(FFileName);
    if (!File.open(QIODevice::WriteOnly))
        throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(FFileName, File.errorString()));
    File.write((Lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    if (!File.commit())
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(FFileName, File.errorString()));
}

} // namespace kelvora
