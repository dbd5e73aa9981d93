#include "uWorkPage.h"

#include "uStateIcons.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

namespace kelvora {

TWorkPage::TWorkPage(int ProfileId, QWidget* Parent) : QWidget(Parent), FProfileId(ProfileId)
{
    // The pages' lists mark each state with a picture.
    InstallStateIcons();
}

QWidget* CreatePageHeader(QWidget* Parent, const QString& Title, const QString& Subtitle)
{
    auto* Header = new QFrame(Parent);
    Header->setObjectName(QStringLiteral("PanelHeader"));
    Header->setAutoFillBackground(true);
    QPalette Palette = Header->palette();
    Palette.setColor(QPalette::Window, Qt::white);
    Header->setPalette(Palette);
    Header->setFrameShape(QFrame::StyledPanel);
    auto* Layout = new QVBoxLayout(Header);
    auto* TitleLabel = new QLabel(Title, Header);
    TitleLabel->setObjectName(QStringLiteral("LabelHeader"));
    QFont Bold = TitleLabel->font();
    Bold.setBold(true);
    Bold.setPointSizeF(Bold.pointSizeF() * 1.2);
    TitleLabel->setFont(Bold);
    auto* SubtitleLabel = new QLabel(Subtitle, Header);
    SubtitleLabel->setObjectName(QStringLiteral("LabelSubHeader"));
    Layout->addWidget(TitleLabel);
    Layout->addWidget(SubtitleLabel);
    return Header;
}

} // namespace kelvora
