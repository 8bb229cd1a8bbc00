// The window's text and graphics pages.
#include "ui/MainUnit.h"

void TMainForm::ConnectContentHandlers() {}
void TMainForm::Init_StatycznyText() {}
void TMainForm::Init_DynamicznyText() {}
