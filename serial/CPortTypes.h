// Enumerations, the abstract port and the settings objects of the serial port
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

// Stores `value` in `field` and says whether it changed: every setter of the
// component re-applies its settings only for a new value.
template <class T>
bool StoreIfChanged(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

class TComPortAbstract;

class TComParity {
public:
    explicit TComParity(TComPortAbstract* port) : FComPort(port) {}
    TParityBits Bits() const { return FBits; }
    bool Check() const { return FCheck; }
    bool Replace() const { return FReplace; }
    char ReplaceChar() const { return FReplaceChar; }
    void SetBits(TParityBits v);
    void SetCheck(bool v);
    void SetReplace(bool v);
    void SetReplaceChar(char v);

private:
    TComPortAbstract* FComPort;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

class TComTimeouts {
public:
    explicit TComTimeouts(TComPortAbstract* port) : FComPort(port) {}
    std::int32_t ReadInterval() const { return FReadInterval; }
    std::int32_t ReadTotalMultiplier() const { return FReadTotalM; }
    std::int32_t ReadTotalConstant() const { return FReadTotalC; }
    std::int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
    std::int32_t WriteTotalConstant() const { return FWriteTotalC; }
    void SetReadInterval(std::int32_t v);
    void SetReadTotalMultiplier(std::int32_t v);
    void SetReadTotalConstant(std::int32_t v);
    void SetWriteTotalMultiplier(std::int32_t v);
    void SetWriteTotalConstant(std::int32_t v);

private:
    TComPortAbstract* FComPort;
    std::int32_t FReadInterval = -1;
    std::int32_t FReadTotalM = 0;
    std::int32_t FReadTotalC = 0;
    std::int32_t FWriteTotalM = 100;
    std::int32_t FWriteTotalC = 1000;
};

// The component base: an owned QObject (destroyed with its owner) holding the
// line settings. All behaviour lives in TCustomComPort.
class TComPortAbstract : public QObject {
    Q_OBJECT
public:
    explicit TComPortAbstract(QObject* owner);
    ~TComPortAbstract() override;

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
    TComParity& Parity() { return *FParity; }
    TComTimeouts& Timeouts() { return *FTimeouts; }

protected:
    TBaudRate FBaudRate = br9600;
    std::int32_t FCustomBaudRate = 9600;
    std::string FPort = "COM1";
    TStopBits FStopBits = sbOneStopBit;
    TDataBits FDataBits = dbEight;
    TComParity* FParity;
    TComTimeouts* FTimeouts;
};
