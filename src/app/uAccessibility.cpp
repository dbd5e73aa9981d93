#include "uAccessibility.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>

namespace kelvora {

namespace {

// The layout that holds Widget directly, and Widget's index in it.
QLayout* HoldingLayout(QLayout* Layout, QWidget* Widget, int& Index)
{
    for (int I = 0; I < Layout->count(); ++I) {
        QLayoutItem* Item = Layout->itemAt(I);
        if (Item->widget() == Widget) {
            Index = I;
            return Layout;
        }
        if (Item->layout())
            if (QLayout* Found = HoldingLayout(Item->layout(), Widget, Index))
                return Found;
    }
    return nullptr;
}

QLabel* LabelAt(QLayoutItem* Item)
{
    auto* Label = Item ? qobject_cast<QLabel*>(Item->widget()) : nullptr;
    return Label && !Label->text().trimmed().isEmpty() ? Label : nullptr;
}

// The caption laid out just before Control: the form row's label, the grid
// cell to its left (or above it), or the box's previous item.
QLabel* CaptionOf(QWidget* Control)
{
    QWidget* Parent = Control->parentWidget();
    if (!Parent || !Parent->layout())
        return nullptr;
    int Index = -1;
    QLayout* Layout = HoldingLayout(Parent->layout(), Control, Index);
    if (auto* Form = qobject_cast<QFormLayout*>(Layout))
        return qobject_cast<QLabel*>(Form->labelForField(Control));
    if (auto* Grid = qobject_cast<QGridLayout*>(Layout)) {
        int Row = 0, Column = 0, RowSpan = 0, ColumnSpan = 0;
        Grid->getItemPosition(Index, &Row, &Column, &RowSpan, &ColumnSpan);
        if (QLabel* Left = Column > 0 ? LabelAt(Grid->itemAtPosition(Row, Column - 1)) : nullptr)
            return Left;
        return Row > 0 ? LabelAt(Grid->itemAtPosition(Row - 1, Column)) : nullptr;
    }
    if (qobject_cast<QBoxLayout*>(Layout) && Index > 0)
        return LabelAt(Layout->itemAt(Index - 1));
    return nullptr;
}

QString Plain(QString Text)
{
    Text.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    Text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    Text.remove(u'&');
    Text.replace(u'\x01', u'&');
    Text = Text.simplified();
    while (Text.endsWith(u':'))
        Text.chop(1);
    return Text;
}

class TNamer : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* Object, QEvent* Event) override
    {
        if (Event->type() != QEvent::Polish || !Object->isWidgetType())
            return false;
        auto* Widget = static_cast<QWidget*>(Object);
        if (qobject_cast<QToolButton*>(Widget) && qobject_cast<QToolBar*>(Widget->parentWidget()) &&
            Widget->focusPolicy() == Qt::NoFocus)
            Widget->setFocusPolicy(Qt::TabFocus);
        NameFromLabel(Widget);
        return false;
    }
};

} // namespace

void InstallAccessibility()
{
    // Guarded: a later application object gets its own filter.
    static QPointer<TNamer> Namer;
    if (Namer || !qApp)
        return;
    Namer = new TNamer(qApp);
    qApp->installEventFilter(Namer);
}

bool NeedsAccessibleName(QWidget* Widget)
{
    // A control that hands its focus on (a tab widget to its tab bar) is not met itself.
    if (!(Widget->focusPolicy() & Qt::TabFocus) || Widget->isWindow() || Widget->focusProxy())
        return false;
    // Inner parts of Qt's composite controls (a spin box's or a combo box's
    // editor, a scroll area's viewport) are named by the control; a tab bar's
    // tabs carry their own names.
    QWidget* Parent = Widget->parentWidget();
    return !Widget->objectName().startsWith(QLatin1String("qt_")) && !qobject_cast<QTabBar*>(Widget) &&
           !qobject_cast<QAbstractSpinBox*>(Parent) && !qobject_cast<QComboBox*>(Parent);
}

QString AccessibleName(QWidget* Widget)
{
    QAccessibleInterface* Interface = QAccessible::queryAccessibleInterface(Widget);
    return Interface ? Interface->text(QAccessible::Name).trimmed() : QString();
}

void NameFromLabel(QWidget* Control)
{
    if (!NeedsAccessibleName(Control) || !AccessibleName(Control).isEmpty())
        return;
    if (QLabel* Caption = CaptionOf(Control)) {
        // A buddy names a sibling only (that is where screen readers look).
        if (!Caption->buddy() && Caption->parentWidget() == Control->parentWidget())
            Caption->setBuddy(Control);
        else
            Control->setAccessibleName(Plain(Caption->text()));
        return;
    }
    auto* Group = qobject_cast<QGroupBox*>(Control->parentWidget());
    QString Name = Group ? Plain(Group->title()) : QString();
    if (Name.isEmpty())
        Name = Plain(Control->toolTip());
    if (auto* Edit = qobject_cast<QLineEdit*>(Control); Edit && Name.isEmpty())
        Name = Plain(Edit->placeholderText());
    if (!Name.isEmpty())
        Control->setAccessibleName(Name);
}

} // namespace kelvora
