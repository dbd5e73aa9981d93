#pragma once

// The main window's tests: a fresh root with the shipped kind of params.xml,
// its own crypto library settings, and the real main window driven through
// its actions and the dialog script.

#include "GuiTest.h"
#include "uMainForm.h"

#include <QAction>
#include <QProcessEnvironment>
#include <memory>

namespace kelvora::test {

class AppTest : public GuiTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // params.xml with the program's revision and version, plus Extra lines.
    void WriteParams(const QByteArray& Extra = QByteArray());
    std::unique_ptr<TqorMainForm> MakeWindow();
    // Stores a profile; returns its id.
    static int32_t AddTestProfile(const QString& Name, const QString& Code);
    static QAction* Action(QWidget* Window, const char* Name);
    static void Trigger(QWidget* Window, const char* Name) { Action(Window, Name)->trigger(); }
    // The texts of the dialog script's records of one kind.
    static QStringList Texts(const QString& Kind);
    static QString Setting(const QString& Name);

private:
    QByteArray FOldConfigHome;
};

// Another program of this test run, copied under FileName into Folder (made
// as needed), so that it counts as its own program and finds beside it only
// what the test puts there.
QString CopyProgram(const QString& Source, const QString& Folder, const QString& FileName);
// This test program's folder (the build's tests folder).
QString TestsFolder();

} // namespace kelvora::test
