#include "FormsTestSupport.h"

#include "ToolRun.h"
#include "uProfile.h"

#include <QProcess>

namespace kelvora::test {

int AddTestProfile(const QString& Code, const QString& Name)
{
    TProfile Profile;
    Profile.Name = Name;
    Profile.Code = Code;
    AddProfile(Profile);
    return Profile.Id;
}

QStringList XmlOutline(const QString& Path)
{
    static const QString Script = QStringLiteral(R"(
import sys, xml.etree.ElementTree as ET
XSI = '{http://www.w3.org/2001/XMLSchema-instance}'
def name(n): return n.replace(XSI, 'xsi:')
def attrs(e): return '[' + ' '.join(name(k) + '=' + v for k, v in e.attrib.items()) + ']' if e.attrib else ''
def walk(e, path):
    for c in e:
        p = path + c.tag
        sys.stdout.write(p + attrs(c) + ('' if len(c) else '=' + (c.text or '')) + '\n')
        walk(c, p + '/')
root = ET.parse(sys.argv[1]).getroot()
sys.stdout.write(root.tag + attrs(root) + '\n')
walk(root, '')
)");
    QProcess Python;
    Python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), Script, Path});
    Python.waitForFinished(30000);
    const QString Output = QString::fromUtf8(Python.readAllStandardOutput());
    if (Python.exitCode() != 0)
        return {QStringLiteral("python: ") + QString::fromUtf8(Python.readAllStandardError())};
    return Output.split(u'\n', Qt::SkipEmptyParts);
}

QString XmlLintErrors(const QString& Path)
{
    const TToolResult Result = RunTool(QStringLiteral("xmllint"), {QStringLiteral("--noout"), Path});
    return Result.Code == 0 ? QString() : QStringLiteral("xmllint: ") + Result.Output;
}

QString FromCp1251ByIconv(const QString& Path)
{
    const TToolResult Result = RunTool(QStringLiteral("iconv"), {QStringLiteral("-f"), QStringLiteral("WINDOWS-1251"),
                                                                 QStringLiteral("-t"), QStringLiteral("UTF-8"), Path});
    return Result.Code == 0 ? Result.Output : QString();
}

} // namespace kelvora::test
