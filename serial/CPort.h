// The serial port component over POSIX termios, its event thread and the port
// list. Every call is made on the GUI thread; the event thread only waits for
// received bytes and hands each event over to the GUI thread.
#pragma once

#include "CPortTypes.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Error codes and their texts.
enum : std::int32_t {
    CError_OpenFailed = 1, CError_WriteFailed, CError_ReadFailed, CError_InvalidAsync,
    CError_PurgeFailed, CError_AsyncCheck, CError_SetStateFailed, CError_TimeoutsFailed,
    CError_SetupComFailed, CError_ClearComFailed, CError_ModemStatFailed, CError_EscapeComFailed,
    CError_TransmitFailed, CError_ConnChangeProp, CError_EnumPortsFailed, CError_StoreFailed,
    CError_LoadFailed, CError_RegFailed, CError_LedStateFailed, CError_ThreadCreated,
    CError_WaitFailed, CError_HasLink, CError_RegError
};

std::string ComErrorMessage(std::int32_t index);

class EComPort : public std::runtime_error {
public:
    // With a system error number: "COM Port Error: <text> on <portText>".
    EComPort(std::int32_t code, std::int32_t winCode, const std::string& portText);
    // Without one: "COM Port Error: <text>", WinCode -1.
    explicit EComPort(std::int32_t code);
    std::int32_t WinCode;
    std::int32_t Code;
};

// Speed names, indexed by TBaudRate.
extern const char* const BaudRateStrings[16];
std::string BaudRateToStr(TBaudRate value);
TBaudRate StrToBaudRate(const std::string& str);
// The bit/s a TBaudRate stands for (customRate for brCustom).
std::int32_t BaudRateToInt(TBaudRate value, std::int32_t customRate);

// Replaces `ports` by the serial device paths present (the ports of
// ListPortInfos, serial/PortInfo.h), sorted as text without regard to case.
// Raises EComPort(CError_RegError) when the list can't be read.
void EnumComPorts(std::vector<std::string>& ports);
// The port list's order: as text without regard to case (COM10 before COM2),
// duplicates kept.
void SortPortNames(std::vector<std::string>& ports);
bool PortNameLess(const std::string& a, const std::string& b);
// Same, reading another sysfs class folder (tests).
void EnumComPortsFrom(const std::string& sysClassTty, std::vector<std::string>& ports);
// The device path a port name stands for: "/..." as is, "COMn" -> /dev/ttyS(n-1),
// anything else under /dev/ (QV_DEV_ROOT when that is set).
std::string PortNameToDevice(const std::string& name);

// Line events to the event mask bits (EV_RXCHAR 0x0001 ... EV_RX80FULL 0x0400) and back.
std::uint32_t EventsToInt(TComEvents events);
TComEvents IntToEvents(std::uint32_t mask);

class TComThread; // private to the component

enum class TThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

class TCustomComPort : public TComPortAbstract {
    Q_OBJECT
public:
    using TRxCharEvent = std::function<void(TCustomComPort* sender, std::int32_t count)>;
    using TLineLostEvent = std::function<void(TCustomComPort* sender)>;

    explicit TCustomComPort(QObject* owner);
    ~TCustomComPort() override; // closes the port

    void SetConnected(bool value) override;
    bool GetConnected() const override;
    bool Connected() const { return GetConnected(); }
    void CreateHandle() override;
    void DestroyHandle() override;
    void ApplyDCB() override;
    void ApplyTimeouts() override;
    void ApplyBuffer() override;
    void SetupComPort() override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int32_t WriteStr(const std::string& str) override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t ReadStr(std::string& str, std::int32_t count) override;
    void Open() override;
    void Close() override;
    std::int32_t InputCount();

    void SetBaudRate(TBaudRate v) { StoreAndApply(*this, TComApply::DCB, FBaudRate, v); }
    void SetCustomBaudRate(std::int32_t v) { StoreAndApply(*this, TComApply::DCB, FCustomBaudRate, v); }
    void SetPort(const std::string& v); // reopens an open port
    void SetDataBits(TDataBits v) { StoreAndApply(*this, TComApply::DCB, FDataBits, v); }
    void SetStopBits(TStopBits v) { StoreAndApply(*this, TComApply::DCB, FStopBits, v); }
    void SetEventChar(char v) { StoreAndApply(*this, TComApply::DCB, FEventChar, v); }
    void SetDiscardNull(bool v) { StoreAndApply(*this, TComApply::DCB, FDiscardNull, v); }
    // Raise EComPort (CError_ConnChangeProp) on an open port.
    void SetSyncMethod(TSyncMethod v);
    void SetEventThreadPriority(TThreadPriority v);
    void SetEvents(TComEvents v) { FEvents = v; }

    char EventChar() const { return FEventChar; }
    bool DiscardNull() const { return FDiscardNull; }
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
    TComEvents Events() const { return FEvents; }
    TComBuffer& Buffer() { return FBuffer; }
    TComFlowControl& FlowControl() { return FFlowControl; }
    std::int32_t ReadAsyncErrorCount() const { return FReadAsyncErrorCount; }
    std::uint32_t ReadAsyncLastError() const { return FReadAsyncLastError; }
    // True while an event thread exists for the open port.
    bool ThreadCreated() const { return FThreadCreated; }
    // True while that thread is still waiting for received bytes (it ends early
    // after an error in a delivery or when the line hangs up).
    bool EventThreadActive() const;
    // True while a received-bytes event waits to be delivered on the GUI thread.
    bool DeliveryPending() const;

    // Characters-received handler, called on the GUI thread with count >= 1.
    TRxCharEvent OnRxChar;
    // Called on the GUI thread once the line has hung up (adapter pulled out,
    // seen by the event thread or by a write that failed for it) and the port
    // has closed itself; never for a Close made by the caller.
    TLineLostEvent OnLineLost;

protected:
    virtual void DoRxChar(std::int32_t count);
    virtual void DoLineLost();

    bool FConnected = false;
    int FHandle = -1;
    std::unique_ptr<TComThread> FEventThread;
    bool FThreadCreated = false;
    TThreadPriority FEventThreadPriority = TThreadPriority::Normal;
    TComEvents FEvents = TComEvents::All();
    char FEventChar = 0;
    bool FDiscardNull = false;
    TComBuffer FBuffer{*this};
    TComFlowControl FFlowControl{*this};
    TSyncMethod FSyncMethod = smThreadSync;
    std::int32_t FReadAsyncErrorCount = 0;
    std::uint32_t FReadAsyncLastError = 0;

    friend class TComThread;

private:
    struct THandOver;
    // Queued by the event thread: runs a waiting delivery on the GUI thread.
    void ServeHandOvers();
    // dropQueued: a delivery waiting to run is dropped, not run (the line is lost).
    void CloseImpl(bool raisePurge, bool dropQueued = false);
    // Raises CError_WriteFailed; a line found hung up is closed and reported lost first.
    [[noreturn]] void WriteFailed(int err);
    // Raises EComPort (CError_OpenFailed) when the thread cannot be started in full.
    void StartEventThread();
    bool DeliveryRunning(TComThread& t) const;
    void WaitForThread(TComThread& t);
    void RunDelivery(TComThread& t);
    // Runs as the delivery of thread t's hang-up.
    void LineLost(TComThread& t);
    void ReapRetired();
    void ReleaseRetired();

    std::unique_ptr<THandOver> FHandOver;
};

class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    using TCustomComPort::TCustomComPort;
};
