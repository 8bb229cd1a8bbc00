#include "CPortCtl.h"

#include <QAbstractItemView>
#include <QString>
#include <QStyledItemDelegate>

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

struct TPortEntry {
    std::string name, entry;
    bool operator==(const TPortEntry&) const = default;
};

TPortEntry EntryFor(const std::string& name)
{
    // Named as listed (a by-id link stays a by-id link), with its adapter.
    auto info = PortInfoFor(name).value_or(TPortInfo{});
    info.port = name;
    return {name, PortEntryText(info)};
}

// The port list with each port's entry; the system's list comes with its
// details from one walk, a test's list is looked up name by name.
std::vector<TPortEntry> ReadPortList()
{
    std::vector<TPortEntry> out;
    if (const auto& lister = PortLister()) {
        std::vector<std::string> ports;
        lister(ports);
        SortPortNames(ports);
        for (const auto& p : ports)
            out.push_back(EntryFor(p));
    } else {
        for (const TPortInfo& info : ListPortInfos())
            out.push_back({info.port, PortEntryText(info)});
    }
    return out;
}

bool ListedNoCase(const std::vector<TPortEntry>& ports, const std::string& name)
{
    return std::any_of(ports.begin(), ports.end(),
                       [&](const TPortEntry& p) { return strcasecmp(p.name.c_str(), name.c_str()) == 0; });
}

void AddEntry(QComboBox* items, const TPortEntry& p)
{
    const QString entry = QString::fromStdString(p.entry);
    items->addItem(QString::fromStdString(p.name));
    items->setItemData(items->count() - 1, entry, TComComboBox::cEntryRole);
    items->setItemData(items->count() - 1, entry, Qt::AccessibleTextRole);
}

// Draws the drop-down list's items with their entries.
class TEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant entry = index.data(TComComboBox::cEntryRole);
        if (entry.isValid())
            option->text = entry.toString();
    }
};

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

std::string PortEntryText(const TPortInfo& info)
{
    const std::string words = AdapterWords(info);
    return words == info.port ? info.port : info.port + "  " + words;
}

void TComSelect::SelectPort()
{
    const std::vector<TPortEntry> ports = ReadPortList();
    if (!FItems)
        return;
    FItems->clear();
    for (const auto& p : ports)
        AddEntry(FItems, p);
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
    view()->setItemDelegate(new TEntryDelegate(view()));
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
    if (FComSelect.FComProperty == cpPort) {
        RefreshPortList();
        // The list is as wide as its longest entry, the box keeps its width.
        view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
    }
    QComboBox::showPopup();
}

void TComComboBox::RefreshPortList()
{
    std::vector<TPortEntry> ports;
    try {
        ports = ReadPortList();
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
        ports.push_back(EntryFor(chosen));
    bool same = int(ports.size()) == count();
    for (int i = 0; same && i < count(); ++i)
        same = itemText(i).toStdString() == ports[std::size_t(i)].name &&
               itemData(i, cEntryRole).toString().toStdString() == ports[std::size_t(i)].entry;
    if (same)
        return;
    // Only the list changes: the port is not touched and no choice is made.
    clear();
    for (const auto& p : ports)
        AddEntry(this, p);
    setCurrentIndex(chosen.empty() ? -1 : FindItem(this, chosen));
}

void TComComboBox::Notification()
{
    FComSelect.FComPort = nullptr;
    FPortDestroyed = {};
    if (count() > 0)
        setCurrentIndex(0);
}
