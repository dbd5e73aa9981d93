#include "uDialogs.h"

#include "uCorePath.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <deque>

namespace kelvora {

namespace {

struct TScriptState {
    bool Active = false;
    std::deque<TDialogResult> Answers;
    std::deque<QStringList> Files;
    std::deque<QString> Folders;
    QList<TDialogScript::TRecord> Shown;
};

TScriptState& Script()
{
    static TScriptState State;
    return State;
}

const QString ProductName = QStringLiteral("Kelvora");

QWidget* OwnerOrMain(QWidget* Owner) { return Owner ? Owner : ApplicationMainWindow(); }

// Boxes show the texts' CR LF pairs as single line breaks.
QString DisplayText(const QString& Text)
{
    QString Result = Text;
    Result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return Result;
}

void Record(const QString& Kind, const QString& Caption, const QString& Text, const QString& Folder = QString(),
            const QString& Name = QString())
{
    Script().Shown.append({Kind, Caption, Text, Folder, Name});
}

TDialogResult NextAnswer(TDialogResult Cancel)
{
    auto& Answers = Script().Answers;
    if (Answers.empty())
        return Cancel;
    const TDialogResult Result = Answers.front();
    Answers.pop_front();
    return Result;
}

QStringList NextFiles()
{
    auto& Files = Script().Files;
    if (Files.empty())
        return {};
    QStringList Result = Files.front();
    Files.pop_front();
    return Result;
}

void ShowBox(QMessageBox::Icon Icon, const QString& Kind, const QString& Text, QWidget* Owner)
{
    if (Script().Active) {
        Record(Kind, ProductName, Text);
        return;
    }
    QMessageBox Box(Icon, ProductName, DisplayText(Text), QMessageBox::Ok, OwnerOrMain(Owner));
    Box.setObjectName(QStringLiteral("MessageBox"));
    Box.exec();
}

TDialogResult Ask(const QString& Text, QWidget* Owner, const QString& Caption, bool WithCancel, bool DefaultNo = false)
{
    if (Script().Active) {
        Record(QStringLiteral("question"), Caption, Text);
        const TDialogResult Answer = NextAnswer(WithCancel ? drCancel : drNo);
        if (!WithCancel && Answer != drYes)
            return drNo;
        return Answer == drOK ? drYes : Answer;
    }
    QMessageBox::StandardButtons Buttons = QMessageBox::Yes | QMessageBox::No;
    if (WithCancel)
        Buttons |= QMessageBox::Cancel;
    QMessageBox Box(QMessageBox::Question, Caption, DisplayText(Text), Buttons, OwnerOrMain(Owner));
    Box.setObjectName(QStringLiteral("MessageBox"));
    Box.button(QMessageBox::Yes)->setText(QStringLiteral("Так"));
    Box.button(QMessageBox::No)->setText(QStringLiteral("Ні"));
    if (WithCancel)
        Box.button(QMessageBox::Cancel)->setText(QStringLiteral("Скасувати"));
    if (DefaultNo)
        Box.setDefaultButton(QMessageBox::No);
    switch (Box.exec()) {
    case QMessageBox::Yes:
        return drYes;
    case QMessageBox::No:
        return drNo;
    default:
        return WithCancel ? drCancel : drNo;
    }
}

} // namespace

QString QtFilter(const QString& Filter)
{
    if (!Filter.contains(QLatin1Char('|')))
        return Filter;
    const QStringList Parts = Filter.split(QLatin1Char('|'));
    QStringList Filters;
    for (qsizetype I = 0; I + 1 < Parts.size(); I += 2) {
        // Qt takes the patterns from the description's last parentheses,
        // separated by blanks: the pair's own patterns replace whatever the
        // description shows there ("(*.RPL, *.XML)" would hide the .RPL files).
        QString Description = Parts[I].trimmed();
        if (Description.endsWith(QLatin1Char(')'))) {
            const qsizetype Open = Description.lastIndexOf(QLatin1Char('('));
            if (Open >= 0)
                Description = Description.left(Open).trimmed();
        }
        QString Patterns = Parts[I + 1];
        Patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        Filters << Description + QStringLiteral(" (") + Patterns.simplified() + QLatin1Char(')');
    }
    return Filters.join(QStringLiteral(";;"));
}

namespace {

QString StartPath(const QString& StartFolder, const QString& Name)
{
    if (StartFolder.isEmpty())
        return Name;
    return Name.isEmpty() ? StartFolder : QDir(StartFolder).filePath(Name);
}

} // namespace

QDialogButtonBox* OkCancelButtons(QDialog* Dialog)
{
    // Inside the dialog before OK is made default: a dialog keeps a default it
    // knows as its own, and gives it back after another button (a busy
    // indicator's Cancel) held the focus for a while.
    auto* Buttons = new QDialogButtonBox(Dialog);
    auto* ButtonOK = Buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    ButtonOK->setDefault(true);
    auto* ButtonCancel = Buttons->addButton(QStringLiteral("Скасувати"), QDialogButtonBox::RejectRole);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    QObject::connect(Buttons, &QDialogButtonBox::accepted, Dialog, &QDialog::accept);
    QObject::connect(Buttons, &QDialogButtonBox::rejected, Dialog, &QDialog::reject);
    return Buttons;
}

QWidget* ApplicationMainWindow()
{
    const QWidgetList Windows = QApplication::topLevelWidgets();
    for (QWidget* Window : Windows)
        if (Window->objectName() == QLatin1String("TqorMainForm"))
            return Window;
    return nullptr;
}

void ShowInfo(const QString& Text, QWidget* Owner)
{
    ShowBox(QMessageBox::Information, QStringLiteral("info"), Text, Owner);
}

void ShowError(const QString& Text, QWidget* Owner)
{
    ShowBox(QMessageBox::Critical, QStringLiteral("error"), Text, Owner);
}

void ShowWarning(const QString& Text, QWidget* Owner)
{
    ShowBox(QMessageBox::Warning, QStringLiteral("warning"), Text, Owner);
}

TDialogResult AskYesNo(const QString& Text, QWidget* Owner, const QString& Caption)
{
    return Ask(Text, Owner, Caption, false);
}

TDialogResult AskYesNoDefaultNo(const QString& Text, QWidget* Owner)
{
    return Ask(Text, Owner, QStringLiteral("Kelvora"), false, true);
}

TDialogResult AskYesNoCancel(const QString& Text, QWidget* Owner, const QString& Caption)
{
    return Ask(Text, Owner, Caption, true);
}

bool SelectFolder(const QString& Title, QWidget* Owner, QString& Folder, const QString& StartFolder)
{
    QString Chosen;
    if (Script().Active) {
        Record(QStringLiteral("folder"), Title, QString(), StartFolder);
        auto& Folders = Script().Folders;
        if (!Folders.empty()) {
            Chosen = Folders.front();
            Folders.pop_front();
        }
    } else {
        Chosen = QFileDialog::getExistingDirectory(OwnerOrMain(Owner), Title, StartFolder, QFileDialog::ShowDirsOnly);
    }
    if (Chosen.isEmpty())
        return false;
    Folder = QDir::toNativeSeparators(QDir::cleanPath(QDir(Chosen).absolutePath()));
    return true;
}

QString SelectOpenFile(const QString& Title, QWidget* Owner, const QString& Filter, const QString& StartFolder)
{
    if (Script().Active) {
        Record(QStringLiteral("open"), Title, Filter, StartFolder);
        const QStringList Files = NextFiles();
        return Files.isEmpty() ? QString() : Files.first();
    }
    return QFileDialog::getOpenFileName(OwnerOrMain(Owner), Title, StartFolder, QtFilter(Filter));
}

QStringList SelectOpenFiles(const QString& Title, QWidget* Owner, const QString& Filter, const QString& StartFolder)
{
    if (Script().Active) {
        Record(QStringLiteral("open"), Title, Filter, StartFolder);
        return NextFiles();
    }
    return QFileDialog::getOpenFileNames(OwnerOrMain(Owner), Title, StartFolder, QtFilter(Filter));
}

QString SelectSaveFile(const QString& Title, QWidget* Owner, const QString& Filter, const QString& StartFolder,
                       const QString& ProposedName)
{
    if (Script().Active) {
        Record(QStringLiteral("save"), Title, Filter, StartFolder, ProposedName);
        const QStringList Files = NextFiles();
        return Files.isEmpty() ? QString() : Files.first();
    }
    // Overwriting is the caller's question (it names the file in its own words).
    return QFileDialog::getSaveFileName(OwnerOrMain(Owner), Title, StartPath(StartFolder, ProposedName),
                                        QtFilter(Filter), nullptr, QFileDialog::DontConfirmOverwrite);
}

bool OpenUrl(const QUrl& Url)
{
    if (Script().Active) {
        Record(QStringLiteral("url"), QString(), Url.toString());
        return true;
    }
    return QDesktopServices::openUrl(Url);
}

QString HelpFile(int Context) { return GetRootFolder() + QStringLiteral("help/%1.html").arg(Context); }

void ShowHelp(int Context) { OpenUrl(QUrl::fromLocalFile(HelpFile(Context))); }

void TDialogScript::Start()
{
    Script() = TScriptState();
    Script().Active = true;
}

void TDialogScript::Stop() { Script() = TScriptState(); }

bool TDialogScript::Active() { return Script().Active; }

void TDialogScript::Answer(TDialogResult Result) { Script().Answers.push_back(Result); }

void TDialogScript::Files(const QStringList& Files) { Script().Files.push_back(Files); }

void TDialogScript::Folder(const QString& Folder) { Script().Folders.push_back(Folder); }

QList<TDialogScript::TRecord> TDialogScript::Shown() { return Script().Shown; }

void TDialogScript::ClearShown() { Script().Shown.clear(); }

} // namespace kelvora
