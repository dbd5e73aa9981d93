#pragma once

// The about box: the program's version, the maker's site, and what the last
// update check found.

#include "uHelpDialog.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QWidget;

namespace kelvora {

class TAboutForm : public THelpDialog {
public:
    explicit TAboutForm(QWidget* Owner);

    // The panel shown for the last update check: "PanelUpdateError",
    // "PanelUpdateAvailable" or "PanelUpToDate".
    QWidget* UpdatePanel() const { return FUpdatePanel; }
    QLabel* LinkInstall() const { return FLinkInstall; }
    QLabel* LinkSite() const { return FLinkSite; }
    QPushButton* ButtonOK() const { return FButtonOK; }

private:
    QWidget* FUpdatePanel = nullptr;
    QLabel* FLinkInstall = nullptr;
    QLabel* FLinkSite = nullptr;
    QPushButton* FButtonOK = nullptr;
};

// The maker's web site: params.xml "maker_site_url", or this when unset.
QString MakerSiteUrl();

// The help page of the about box (F1): updates and versions.
constexpr int kAboutHelpContext = 1042;

// True when the box closed with OK (the user chose to install the update).
bool ShowAboutForm(QWidget* Owner = nullptr);

} // namespace kelvora
