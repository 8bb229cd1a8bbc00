// Enumerations, the settings objects and the abstract port of the serial port
// component.
#pragma once

#include <QObject>

#include <cstdint>
#include <initializer_list>
#include <string>

enum TBaudRate {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TComEvent {
    evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
enum TSyncMethod { smThreadSync, smWindowSync, smNone, smDisableEvents };
enum TOperationKind { okWrite, okRead };

// A set of TComEvent, bit n for value n.
struct TComEvents {
    std::uint16_t bits = 0;
    constexpr TComEvents() = default;
    constexpr TComEvents(std::initializer_list<TComEvent> evs)
    {
        for (auto e : evs)
            bits = std::uint16_t(bits | (1u << e));
    }
    constexpr bool contains(TComEvent e) const { return bits & (1u << e); }
    constexpr bool empty() const { return bits == 0; }
    constexpr bool operator==(const TComEvents&) const = default;
    static constexpr TComEvents All() { TComEvents s; s.bits = 0x03FF; return s; }
};

// Stores `value` in `field` and says whether it changed.
template <class T>
bool StoreIfChanged(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

class TComPortAbstract;

// The groups of settings the port re-applies as a whole.
enum class TComApply { Buffer, DCB, Timeouts };
void ComApply(TComPortAbstract& port, TComApply group);

// Every setter of the component: a new value is stored and its group
// re-applied to the port; an equal value does nothing.
template <class T>
void StoreAndApply(TComPortAbstract& port, TComApply group, T& field, const T& value)
{
    if (StoreIfChanged(field, value))
        ComApply(port, group);
}

// Base of the settings objects: owned by the port, re-applying one group of it.
template <TComApply Group>
class TComSettings {
public:
    explicit TComSettings(TComPortAbstract& port) : FComPort(&port) {}
    TComSettings(const TComSettings&) = delete;
    TComSettings& operator=(const TComSettings&) = delete;

protected:
    template <class T>
    void Store(T& field, const T& value) { StoreAndApply(*FComPort, Group, field, value); }

    TComPortAbstract* FComPort;
};

class TComParity : public TComSettings<TComApply::DCB> {
public:
    using TComSettings::TComSettings;
    TParityBits Bits() const { return FBits; }
    bool Check() const { return FCheck; }
    bool Replace() const { return FReplace; }
    char ReplaceChar() const { return FReplaceChar; }
    void SetBits(TParityBits v) { Store(FBits, v); }
    void SetCheck(bool v) { Store(FCheck, v); }
    void SetReplace(bool v) { Store(FReplace, v); }
    void SetReplaceChar(char v) { Store(FReplaceChar, v); }

private:
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

class TComTimeouts : public TComSettings<TComApply::Timeouts> {
public:
    using TComSettings::TComSettings;
    std::int32_t ReadInterval() const { return FReadInterval; }
    std::int32_t ReadTotalMultiplier() const { return FReadTotalM; }
    std::int32_t ReadTotalConstant() const { return FReadTotalC; }
    std::int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
    std::int32_t WriteTotalConstant() const { return FWriteTotalC; }
    void SetReadInterval(std::int32_t v) { Store(FReadInterval, v); }
    void SetReadTotalMultiplier(std::int32_t v) { Store(FReadTotalM, v); }
    void SetReadTotalConstant(std::int32_t v) { Store(FReadTotalC, v); }
    void SetWriteTotalMultiplier(std::int32_t v) { Store(FWriteTotalM, v); }
    void SetWriteTotalConstant(std::int32_t v) { Store(FWriteTotalC, v); }

private:
    std::int32_t FReadInterval = -1;
    std::int32_t FReadTotalM = 0;
    std::int32_t FReadTotalC = 0;
    std::int32_t FWriteTotalM = 100;
    std::int32_t FWriteTotalC = 1000;
};

class TComBuffer : public TComSettings<TComApply::Buffer> {
public:
    using TComSettings::TComSettings;
    std::int32_t InputSize() const { return FInputSize; }
    std::int32_t OutputSize() const { return FOutputSize; }
    void SetInputSize(std::int32_t v) { Store(FInputSize, Even(v)); }
    void SetOutputSize(std::int32_t v) { Store(FOutputSize, Even(v)); }

private:
    // An odd positive size is stored one less.
    static std::int32_t Even(std::int32_t v) { return v > 0 && v % 2 == 1 ? v - 1 : v; }

    std::int32_t FInputSize = 1024;
    std::int32_t FOutputSize = 1024;
};

class TComFlowControl : public TComSettings<TComApply::DCB> {
public:
    using TComSettings::TComSettings;
    bool OutCTSFlow() const { return FOutCTSFlow; }
    bool OutDSRFlow() const { return FOutDSRFlow; }
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DSRSensitivity() const { return FDSRSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    void SetOutCTSFlow(bool v) { Store(FOutCTSFlow, v); }
    void SetOutDSRFlow(bool v) { Store(FOutDSRFlow, v); }
    void SetControlDTR(TDTRFlowControl v) { Store(FControlDTR, v); }
    void SetControlRTS(TRTSFlowControl v) { Store(FControlRTS, v); }
    void SetXonXoffOut(bool v) { Store(FXonXoffOut, v); }
    void SetXonXoffIn(bool v) { Store(FXonXoffIn, v); }
    void SetDSRSensitivity(bool v) { Store(FDSRSensitivity, v); }
    void SetTxContinueOnXoff(bool v) { Store(FTxContinueOnXoff, v); }
    void SetXonChar(char v) { Store(FXonChar, v); }
    void SetXoffChar(char v) { Store(FXoffChar, v); }

private:
    bool FOutCTSFlow = false, FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false, FXonXoffIn = false, FDSRSensitivity = false,
         FTxContinueOnXoff = false;
    char FXonChar = 17, FXoffChar = 19;
};

// The component base: an owned QObject (destroyed with its owner) holding the
// line settings. All behaviour lives in TCustomComPort.
class TComPortAbstract : public QObject {
    Q_OBJECT
public:
    explicit TComPortAbstract(QObject* owner) : QObject(owner) {}

    virtual void SetConnected(bool value) = 0;
    virtual bool GetConnected() const = 0;
    virtual void CreateHandle() = 0;
    virtual void DestroyHandle() = 0;
    virtual void ApplyDCB() = 0;
    virtual void ApplyTimeouts() = 0;
    virtual void ApplyBuffer() = 0;
    virtual void SetupComPort() = 0;
    virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
    virtual std::int32_t WriteStr(const std::string& str) = 0;
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    virtual std::int32_t ReadStr(std::string& str, std::int32_t count) = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;

    TBaudRate BaudRate() const { return FBaudRate; }
    std::int32_t CustomBaudRate() const { return FCustomBaudRate; }
    const std::string& Port() const { return FPort; }
    TStopBits StopBits() const { return FStopBits; }
    TDataBits DataBits() const { return FDataBits; }
    TComParity& Parity() { return FParity; }
    TComTimeouts& Timeouts() { return FTimeouts; }

protected:
    TBaudRate FBaudRate = br9600;
    std::int32_t FCustomBaudRate = 9600;
    std::string FPort = "COM1";
    TStopBits FStopBits = sbOneStopBit;
    TDataBits FDataBits = dbEight;
    TComParity FParity{*this};
    TComTimeouts FTimeouts{*this};
};
