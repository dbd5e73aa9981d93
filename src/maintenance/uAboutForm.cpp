#include "uAboutForm.h"

#include "uApplication.h"
#include "uDialogs.h"
#include "uFactories.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace kelvora {

namespace {

QLabel* NewLabel(const QString& Name, const QString& Text, QWidget* Parent = nullptr)
{
    auto* Label = new QLabel(Text, Parent);
    Label->setObjectName(Name);
    Label->setTextFormat(Qt::PlainText);
    return Label;
}

QLabel* NewLink(const QString& Name, const QString& Text, QWidget* Parent = nullptr)
{
    auto* Label = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(Text.toHtmlEscaped()), Parent);
    Label->setObjectName(Name);
    Label->setTextFormat(Qt::RichText);
    Label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    Label->setCursor(Qt::PointingHandCursor);
    return Label;
}

void SetTextColour(QWidget* Widget, const QColor& Colour)
{
    QPalette Palette = Widget->palette();
    Palette.setColor(QPalette::WindowText, Colour);
    Widget->setPalette(Palette);
}

int ProgramRevision()
{
    bool Ok = false;
    const int Value = GetConfiguration()->GetParam(QStringLiteral("software_revision"), QString()).trimmed().toInt(&Ok);
    return Ok ? Value : 0;
}

} // namespace

QString MakerSiteUrl()
{
    const QString Url = GetConfiguration()->GetParam(QStringLiteral("maker_site_url"), QString()).trimmed();
    return Url.isEmpty() ? QStringLiteral("https://www.example.com/") : Url;
}

TAboutForm::TAboutForm(QWidget* Owner) : THelpDialog(Owner, kAboutHelpContext)
{
    setObjectName(QStringLiteral("TAboutForm"));
    setWindowTitle(QStringLiteral("Про програму"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowIcon(ProgramIcon());
    IConfigurationPtr Configuration = GetConfiguration();

    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(18, 14, 18, 12);
    Layout->setSpacing(8);
    QString Product = Configuration->GetParam(QStringLiteral("software_name"), QString());
    if (Product.isEmpty())
        Product = QStringLiteral("Kelvora");
    QLabel* LabelProduct = NewLabel(QStringLiteral("LabelProduct"), Product);
    QFont Big = LabelProduct->font();
    Big.setBold(true);
    Big.setPointSizeF(Big.pointSizeF() * 1.6);
    LabelProduct->setFont(Big);
    // The program's icon beside its name, as the desktop shows it.
    auto* ProductRow = new QHBoxLayout;
    auto* LabelIcon = new QLabel;
    LabelIcon->setObjectName(QStringLiteral("LabelIcon"));
    LabelIcon->setPixmap(ProgramIcon().pixmap(48, 48));
    ProductRow->addWidget(LabelIcon);
    ProductRow->addWidget(LabelProduct, 1);
    Layout->addLayout(ProductRow);

    auto* VersionRow = new QHBoxLayout;
    VersionRow->addWidget(NewLabel(QStringLiteral("LabelVersionCaption"), QStringLiteral("Версія:")));
    VersionRow->addWidget(NewLabel(QStringLiteral("LabelVersion"),
                                   Configuration->GetParam(QStringLiteral("software_version"), QString())));
    VersionRow->addStretch(1);
    Layout->addLayout(VersionRow);

    const QString Site = MakerSiteUrl();
    FLinkSite = NewLink(QStringLiteral("LinkSite"), Site);
    QObject::connect(FLinkSite, &QLabel::linkActivated, this, [Site] { OpenUrl(QUrl(Site)); });
    Layout->addWidget(FLinkSite);

    // Only what the last check left behind: the box never downloads.
    TUpdateInfo Info;
    GetUpdater()->GetUpdateInfo(Info);
    FUpdatePanel = new QWidget;
    auto* Panel = new QHBoxLayout(FUpdatePanel);
    Panel->setContentsMargins(0, 6, 0, 6);
    if (Info.Revision < 0) {
        FUpdatePanel->setObjectName(QStringLiteral("PanelUpdateError"));
        QLabel* Text = NewLabel(QStringLiteral("LabelUpdateError"), QStringLiteral("Не вдалося перевірити оновлення."));
        SetTextColour(Text, QColor(0x80, 0, 0));
        Panel->addWidget(Text);
    } else if (ProgramRevision() < Info.Revision) {
        FUpdatePanel->setObjectName(QStringLiteral("PanelUpdateAvailable"));
        Panel->addWidget(NewLabel(QStringLiteral("LabelUpdateCaption"), QStringLiteral("Доступне оновлення:")));
        QLabel* Name = NewLabel(QStringLiteral("LabelUpdateName"), Info.name);
        QFont Bold = Name->font();
        Bold.setBold(true);
        Name->setFont(Bold);
        Name->setToolTip(Info.Description);
        Panel->addWidget(Name);
        FLinkInstall = NewLink(QStringLiteral("LinkInstall"), QStringLiteral("Встановити..."));
        FLinkInstall->setToolTip(Info.Description);
        QObject::connect(FLinkInstall, &QLabel::linkActivated, this, [this] { accept(); });
        Panel->addWidget(FLinkInstall);
    } else {
        FUpdatePanel->setObjectName(QStringLiteral("PanelUpToDate"));
        QLabel* Text = NewLabel(QStringLiteral("LabelUpToDate"), QStringLiteral("Ви маєте найновішу версію програми"));
        SetTextColour(Text, QColor(0, 0x80, 0));
        Panel->addWidget(Text);
    }
    Panel->addStretch(1);
    Layout->addWidget(FUpdatePanel);

    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch(1);
    // Closing is not the install choice: only the link closes with OK.
    FButtonOK = new QPushButton(QStringLiteral("OK"));
    FButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    FButtonOK->setDefault(true);
    QObject::connect(FButtonOK, &QPushButton::clicked, this, [this] { reject(); });
    Buttons->addWidget(FButtonOK);
    Layout->addLayout(Buttons);

    setFixedWidth(400);
    adjustSize();
    setFixedHeight(height());
}

bool ShowAboutForm(QWidget* Owner)
{
    TAboutForm Form(Owner);
    return Form.exec() == QDialog::Accepted;
}

} // namespace kelvora
