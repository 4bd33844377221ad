#pragma once

class QLabel;
class QWidget;

// The red line in a dialog that says why what was typed cannot be taken; hidden until then.
QLabel *NewProblemLabel(QWidget *parent);
