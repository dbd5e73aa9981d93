#include "FormsSupport.h"

#include "uCorePath.h"
#include "uFactories.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <memory>

namespace kelvora::test {

void WriteParams(const QList<QPair<QString, QString>>& Params)
{
    ReleaseProcessObjects();
    QByteArray Xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>\n";
    for (const auto& [Name, Value] : Params)
        Xml += "  <param name=\"" + Name.toUtf8() + "\">" + Value.toHtmlEscaped().toUtf8() + "</param>\n";
    Xml += "</params>\n";
    QFile File(GetConfigFolder() + QStringLiteral("params.xml"));
    if (File.open(QIODevice::WriteOnly | QIODevice::Truncate))
        File.write(Xml);
    ReleaseProcessObjects();
}

QStringList ZipEntryNames(const QString& Path)
{
    auto Archive = CreateZipArchive();
    Archive->LoadFromFile(Path);
    QStringList Names;
    auto Items = Archive->GetItems();
    for (Items->First(); !Items->Eof(); Items->Next())
        Names << Items->CurrentAs<IArchiveItem>()->GetName();
    return Names;
}

void TypeText(QWidget* Widget, const QString& Text)
{
    for (const QChar Ch : Text) {
        if (Ch == u'\n')
            QTest::keyClick(Widget, Qt::Key_Return);
        else
            QTest::sendKeyEvent(QTest::Click, Widget, Qt::Key_unknown, QString(Ch), Qt::NoModifier);
    }
}

void ClickLink(QWidget* Label)
{
    // The link is the label's whole text, which starts at its left edge.
    QTest::mouseClick(Label, Qt::LeftButton, Qt::NoModifier, QPoint(6, Label->height() / 2));
}

} // namespace kelvora::test
