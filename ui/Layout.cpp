// The window's layout: one builder per tab, one for the log and status line.
#include "MainUnit.h"

#include "LayoutKit.h"
#include "LogFind.h"
#include "LogView.h"
#include "SpinEdit.h"
#include "serial/CPortCtl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace layout;

namespace {

constexpr int cClientWidth = 855;
constexpr int cClientHeight = 629;
constexpr int cPageControlHeight = 295;
constexpr int cStatusHeight = 23;
constexpr int cBasicPanelHeight = 209;

QPushButton* Captioned(QPushButton* button, const char* caption, int minWidth = 0)
{
    button->setText(QString::fromUtf8(caption));
    if (minWidth > 0)
        button->setMinimumWidth(minWidth);
    return button;
}

QGridLayout* Grid(int hSpacing, int vSpacing, QWidget* owner = nullptr)
{
    auto* g = owner ? new QGridLayout(owner) : new QGridLayout;
    g->setHorizontalSpacing(hSpacing);
    g->setVerticalSpacing(vSpacing);
    return g;
}

// A one-line text field in the large font, centred, with its send button.
QHBoxLayout* SendRow(QLineEdit* edit, const char* text, QPushButton* send)
{
    edit->setMaxLength(199);
    edit->setAlignment(Qt::AlignCenter);
    edit->setFont(TahomaFont(24));
    edit->setText(QString::fromUtf8(text));
    edit->setAccessibleName(edit->objectName());
    Captioned(send, "Wyślij", 90);
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(send);
    return row;
}

// The colour, background and font rows of a text page: red on black and
// the first font chosen.
QGridLayout* ColourFontForm(QComboBox* colour, QComboBox* background, QComboBox* font)
{
    auto* form = Grid(6, 4);
    SetupColourList(colour, 1);
    SetupColourList(background, 0);
    SetupFontList(font);
    AddRow(form, 0, QStringLiteral("Kolor:"), colour);
    AddRow(form, 1, QStringLiteral("Tło:"), background);
    AddRow(form, 2, QStringLiteral("Czcionka:"), font);
    return form;
}

} // namespace

void TMainForm::BuildLayout()
{
    resize(cClientWidth, cClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(cClientWidth / 2, cClientHeight / 2));
    }

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    QV_MAKE(PageControl, QTabWidget, this);
    PageControl->setFixedHeight(cPageControlHeight);
    root->addWidget(PageControl);

    PageControl->addTab(BuildBasicPage(), QStringLiteral("Podstawowe funkcje"));
    PageControl->addTab(BuildTextPage(), QStringLiteral("Teksty"));
    PageControl->addTab(BuildGraphicsPage(), QStringLiteral("Grafika"));
    PageControl->addTab(BuildUpdatePage(), QStringLiteral("Aktualizacja"));
    PageControl->setCurrentWidget(TabUpdate);

    BuildLogAndStatus(root);
}

QWidget* TMainForm::BuildBasicPage()
{
    QV_MAKE(tabBasic, QWidget, PageControl);
    auto* tabLayout = new QVBoxLayout(tabBasic);
    tabLayout->setContentsMargins(4, 4, 4, 4);
    auto* panel = Named(new QFrame(tabBasic), "Panel1");
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFixedHeight(cBasicPanelHeight);
    tabLayout->addWidget(panel);
    tabLayout->addStretch(1);

    auto* grid = Grid(12, 6, panel);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->addLayout(BuildPortRow(panel), 0, 0);

    auto* cmdRow = new QHBoxLayout;
    cmdRow->setSpacing(8);
    cmdRow->addWidget(Captioned(QV_MAKE(btnTestConnection, QPushButton, panel), "Test connection"));
    cmdRow->addWidget(Captioned(QV_MAKE(btnRestart, QPushButton, panel), "Restart"));
    cmdRow->addWidget(Captioned(QV_MAKE(btnClearScreen, QPushButton, panel), "Czyść ekran"));
    cmdRow->addStretch(1);
    grid->addLayout(cmdRow, 1, 0);

    grid->addWidget(BuildBrightnessGroup(panel), 2, 0);
    grid->addWidget(BuildInformationGroup(panel), 0, 1, 3, 1);
    Captioned(QV_MAKE(btnClearMemo, QPushButton, panel), "Czyść okno z LOGiem");
    grid->addWidget(btnClearMemo, 3, 1, Qt::AlignRight | Qt::AlignBottom);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);
    grid->setRowStretch(3, 1);
    return tabBasic;
}

QHBoxLayout* TMainForm::BuildPortRow(QWidget* panel)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    Captioned(QV_MAKE(btnOpenClose, QPushButton, panel), "Open", 90);
    QV_MAKE(cbComName, TComComboBox, panel);
    cbComName->setAccessibleName(QStringLiteral("cbComName"));
    cbComName->setMinimumWidth(130);
    cbComName->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    QV_MAKE(cbComSpeed, TComComboBox, panel);
    cbComSpeed->setAccessibleName(QStringLiteral("cbComSpeed"));
    cbComSpeed->setMinimumWidth(90);
    cbComSpeed->setMaxVisibleItems(16);
    Captioned(QV_MAKE(btshowStruc, QPushButton, panel), "Show Structs");
    row->addWidget(btnOpenClose);
    row->addWidget(cbComName);
    row->addWidget(cbComSpeed);
    row->addSpacing(12);
    row->addWidget(btshowStruc);
    row->addStretch(1);

    // The selectors: their lists are filled now (the port list may fail),
    // and binding the port takes over its name and speed.
    cbComName->SetComProperty(cpPort);
    cbComName->SetAutoApply(true);
    cbComName->SetComPort(ComPort1);
    cbComSpeed->SetComProperty(cpBaudRate);
    cbComSpeed->SetAutoApply(true);
    cbComSpeed->SetComPort(ComPort1);
    return row;
}

QGroupBox* TMainForm::BuildBrightnessGroup(QWidget* panel)
{
    auto* g = TitledGroup<QHBoxLayout>(QV_MAKE(gbJasnosc, QGroupBox, panel), "Jasność", {10, 12, 10, 8}, 10);
    QV_MAKE(cbAuto, QCheckBox, gbJasnosc);
    cbAuto->setText(QStringLiteral("Automat"));
    QV_MAKE(seJasnosc, TSpinEdit, gbJasnosc);
    SetupSpin(seJasnosc, 0, 15, 0, false);
    seJasnosc->setMinimumWidth(80);
    seJasnosc->setAccessibleName(QStringLiteral("seJasnosc"));
    g->addWidget(cbAuto);
    g->addWidget(seJasnosc);
    g->addWidget(Captioned(QV_MAKE(btnUstaw, QPushButton, gbJasnosc), "Ustaw"));
    g->addWidget(Captioned(QV_MAKE(btnPobierz, QPushButton, gbJasnosc), "Pobierz"));
    g->addStretch(1);
    return gbJasnosc;
}

QGroupBox* TMainForm::BuildInformationGroup(QWidget* panel)
{
    auto* g = TitledGroup<QVBoxLayout>(QV_MAKE(GroupBox2, QGroupBox, panel), "Informacja", {10, 12, 10, 8}, 8);
    QV_MAKE(lVersion, QLabel, GroupBox2);
    lVersion->setText(QStringLiteral("(...)"));
    lVersion->setFont(TahomaFont(16));
    lVersion->setWordWrap(true);
    Captioned(QV_MAKE(BitBtn2, QPushButton, GroupBox2), "Pobierz informacje ze sterownika");
    g->addWidget(lVersion, 1);
    g->addWidget(BitBtn2, 0, Qt::AlignLeft);
    return GroupBox2;
}

QWidget* TMainForm::BuildTextPage()
{
    QV_MAKE(TabText, QWidget, PageControl);
    auto* l = new QVBoxLayout(TabText);
    l->setContentsMargins(4, 4, 4, 4);
    QV_MAKE(PageControlText, QTabWidget, TabText);
    l->addWidget(PageControlText);
    PageControlText->addTab(BuildStaticTextPage(), QStringLiteral("Statyczny tekst"));
    PageControlText->addTab(BuildTextWindowPage(), QStringLiteral("Tekst dynamiczny określony rozmiarem"));
    PageControlText->setCurrentWidget(TabStatText);
    return TabText;
}

QWidget* TMainForm::BuildStaticTextPage()
{
    QV_MAKE(TabStatText, QWidget, PageControlText);
    auto* page = Grid(16, 6, TabStatText);
    page->setContentsMargins(8, 6, 8, 6);

    auto* form = ColourFontForm(QV_MAKE(cbstt, QComboBox, TabStatText),
                                QV_MAKE(cbstb, QComboBox, TabStatText),
                                QV_MAKE(cbst, QComboBox, TabStatText));
    AddSpinRow(form, 3, QStringLiteral("Pos X:"), QV_MAKE(sestX, TSpinEdit, TabStatText), -1000, 1000, 0,
               Qt::AlignLeft);
    AddSpinRow(form, 4, QStringLiteral("Pos Y:"), QV_MAKE(sestY, TSpinEdit, TabStatText), -1000, 1000, 0,
               Qt::AlignLeft);

    QV_MAKE(stImage, QLabel, TabStatText);
    stImage->setFixedSize(384, 96);
    stImage->setScaledContents(true);
    stImage->setAccessibleName(QStringLiteral("stImage"));
    QPixmap blank(128, 32);
    blank.fill(Qt::black);
    stImage->setPixmap(blank);

    auto* animRow = new QHBoxLayout;
    QV_MAKE(cbAnimate, QCheckBox, TabStatText);
    cbAnimate->setText(QStringLiteral("Animuj statyczny tekst fps:"));
    QV_MAKE(cbAnimating, QComboBox, TabStatText);
    for (int rate = 1; rate <= 25; ++rate)
        cbAnimating->addItem(QString::number(rate));
    cbAnimating->setMaxVisibleItems(25);
    cbAnimating->setCurrentIndex(24);
    cbAnimating->setAccessibleName(QStringLiteral("cbAnimating"));
    animRow->addWidget(cbAnimate);
    animRow->addWidget(cbAnimating);
    animRow->addStretch(1);

    auto* right = new QVBoxLayout;
    right->setSpacing(6);
    right->addWidget(stImage);
    right->addLayout(animRow);
    right->addStretch(1);

    page->addLayout(form, 0, 0, Qt::AlignTop);
    page->addLayout(right, 0, 1, Qt::AlignTop | Qt::AlignLeft);
    page->addLayout(SendRow(QV_MAKE(est, QLineEdit, TabStatText), "Przykładowy tekst statyczny",
                            QV_MAKE(btnCbstSend, QPushButton, TabStatText)),
                    1, 0, 1, 2);
    page->setColumnStretch(1, 1);
    page->setRowStretch(0, 1);
    return TabStatText;
}

QWidget* TMainForm::BuildTextWindowPage()
{
    QV_MAKE(TabSheet2, QWidget, PageControlText);
    auto* page = Grid(14, 6, TabSheet2);
    page->setContentsMargins(8, 6, 8, 6);

    QV_MAKE(cbad, QComboBox, TabSheet2);
    cbad->setEditable(true);
    cbad->setInsertPolicy(QComboBox::NoInsert);
    for (int n = 1; n <= 8; ++n)
        cbad->addItem(QString::number(n));
    cbad->setCurrentIndex(0);
    cbad->setFont(TahomaFont(24, true));
    cbad->lineEdit()->setFont(TahomaFont(24, true));
    cbad->setMinimumWidth(76);
    cbad->setMinimumHeight(cbad->lineEdit()->fontMetrics().height() + 8);
    auto* adRow = new QHBoxLayout;
    adRow->setSpacing(8);
    auto* adLabel = new QLabel(QStringLiteral("Autonomiczna animacja tekstu numer:"), TabSheet2);
    adLabel->setBuddy(cbad);
    adRow->addWidget(adLabel);
    adRow->addWidget(cbad);
    adRow->addStretch(1);

    auto* left = ColourFontForm(QV_MAKE(cbsdt, QComboBox, TabSheet2),
                                QV_MAKE(cbsdb, QComboBox, TabSheet2),
                                QV_MAKE(cbsd, QComboBox, TabSheet2));
    left->setColumnMinimumWidth(1, 150);
    left->setColumnStretch(1, 1);

    // The window selector on top; colours and font below it beside the
    // steps; the window's frame at the right, over both rows. The frame is
    // built first, which puts it first in the focus order.
    QGroupBox* frame = BuildFrameGroup();
    page->addLayout(adRow, 0, 0, 1, 2);
    page->addLayout(left, 1, 0, Qt::AlignTop);
    page->addWidget(BuildStepsGroup(), 1, 1, Qt::AlignTop);
    page->addWidget(frame, 0, 2, 2, 1, Qt::AlignTop);
    page->addLayout(SendRow(QV_MAKE(esd, QLineEdit, TabSheet2), "Przykładowy tekst dynamiczny",
                            QV_MAKE(btnCbsdSend, QPushButton, TabSheet2)),
                    2, 0, 1, 3);
    page->setColumnStretch(0, 1);
    page->setRowStretch(1, 1);
    return TabSheet2;
}

QGroupBox* TMainForm::BuildFrameGroup()
{
    auto* g = TitledGroup<QGridLayout>(QV_MAKE(gbRamka, QGroupBox, TabSheet2),
                                       "Rozmiar i położenie okna tekstu", {8, 12, 8, 6}, 6);
    g->setVerticalSpacing(3);
    AddSpinRow(g, 0, QStringLiteral("Lewy:"), QV_MAKE(sedL, TSpinEdit, gbRamka), -1000, 1000, 0);
    AddSpinRow(g, 1, QStringLiteral("Górny:"), QV_MAKE(sedT, TSpinEdit, gbRamka), -1000, 1000, 0);
    AddSpinRow(g, 2, QStringLiteral("Szerokość:"), QV_MAKE(sedW, TSpinEdit, gbRamka), 1, 128, 1);
    AddSpinRow(g, 3, QStringLiteral("Wysokość:"), QV_MAKE(sedH, TSpinEdit, gbRamka), 1, 32, 1);
    gbRamka->setMinimumWidth(gbRamka->fontMetrics().horizontalAdvance(gbRamka->title()) + 30);
    return gbRamka;
}

QGroupBox* TMainForm::BuildStepsGroup()
{
    auto* g = TitledGroup<QGridLayout>(QV_MAKE(gbAnimacja, QGroupBox, TabSheet2),
                                       "Animacja / interwał", {8, 12, 8, 6}, 6);
    g->setVerticalSpacing(3);
    SetupSpin(QV_MAKE(sedHoriz, TSpinEdit, gbAnimacja), -100, 100, 5);
    SetupSpin(QV_MAKE(sedVert, TSpinEdit, gbAnimacja), -100, 100, 5);
    int row = 0;
    for (auto [label, spin] : {std::pair{"W poziomie:", sedHoriz}, std::pair{"W pionie:", sedVert}}) {
        spin->setMinimumWidth(90);
        AddRow(g, row, QString::fromUtf8(label), spin);
        g->addWidget(new QLabel(QStringLiteral("100/x (na [s])"), gbAnimacja), row++, 2);
    }
    g->setRowStretch(2, 1);
    return gbAnimacja;
}

QWidget* TMainForm::BuildGraphicsPage()
{
    QV_MAKE(TabGFX, QWidget, PageControl);
    auto* outer = new QVBoxLayout(TabGFX);
    outer->setContentsMargins(16, 16, 16, 16);
    auto* l = new QHBoxLayout;
    l->setSpacing(10);
    outer->addLayout(l);
    outer->addStretch(1);
    SetupSpin(QV_MAKE(seLogo, TSpinEdit, TabGFX), 1, 64, 1, false);
    seLogo->setMinimumWidth(90);
    Captioned(QV_MAKE(btnSendLogo, QPushButton, TabGFX), "Wyświetl", 90);
    auto* label = new QLabel(QStringLiteral("Wybierz grafikę:"), TabGFX);
    label->setBuddy(seLogo);
    l->addWidget(label);
    l->addWidget(seLogo);
    l->addWidget(btnSendLogo);
    l->addStretch(1);
    return TabGFX;
}

QWidget* TMainForm::BuildUpdatePage()
{
    QV_MAKE(TabUpdate, QWidget, PageControl);
    auto* l = new QVBoxLayout(TabUpdate);
    l->setContentsMargins(8, 10, 8, 6);
    l->setSpacing(8);
    auto* grid = Grid(10, 8);
    grid->addWidget(Captioned(QV_MAKE(btnFlash, QPushButton, TabUpdate), "Upgreade CPU"), 0, 0);
    grid->addWidget(Captioned(QV_MAKE(BitBtn1, QPushButton, TabUpdate), "komenda Upgreade CPU"), 1, 0);
    grid->addWidget(Captioned(QV_MAKE(btnAutoRun, QPushButton, TabUpdate), "Flashing GFX"), 2, 0);
    grid->addWidget(Captioned(QV_MAKE(btnSet9600, QPushButton, TabUpdate),
                              "Switch from 115200bps to 9600bps"), 0, 2);
    grid->addWidget(Captioned(QV_MAKE(btnSetHiSpeed, QPushButton, TabUpdate),
                              "Switch from 9600bps to 115200bps"), 1, 2);
    grid->setColumnMinimumWidth(0, 220);
    grid->setColumnMinimumWidth(2, 260);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    l->addLayout(grid);
    l->addStretch(1);

    QV_MAKE(pBar, QProgressBar, TabUpdate);
    pBar->setRange(0, 100);
    pBar->setValue(0);
    pBar->setTextVisible(false);
    pBar->setFixedHeight(17);
    // Unskinned: no rule of the visual style names it, and it keeps the
    // platform's own colours.
    pBar->setPalette(pBar->style()->standardPalette());
    l->addWidget(pBar);
    return TabUpdate;
}

void TMainForm::BuildLogAndStatus(QVBoxLayout* root)
{
    QV_MAKE(gbLog, QGroupBox, this);
    gbLog->setTitle(QStringLiteral("Dane nadawane/odbierane ze sterownika"));
    auto* logLayout = new QVBoxLayout(gbLog);
    logLayout->setContentsMargins(6, 12, 6, 6);
    // Read-only, unwrapped, both scroll bars: the view's own way.
    QV_MAKE(Memo1, TLogView, gbLog);
    Memo1->setAccessibleName(QStringLiteral("Memo1"));
    logLayout->addWidget(Memo1);
    LogFind = Named(new TLogFind(Memo1, gbLog), "LogFind");
    logLayout->addWidget(LogFind);
    root->addWidget(gbLog, 1);

    auto* status = Named(new QFrame(this), "StatusPanel");
    status->setFixedHeight(cStatusHeight);
    status->setFrameShape(QFrame::NoFrame);
    auto* statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(2, 0, 2, 0);
    QV_MAKE(lStat, QLabel, status);
    lStat->setFont(TahomaFont(16));
    lStat->setAlignment(Qt::AlignCenter);
    statusLayout->addWidget(lStat);
    root->addWidget(status);
}
