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
    if (StoreIfChanged(FBits, v))
        FComPort->ApplyDCB();
}

void TComParity::SetCheck(bool v)
{
    if (StoreIfChanged(FCheck, v))
        FComPort->ApplyDCB();
}

void TComParity::SetReplace(bool v)
{
    if (StoreIfChanged(FReplace, v))
        FComPort->ApplyDCB();
}

void TComParity::SetReplaceChar(char v)
{
    if (StoreIfChanged(FReplaceChar, v))
        FComPort->ApplyDCB();
}

void TComTimeouts::SetReadInterval(std::int32_t v)
{
    if (StoreIfChanged(FReadInterval, v))
        FComPort->ApplyTimeouts();
}

void TComTimeouts::SetReadTotalMultiplier(std::int32_t v)
{
    if (StoreIfChanged(FReadTotalM, v))
        FComPort->ApplyTimeouts();
}

void TComTimeouts::SetReadTotalConstant(std::int32_t v)
{
    if (StoreIfChanged(FReadTotalC, v))
        FComPort->ApplyTimeouts();
}

void TComTimeouts::SetWriteTotalMultiplier(std::int32_t v)
{
    if (StoreIfChanged(FWriteTotalM, v))
        FComPort->ApplyTimeouts();
}

void TComTimeouts::SetWriteTotalConstant(std::int32_t v)
{
    if (StoreIfChanged(FWriteTotalC, v))
        FComPort->ApplyTimeouts();
}
