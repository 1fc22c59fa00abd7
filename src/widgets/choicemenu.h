#ifndef CHOICEMENU_H
#define CHOICEMENU_H

#include <QMenu>
#include <QString>

#include <functional>

class QActionGroup;

// A submenu of choices that exclude each other, each standing for a whole number (a flicker limit in
// L*, an index of the display table): picking one calls choose with its number.
class ChoiceMenu : public QMenu
{
    Q_OBJECT

public:
    ChoiceMenu(const QString &title, std::function<void(int)> choose, QWidget *parent);

    // Adds a checkable entry text that stands for value.
    void addChoice(const QString &text, int value);
    // Checks the entry that stands for value (none where no entry does), as the menu opens.
    void showChoice(int value);

private:
    QActionGroup *group;
    std::function<void(int)> choose;
};

#endif
