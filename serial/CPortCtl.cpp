#include "CPortCtl.h"

#include <QString>

#include <algorithm>
#include <strings.h>
#include <utility>

namespace {

TComSelect::TPortLister& PortLister()
{
    static TComSelect::TPortLister lister;
    return lister;
}

int FindItem(const QComboBox* items, const std::string& text)
{
    // MatchFixedString without MatchCaseSensitive compares without regard to case.
    return items->findText(QString::fromStdString(text), Qt::MatchFixedString);
}

void ReadPortList(std::vector<std::string>& ports)
{
    if (const auto& lister = PortLister()) {
        lister(ports);
        SortPortNames(ports);
    } else {
        EnumComPorts(ports);
    }
}

bool ListedNoCase(const std::vector<std::string>& ports, const std::string& name)
{
    return std::any_of(ports.begin(), ports.end(),
                       [&](const std::string& p) { return strcasecmp(p.c_str(), name.c_str()) == 0; });
}

} // namespace

void TComSelect::SetPortLister(TPortLister lister)
{
    PortLister() = std::move(lister);
}

void TComSelect::SetComProperty(TComProperty value)
{
    FComProperty = value;
    switch (value) {
    case cpPort:
        SelectPort();
        break;
    case cpBaudRate:
        SelectBaudRate();
        break;
    default:
        // Nothing bound, or a property this selector does not offer.
        if (FItems)
            FItems->clear();
        break;
    }
}

void TComSelect::SelectPort()
{
    std::vector<std::string> ports;
    ReadPortList(ports);
    if (!FItems)
        return;
    FItems->clear();
    for (const auto& p : ports)
        FItems->addItem(QString::fromStdString(p));
}

void TComSelect::SelectBaudRate()
{
    if (!FItems)
        return;
    FItems->clear();
    for (const char* name : BaudRateStrings)
        FItems->addItem(QString::fromLatin1(name));
}

void TComSelect::Change(const std::string& text)
{
    switch (FComProperty) {
    case cpPort:
        FPort = text;
        break;
    case cpBaudRate:
        FBaudRate = StrToBaudRate(text);
        break;
    default:
        break;
    }
}

void TComSelect::ApplySettings()
{
    if (!FComPort)
        return;
    switch (FComProperty) {
    case cpPort:
        FComPort->SetPort(FPort);
        break;
    case cpBaudRate:
        FComPort->SetBaudRate(FBaudRate);
        break;
    default:
        break;
    }
}

void TComSelect::UpdateSettings(std::int32_t& itemIndex)
{
    if (!FComPort || !FItems)
        return;
    switch (FComProperty) {
    case cpPort:
        itemIndex = FindItem(FItems, FComPort->Port());
        if (itemIndex < 0) {
            // The list holds device paths, the port may carry a COMn name: the
            // default "COM1" stands for the listed /dev/ttyS0.
            const std::string device = PortNameToDevice(FComPort->Port());
            for (int i = 0; i < FItems->count() && itemIndex < 0; ++i)
                if (PortNameToDevice(FItems->itemText(i).toStdString()) == device)
                    itemIndex = i;
        }
        if (itemIndex >= 0)
            FPort = FItems->itemText(itemIndex).toStdString();
        break;
    case cpBaudRate:
        itemIndex = FindItem(FItems, BaudRateToStr(FComPort->BaudRate()));
        if (itemIndex >= 0)
            FBaudRate = StrToBaudRate(FItems->itemText(itemIndex).toStdString());
        break;
    default:
        break;
    }
}

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(false);
    FComSelect.FItems = this;
}

TComComboBox::~TComComboBox()
{
    QObject::disconnect(FPortDestroyed);
}

void TComComboBox::SetComPort(TCustomComPort* value)
{
    if (value == FComSelect.FComPort)
        return;
    QObject::disconnect(FPortDestroyed);
    FComSelect.FComPort = value;
    if (value) {
        FPortDestroyed = connect(value, &QObject::destroyed, this, [this] { Notification(); });
        UpdateSettings();
    }
}

void TComComboBox::SetComProperty(TComProperty value)
{
    FComSelect.SetComProperty(value);
    if (count() == 0)
        return;
    if (FComSelect.FComPort)
        UpdateSettings();
    else
        setCurrentIndex(0);
}

std::string TComComboBox::GetText() const
{
    const int i = currentIndex();
    return i < 0 ? std::string() : itemText(i).toStdString();
}

void TComComboBox::SetText(const std::string& value)
{
    const int i = FindItem(this, value);
    if (i >= 0)
        setCurrentIndex(i);
}

void TComComboBox::ApplySettings()
{
    FComSelect.ApplySettings();
}

void TComComboBox::UpdateSettings()
{
    std::int32_t index = currentIndex();
    FComSelect.UpdateSettings(index);
    setCurrentIndex(index);
}

void TComComboBox::Change()
{
    FComSelect.Change(GetText());
    if (FComSelect.FAutoApply)
        ApplySettings();
}

void TComComboBox::showPopup()
{
    if (FComSelect.FComProperty == cpPort)
        RefreshPortList();
    QComboBox::showPopup();
}

void TComComboBox::RefreshPortList()
{
    std::vector<std::string> ports;
    try {
        ReadPortList(ports);
    } catch (const std::exception&) {
        return; // nothing may reach Qt from here; the list shown stays
    }
    // The chosen port stays also when the system does not list it: a
    // pseudo-terminal named on the command line, or an adapter pulled out.
    // Its name is the one the next command reopens, and the one the
    // operator is told when that fails. It goes at the end, as the window
    // adds it at start.
    const std::string chosen = GetText();
    if (!chosen.empty() && !ListedNoCase(ports, chosen))
        ports.push_back(chosen);
    bool same = int(ports.size()) == count();
    for (int i = 0; same && i < count(); ++i)
        same = itemText(i).toStdString() == ports[std::size_t(i)];
    if (same)
        return;
    // Only the list changes: the port is not touched and no choice is made.
    clear();
    for (const auto& p : ports)
        addItem(QString::fromStdString(p));
    setCurrentIndex(chosen.empty() ? -1 : FindItem(this, chosen));
}

void TComComboBox::Notification()
{
    FComSelect.FComPort = nullptr;
    FPortDestroyed = {};
    if (count() > 0)
        setCurrentIndex(0);
}
