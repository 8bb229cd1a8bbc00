#include "CPortTypes.h"

TComPortAbstract::TComPortAbstract(QObject* owner)
    : QObject(owner), FParity(new TComParity(this)), FTimeouts(new TComTimeouts(this))
{
}

TComPortAbstract::~TComPortAbstract()
{
    delete FParity;
    delete FTimeouts;
}

// A new value is stored and its group re-applied; an equal value changes nothing.
void TComParity::SetBits(TParityBits v)
{
    if (v == FBits)
        return;
    FBits = v;
    FComPort->ApplyDCB();
}

void TComParity::SetCheck(bool v)
{
    if (v == FCheck)
        return;
    FCheck = v;
    FComPort->ApplyDCB();
}

void TComParity::SetReplace(bool v)
{
    if (v == FReplace)
        return;
    FReplace = v;
    FComPort->ApplyDCB();
}

void TComParity::SetReplaceChar(char v)
{
    if (v == FReplaceChar)
        return;
    FReplaceChar = v;
    FComPort->ApplyDCB();
}

void TComTimeouts::SetReadInterval(std::int32_t v)
{
    if (v == FReadInterval)
        return;
    FReadInterval = v;
    FComPort->ApplyTimeouts();
}

void TComTimeouts::SetReadTotalMultiplier(std::int32_t v)
{
    if (v == FReadTotalM)
        return;
    FReadTotalM = v;
    FComPort->ApplyTimeouts();
}

void TComTimeouts::SetReadTotalConstant(std::int32_t v)
{
    if (v == FReadTotalC)
        return;
    FReadTotalC = v;
    FComPort->ApplyTimeouts();
}

void TComTimeouts::SetWriteTotalMultiplier(std::int32_t v)
{
    if (v == FWriteTotalM)
        return;
    FWriteTotalM = v;
    FComPort->ApplyTimeouts();
}

void TComTimeouts::SetWriteTotalConstant(std::int32_t v)
{
    if (v == FWriteTotalC)
        return;
    FWriteTotalC = v;
    FComPort->ApplyTimeouts();
}
