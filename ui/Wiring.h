// Connects a control's signal to a TMainForm handler that runs guarded: an
// error escaping it is shown in the error dialog and the program goes on.
#pragma once

#include "ui/Dialogs.h"
#include "ui/MainUnit.h"

#include <QObject>

template <class Sender, class Signal>
void Wire(TMainForm* form, Sender* sender, Signal signal, void (TMainForm::*handler)())
{
    QObject::connect(sender, signal, form,
                     [form, handler] { Guarded(form, [form, handler] { (form->*handler)(); }); });
}
