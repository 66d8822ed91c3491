// Where the shown picture is in the list, "12 of 164", in the viewer's top bar: the window's
// caption names the entry and nothing else.
#pragma once

#include <QLabel>
#include <QString>

// "n of m" for the entry at index (from 0) of count entries; empty when none is selected.
QString PositionText(int index, int count);

// The label at the right end of the bar, clear of the speed buttons however wide the bar is.
QLabel *MakePositionLabel(QWidget *bar);
