#include "TestRoot.h"

#include "uCallStack.h"
#include "uCorePath.h"
#include "uException.h"
#include "uExceptionLog.h"
#include "uXmlDocument.h"

#include <QFile>
#include <QFileInfo>
#include <libxml/tree.h>
#include <stdexcept>
#include <thread>

using namespace kelvora;

namespace {

[[gnu::noinline]] void ThrowFromDeepInside(const QString& Text) { throw EInOutError(Text); }

[[gnu::noinline]] void CallsTheThrower(const QString& Text)
{
    ThrowFromDeepInside(Text);
    asm volatile(""); // keeps this frame from becoming a tail call
}

std::vector<xmlNode*> Children(xmlNode* Parent, const char* Name = nullptr)
{
    std::vector<xmlNode*> Result;
    for (xmlNode* Node = Parent ? Parent->children : nullptr; Node; Node = Node->next)
        if (Node->type == XML_ELEMENT_NODE &&
            (!Name || xmlStrcmp(Node->name, reinterpret_cast<const xmlChar*>(Name)) == 0))
            Result.push_back(Node);
    return Result;
}

xmlNode* Child(xmlNode* Parent, const char* Name)
{
    auto Found = Children(Parent, Name);
    return Found.empty() ? nullptr : Found.front();
}

class ExceptionLog : public test::FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        WriteFile(QStringLiteral("config/params.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>"
                                                       "<param name=\"software_name\">Kelvora</param>"
                                                       "<param name=\"software_version\">2.1.0</param>"
                                                       "<param name=\"software_revision\">7</param></params>");
    }
    void TearDown() override
    {
        SetDisplayInfoHook(nullptr);
        FreshRoot::TearDown();
    }

    static void LogThrown(const QString& Text)
    {
        try {
            CallsTheThrower(Text);
        } catch (const std::exception& E) {
            LogExceptionToFile(E);
        }
    }
};

} // namespace

TEST_F(ExceptionLog, TwoExceptionsGiveOneRootWithTwoChildrenOlderFirst)
{
    SetDisplayInfoHook([](int& W, int& H, int& Bits) {
        W = 1920, H = 1080, Bits = 32;
        return true;
    });
    LogThrown(QStringLiteral("перша помилка"));
    try {
        throw std::runtime_error("second");
    } catch (const std::exception& E) {
        LogExceptionToFile(E);
    }

    const QString Path = GetExceptionLogPath();
    EXPECT_EQ(QFileInfo(Path).fileName(), GetProgramFileName() + QStringLiteral(".errors"));
    const QByteArray Raw = ReadFile(Path);
    EXPECT_TRUE(Raw.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Exceptions>\n\t<Exception "))
        << Raw.left(120).constData();
    EXPECT_TRUE(Raw.contains("\n\t\t<Programm ")) << "children indented with two TABs";

    TXmlDocument Doc = LoadXmlFile(Path);
    xmlNode* Root = xmlDocGetRootElement(Doc.get());
    ASSERT_STREQ(reinterpret_cast<const char*>(Root->name), "Exceptions");
    const auto Logged = Children(Root);
    ASSERT_EQ(Logged.size(), 2u);
    EXPECT_EQ(XmlAttribute(Logged[0], "Class"), QStringLiteral("EInOutError"));
    EXPECT_EQ(XmlAttribute(Logged[0], "Message"), QStringLiteral("перша помилка"));
    EXPECT_FALSE(XmlAttribute(Logged[0], "Date").isEmpty());
    EXPECT_EQ(XmlAttribute(Logged[1], "Class"), QStringLiteral("std::runtime_error"));
    EXPECT_EQ(XmlAttribute(Logged[1], "Message"), QStringLiteral("second"));

    xmlNode* Program = Child(Logged[0], "Programm");
    ASSERT_TRUE(Program);
    EXPECT_EQ(XmlAttribute(Program, "Name"), QStringLiteral("Kelvora"));
    EXPECT_EQ(XmlAttribute(Program, "Version"), QStringLiteral("2.1.0"));
    EXPECT_EQ(XmlAttribute(Program, "Revision"), QStringLiteral("7"));
    EXPECT_EQ(XmlAttribute(Program, "ModulePath"), GetProgramFilePath());

    xmlNode* Os = Child(Logged[0], "OS");
    ASSERT_TRUE(Os);
    EXPECT_FALSE(XmlAttribute(Os, "System").isEmpty());
    ASSERT_TRUE(Child(Os, "Processor"));
    EXPECT_TRUE(XmlAttribute(Child(Os, "Processor"), "Frequency").endsWith(QStringLiteral(" Mhz")));
    ASSERT_TRUE(Child(Os, "Display"));
    EXPECT_EQ(XmlAttribute(Child(Os, "Display"), "ScreenRes"), QStringLiteral("1920x1080"));
    EXPECT_EQ(XmlAttribute(Child(Os, "Display"), "ColorDepth"), QStringLiteral("32 bit"));
    for (const char* Memory : {"PhisicalMemory", "VirtualMemory"}) {
        xmlNode* Node = Child(Os, Memory);
        ASSERT_TRUE(Node) << Memory;
        EXPECT_TRUE(XmlAttribute(Node, "Total").endsWith(QStringLiteral(" Mb")));
        EXPECT_GT(XmlAttribute(Node, "Total").section(u' ', 0, 0).toLongLong(), 0) << Memory;
    }
    EXPECT_TRUE(Child(Logged[0], "Stack"));
}

TEST_F(ExceptionLog, StackNamesTheThrowingRoutineAndItsSourceLine)
{
    if (!ExceptionTrackingActive())
        GTEST_SKIP() << "throws are not recorded in sanitizer builds";
    LogThrown(QStringLiteral("deep"));
    TXmlDocument Doc = LoadXmlFile(GetExceptionLogPath());
    const auto Logged = Children(xmlDocGetRootElement(Doc.get()));
    ASSERT_EQ(Logged.size(), 1u);
    const auto Frames = Children(Child(Logged[0], "Stack"), "Procedure");
    ASSERT_GE(Frames.size(), 2u);
    EXPECT_TRUE(XmlAttribute(Frames[0], "ProcName").contains(QStringLiteral("ThrowFromDeepInside")))
        << XmlAttribute(Frames[0], "ProcName").toStdString();
    EXPECT_EQ(XmlAttribute(Frames[0], "ModuleName"), GetProgramFileName());
    EXPECT_EQ(XmlAttribute(Frames[0], "SourceName"), QStringLiteral("ExceptionLogTests.cpp"));
    EXPECT_GT(XmlAttribute(Frames[0], "LineNumber").toInt(), 0);
    EXPECT_TRUE(XmlAttribute(Frames[1], "ProcName").contains(QStringLiteral("CallsTheThrower")));
}

TEST_F(ExceptionLog, StackBelongsToTheCaughtExceptionNotToLaterThrows)
{
    if (!ExceptionTrackingActive())
        GTEST_SKIP() << "throws are not recorded in sanitizer builds";
    try {
        CallsTheThrower(QStringLiteral("first"));
    } catch (const std::exception& E) {
        // Other exceptions thrown and caught while handling this one.
        for (int I = 0; I < 3; ++I)
            try {
                throw std::logic_error("noise");
            } catch (const std::exception&) {
            }
        const auto Frames = GetExceptionStack(E);
        ASSERT_FALSE(Frames.isEmpty());
        EXPECT_TRUE(Frames[0].ProcName.contains(QStringLiteral("ThrowFromDeepInside")));
    }
}

TEST_F(ExceptionLog, ThreadNamingSignalIsNotLoggedAndAnUnreadableLogIsMovedAside)
{
    LogExceptionToFile(Exception(QStringLiteral("external exception 406d1388")));
    EXPECT_FALSE(QFileInfo::exists(GetExceptionLogPath()));

    // The damaged history is kept under a name of its own; a fresh log begins.
    const QString Path = GetExceptionLogPath();
    for (const QByteArray& Damaged : {QByteArray("not xml at all"), QByteArray("<Other/>")}) {
        WriteFile(QStringLiteral("debug/") + QFileInfo(Path).fileName(), Damaged);
        LogExceptionToFile(Exception(QStringLiteral("kept")));
        TXmlDocument Doc = LoadXmlFile(Path);
        EXPECT_EQ(Children(xmlDocGetRootElement(Doc.get()), "Exception").size(), 1u);
        QFile::remove(Path);
    }
    EXPECT_EQ(ReadFile(Path + QStringLiteral(".damaged")), QByteArray("not xml at all"));
    EXPECT_EQ(ReadFile(Path + QStringLiteral("(1).damaged")), QByteArray("<Other/>"));
}

TEST_F(ExceptionLog, CharactersXmlForbidsNeverStopTheLog)
{
    const QString Odd = QStringLiteral("a\x01"
                                       "b\x1F"
                                       "c\td\r\ne") +
                        QChar(0xFFFE) + QChar(0xD800) + QStringLiteral("😀");
    LogExceptionToFile(Exception(Odd));
    LogExceptionToFile(Exception(QStringLiteral("second")));
    TXmlDocument Doc = LoadXmlFile(GetExceptionLogPath());
    const auto Logged = Children(xmlDocGetRootElement(Doc.get()), "Exception");
    ASSERT_EQ(Logged.size(), 2u);
    EXPECT_EQ(XmlAttribute(Logged[0], "Message"), QStringLiteral("a\uFFFDb\uFFFDc\td\r\ne\uFFFD\uFFFD😀"));
    EXPECT_EQ(QFile::permissions(GetExceptionLogPath()),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

TEST_F(ExceptionLog, ExceptionsFromSeveralThreadsAreAllKept)
{
    std::vector<std::thread> Threads;
    for (int T = 0; T < 4; ++T)
        Threads.emplace_back([T] {
            for (int I = 0; I < 3; ++I)
                LogThrown(QStringLiteral("thread %1 #%2").arg(T).arg(I));
        });
    for (auto& Thread : Threads)
        Thread.join();
    TXmlDocument Doc = LoadXmlFile(GetExceptionLogPath());
    EXPECT_EQ(Children(xmlDocGetRootElement(Doc.get()), "Exception").size(), 12u);
}
