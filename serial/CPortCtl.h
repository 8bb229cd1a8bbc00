// Drop-down selectors bound to a serial port: choosing an item sets the
// port's name or speed at once (AutoApply).
#pragma once

#include "CPort.h"
#include "PortInfo.h"

#include <QComboBox>
#include <QMetaObject>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// Flow control as the selector names it (the port itself keeps the details).
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };

// The selector's companion: the property it is bound to, the value last
// chosen or taken over from the port, and the item list it fills.
class TComSelect {
public:
    // Where the port list comes from; replaces EnumComPorts (tests use it to
    // list pseudo-terminals or to make the list unreadable). The names it
    // gives are sorted as EnumComPorts sorts them. Empty: EnumComPorts.
    using TPortLister = std::function<void(std::vector<std::string>& ports)>;
    static void SetPortLister(TPortLister lister);

    void SetComProperty(TComProperty value);
    // Fills the list with the ports present. Raises EComPort.
    // The entries go with the names (cEntryRole).
    void SelectPort();
    void SelectBaudRate();
    void Change(const std::string& text);
    void ApplySettings();
    // Takes over the bound port's value; `itemIndex` gets the item showing it
    // (-1: none). Without a bound port nothing changes.
    void UpdateSettings(std::int32_t& itemIndex);

    std::string FPort;
    TBaudRate FBaudRate = brCustom;
    QComboBox* FItems = nullptr; // the selector's item list, not owned
    TComProperty FComProperty = cpNone;
    TCustomComPort* FComPort = nullptr; // not owned
    bool FAutoApply = false;
};

// A port's entry in the drop-down list: its name followed by its adapter's
// product and serial number where known ("/dev/ttyUSB0  FT232R USB UART
// (A50285BI)"); the bare name otherwise.
std::string PortEntryText(const TPortInfo& info);

class TComComboBox : public QComboBox {
    Q_OBJECT
public:
    // Item data of a port selector: the entry its drop-down list shows (also
    // what assistive technologies read). The item's text, which GetText gives
    // and the port opens by, stays the bare name.
    static constexpr int cEntryRole = Qt::UserRole + 1;

    explicit TComComboBox(QWidget* parent = nullptr);
    ~TComComboBox() override;

    void SetComPort(TCustomComPort* value);
    TCustomComPort* GetComPort() const { return FComSelect.FComPort; }
    // Fills the list for the property (the port list may raise EComPort).
    void SetComProperty(TComProperty value);
    TComProperty GetComProperty() const { return FComSelect.FComProperty; }
    void SetAutoApply(bool value) { FComSelect.FAutoApply = value; }
    bool GetAutoApply() const { return FComSelect.FAutoApply; }

    // The selected item's text; empty when nothing is selected.
    std::string GetText() const;
    // Selects the item with this text (any case); otherwise nothing changes.
    // Never touches the port.
    void SetText(const std::string& value);

    void ApplySettings();
    void UpdateSettings();
    // The operator chose an item: take it over and, with AutoApply, set it on
    // the port. Errors of the port go on to the caller.
    void Change();

    const TComSelect& ComSelect() const { return FComSelect; }

protected:
    // The bound port is being destroyed.
    void Notification();
    // A port selector reads the port list again each time it drops down, so
    // that adapters plugged in or pulled out since are seen; the chosen port
    // stays.
    void showPopup() override;

private:
    void RefreshPortList();

    TComSelect FComSelect;
    QMetaObject::Connection FPortDestroyed;
};
