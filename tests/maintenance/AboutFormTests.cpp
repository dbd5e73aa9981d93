// The about box: what it says after each outcome of the update check.

#include "FormsSupport.h"
#include "GuiTest.h"
#include "HttpTestServer.h"

#include "uAboutForm.h"
#include "uFactories.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class AboutForm : public GuiTest {
protected:
    static QByteArray UpdateXml(int Revision)
    {
        return QStringLiteral("<update><info revision=\"%1\" name=\"Kelvora 1.%1\">Виправлення для звітності за "
                              "квартал</info><file size=\"7.3 МБ\" hash=\"00\" url=\"https://h/setup.run\"/></update>")
            .arg(Revision)
            .toUtf8();
    }
};

} // namespace

TEST_F(AboutForm, TellsWhatTheLastCheckFound)
{
    THttpTestServer Server;
    ASSERT_TRUE(Server.Start());
    Server.Put(QStringLiteral("same.xml"), UpdateXml(5));
    Server.Put(QStringLiteral("newer.xml"), UpdateXml(6));
    struct TCase {
        QString Screenshot;
        QString ProgramRevision;
        QString Served; // checked at start-up; empty: no check ran
        QString Panel;
        QString Text;
    };
    for (const TCase& Case :
         {TCase{QStringLiteral("about_error"), QStringLiteral("5"), QString(), QStringLiteral("PanelUpdateError"),
                QStringLiteral("Не вдалося перевірити оновлення.")},
          TCase{QString(), QStringLiteral("5"), QStringLiteral("missing.xml"), QStringLiteral("PanelUpdateError"),
                QStringLiteral("Не вдалося перевірити оновлення.")},
          TCase{QStringLiteral("about_latest"), QStringLiteral("5"), QStringLiteral("same.xml"),
                QStringLiteral("PanelUpToDate"), QStringLiteral("Ви маєте найновішу версію програми")},
          TCase{QStringLiteral("about_update"), QStringLiteral("5"), QStringLiteral("newer.xml"),
                QStringLiteral("PanelUpdateAvailable"), QStringLiteral("Kelvora 1.6")},
          TCase{QString(), QStringLiteral("dev"), QStringLiteral("same.xml"), QStringLiteral("PanelUpdateAvailable"),
                QStringLiteral("Kelvora 1.5")}}) {
        SCOPED_TRACE(Case.Panel.toStdString() + " " + Case.Served.toStdString());
        WriteParams({{QStringLiteral("software_version"), QStringLiteral("1.5.0")},
                     {QStringLiteral("software_revision"), Case.ProgramRevision},
                     {QStringLiteral("update_url"), Server.Url(Case.Served)}});
        if (!Case.Served.isEmpty()) {
            // The main window's check at start-up; a 404 fails it.
            try {
                GetUpdater()->CheckForUpdate();
            } catch (const std::exception&) {
            }
        }
        TAboutForm Form(nullptr);
        EXPECT_EQ(Form.windowTitle(), QStringLiteral("Про програму"));
        EXPECT_EQ(Form.findChild<QLabel*>(QStringLiteral("LabelVersion"))->text(), QStringLiteral("1.5.0"));
        ASSERT_EQ(Form.UpdatePanel()->objectName(), Case.Panel);
        QStringList Texts;
        for (QLabel* Label : Form.UpdatePanel()->findChildren<QLabel*>())
            Texts << Label->text();
        EXPECT_TRUE(Texts.contains(Case.Text)) << Texts.join(u'|').toStdString();
        if (Case.Panel == QStringLiteral("PanelUpdateAvailable")) {
            EXPECT_EQ(Form.LinkInstall()->toolTip(), QStringLiteral("Виправлення для звітності за квартал"));
            ClickLink(Form.LinkInstall());
            EXPECT_EQ(Form.result(), QDialog::Accepted) << "the link chooses the installation";
        }
        if (!Case.Screenshot.isEmpty())
            SaveScreenshot(&Form, Case.Screenshot);
    }
}

TEST_F(AboutForm, ClosingIsNotTheInstallChoice)
{
    WriteParams({{QStringLiteral("maker_site_url"), QStringLiteral("https://kelvora.example.org/")}});
    {
        TAboutForm Form(nullptr);
        Form.show();
        ClickLink(Form.LinkSite());
        ASSERT_EQ(Shown(QStringLiteral("url")).size(), 1);
        EXPECT_EQ(Shown(QStringLiteral("url"))[0].Text, QStringLiteral("https://kelvora.example.org/"));
        QTest::keyClick(&Form, Qt::Key_Escape);
        EXPECT_FALSE(Form.isVisible());
        EXPECT_EQ(Form.result(), QDialog::Rejected);
    }
    AnswerModal(QStringLiteral("TAboutForm"),
                [](QWidget* Form) { QTest::mouseClick(static_cast<TAboutForm*>(Form)->ButtonOK(), Qt::LeftButton); });
    EXPECT_FALSE(ShowAboutForm(nullptr));
}
