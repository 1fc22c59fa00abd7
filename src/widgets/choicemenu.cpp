#include "choicemenu.h"

#include <QAction>
#include <QActionGroup>

#include <utility>

ChoiceMenu::ChoiceMenu(const QString &title, std::function<void(int)> choose, QWidget *parent)
    : QMenu(title, parent)
    , group(new QActionGroup(this))
    , choose(std::move(choose))
{
}

void ChoiceMenu::addChoice(const QString &text, int value)
{
    QAction *action = addAction(text);
    action->setCheckable(true);
    action->setData(value);
    group->addAction(action);
    connect(action, &QAction::triggered, this, [this, value] { choose(value); });
}

void ChoiceMenu::showChoice(int value)
{
    for (QAction *action : actions())
        action->setChecked(action->data().toInt() == value);
}
