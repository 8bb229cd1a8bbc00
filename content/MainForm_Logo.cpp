// The graphics page's logo send and the structure listing of the text records.
#include "MainForm_Content.h"

#include "content/StructListing.h"
#include "ui/MainUnit.h"

void TMainForm::btnSendLogoClick()
{
    send_cmd_putLogo(BuildLogoFrame(std::uint8_t(SpinValue(seLogo))));
}

void TMainForm::btshowStrucClick()
{
    ShowStruct_SendText();
    ShowStruct_SendTextFrame();
}

void TMainForm::ShowStruct_SendText()
{
    for (const std::string& line : StructListingSendText())
        LogLine(line);
}

void TMainForm::ShowStruct_SendTextFrame()
{
    for (const std::string& line : StructListingSendTextFrame())
        LogLine(line);
}
