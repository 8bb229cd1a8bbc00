#include "MainUnit.h"

#include "Dialogs.h"
#include "SpinEdit.h"
#include "Wiring.h"
#include "serial/CPort.h"
#include "serial/CPortCtl.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
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
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char* const cCaption = "Vornale/Dazoza Quorvantel V1.02 2017-06-12";
constexpr int cClientWidth = 855;
constexpr int cClientHeight = 629;
constexpr int cPageControlHeight = 295;
constexpr int cStatusHeight = 23;
constexpr int cBasicPanelHeight = 209;

const QStringList& ColourNames()
{
    static const QStringList names{QStringLiteral("Czarny"), QStringLiteral("Czerwony")};
    return names;
}

const QList<QColor>& ColourValues()
{
    static const QList<QColor> values{QColor(0, 0, 0), QColor(255, 0, 0)};
    return values;
}

QStringList FontNames()
{
    QStringList names;
    for (int i = 1; i <= 8; ++i)
        names << QStringLiteral("Czcionka 8x8 %1").arg(i);
    for (int i = 1; i <= 4; ++i)
        names << QStringLiteral("Czcionka 16x16 %1").arg(i);
    for (int i = 1; i <= 2; ++i)
        names << QStringLiteral("Czcionka 32x32 %1").arg(i);
    for (int i = 1; i <= 2; ++i)
        names << QStringLiteral("Czcionka 64x64 %1").arg(i);
    return names;
}

QFont TahomaFont(int pixelSize, bool bold = false)
{
    QFont f;
    // Tahoma where it exists; otherwise a sans face of similar width.
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("DejaVu Sans")});
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

template <class T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Creates member `var` of type `Type` under `parent`, named after the member.
#define QV_MAKE(var, Type, parent) (var = Named(new Type(parent), #var))

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
}

void SetupSpin(TSpinEdit* s, int lo, int hi, int value, bool big, bool centred)
{
    s->setRange(lo, hi);
    s->setValue(value);
    if (big)
        s->setFont(TahomaFont(24));
    if (centred)
        s->setAlignment(Qt::AlignCenter);
    if (big)
        s->setMinimumWidth(104);
}

void FillColourList(QComboBox* box, int selected)
{
    for (int i = 0; i < ColourNames().size(); ++i) {
        QPixmap swatch(14, 14);
        swatch.fill(ColourValues()[i]);
        QPainter edge(&swatch);
        edge.setPen(QColor(0x80, 0x80, 0x80));
        edge.drawRect(0, 0, 13, 13);
        edge.end();
        box->addItem(QIcon(swatch), ColourNames()[i]);
    }
    box->setCurrentIndex(selected);
}

} // namespace

TMainForm::TMainForm(const std::string& portArg, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromLatin1(cCaption));
    setFont(TahomaFont(11));

    // The serial component only stores its settings here; no port is opened.
    ComPort1 = Named(new TComPort(this), "ComPort1");
    ComPort1->SetBaudRate(br9600);
    ComPort1->SetPort("COM1");
    ComPort1->Parity().SetBits(prNone);
    ComPort1->SetStopBits(sbOneStopBit);
    ComPort1->SetDataBits(dbEight);
    ComPort1->SetEventChar('\xFF');
    ComPort1->SetEvents({evRxChar});
    ComPort1->Buffer().SetInputSize(512);
    ComPort1->Buffer().SetOutputSize(512);
    ComPort1->FlowControl().SetOutCTSFlow(false);
    ComPort1->FlowControl().SetOutDSRFlow(false);
    ComPort1->FlowControl().SetControlDTR(dtrDisable);
    ComPort1->FlowControl().SetControlRTS(rtsDisable);
    ComPort1->FlowControl().SetXonXoffOut(false);
    ComPort1->FlowControl().SetXonXoffIn(false);
    // Not guarded: an error escaping a delivery goes back to the port, which
    // then ends its event thread without a word.
    ComPort1->OnRxChar = [this](TCustomComPort* sender, std::int32_t count) {
        ComPort1RxChar(static_cast<TComPort*>(sender), count);
    };

    Timer1 = Named(new QTimer(this), "Timer1");
    Timer1->setInterval(cTimer1TickMs);
    Timer2 = Named(new QTimer(this), "Timer2");
    Timer2->setInterval(40);

    BuildLayout(); // reads the port list; its error ends the construction

    if (!portArg.empty()) {
        const QString name = QString::fromStdString(portArg);
        if (cbComName->findText(name, Qt::MatchFixedString) < 0)
            cbComName->addItem(name);
        ComPort1->SetPort(portArg);
        cbComName->UpdateSettings();
    }

    ConnectHandlers();
    Timer1->start();
    FormCreate();
}

TMainForm::~TMainForm()
{
    // The port goes first, while the receiver and the controls its deliveries
    // reach still exist.
    if (ComPort1) {
        try {
            ComPort1->Close();
        } catch (...) {
            // Nobody is left to tell; the port's own destructor tries again.
        }
        ComPort1->OnRxChar = nullptr;
        delete ComPort1;
        ComPort1 = nullptr;
    }
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // Closing the window ends the run: the line is released at once.
    try {
        ComPort1->Close();
    } catch (...) {
        // The destructor makes the last attempt.
    }
    QWidget::closeEvent(event);
}

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

    const QFont big = TahomaFont(24);

    // ---- "Podstawowe funkcje" ----
    QV_MAKE(tabBasic, QWidget, PageControl);
    {
        auto* tabLayout = new QVBoxLayout(tabBasic);
        tabLayout->setContentsMargins(4, 4, 4, 4);
        auto* panel = Named(new QFrame(tabBasic), "Panel1");
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFixedHeight(cBasicPanelHeight);
        tabLayout->addWidget(panel);
        tabLayout->addStretch(1);

        auto* grid = new QGridLayout(panel);
        grid->setContentsMargins(8, 6, 8, 6);
        grid->setHorizontalSpacing(12);
        grid->setVerticalSpacing(6);

        auto* portRow = new QHBoxLayout;
        portRow->setSpacing(8);
        QV_MAKE(btnOpenClose, QPushButton, panel);
        btnOpenClose->setText(QStringLiteral("Open"));
        btnOpenClose->setMinimumWidth(90);
        QV_MAKE(cbComName, TComComboBox, panel);
        cbComName->setAccessibleName(QStringLiteral("cbComName"));
        cbComName->setMinimumWidth(130);
        cbComName->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        QV_MAKE(cbComSpeed, TComComboBox, panel);
        cbComSpeed->setAccessibleName(QStringLiteral("cbComSpeed"));
        cbComSpeed->setMinimumWidth(90);
        cbComSpeed->setMaxVisibleItems(16);
        QV_MAKE(btshowStruc, QPushButton, panel);
        btshowStruc->setText(QStringLiteral("Show Structs"));
        portRow->addWidget(btnOpenClose);
        portRow->addWidget(cbComName);
        portRow->addWidget(cbComSpeed);
        portRow->addSpacing(12);
        portRow->addWidget(btshowStruc);
        portRow->addStretch(1);

        // The selectors: their lists are filled now (the port list may fail),
        // and binding the port takes over its name and speed.
        cbComName->SetComProperty(cpPort);
        cbComName->SetAutoApply(true);
        cbComName->SetComPort(ComPort1);
        cbComSpeed->SetComProperty(cpBaudRate);
        cbComSpeed->SetAutoApply(true);
        cbComSpeed->SetComPort(ComPort1);

        auto* cmdRow = new QHBoxLayout;
        cmdRow->setSpacing(8);
        QV_MAKE(btnTestConnection, QPushButton, panel);
        btnTestConnection->setText(QStringLiteral("Test connection"));
        QV_MAKE(btnRestart, QPushButton, panel);
        btnRestart->setText(QStringLiteral("Restart"));
        QV_MAKE(btnClearScreen, QPushButton, panel);
        btnClearScreen->setText(QStringLiteral("Czyść ekran"));
        cmdRow->addWidget(btnTestConnection);
        cmdRow->addWidget(btnRestart);
        cmdRow->addWidget(btnClearScreen);
        cmdRow->addStretch(1);

        QV_MAKE(gbJasnosc, QGroupBox, panel);
        gbJasnosc->setTitle(QStringLiteral("Jasność"));
        {
            auto* g = new QHBoxLayout(gbJasnosc);
            g->setContentsMargins(10, 12, 10, 8);
            g->setSpacing(10);
            QV_MAKE(cbAuto, QCheckBox, gbJasnosc);
            cbAuto->setText(QStringLiteral("Automat"));
            QV_MAKE(seJasnosc, TSpinEdit, gbJasnosc);
            SetupSpin(seJasnosc, 0, 15, 0, true, false);
            seJasnosc->setMinimumWidth(80);
            seJasnosc->setAccessibleName(QStringLiteral("seJasnosc"));
            QV_MAKE(btnUstaw, QPushButton, gbJasnosc);
            btnUstaw->setText(QStringLiteral("Ustaw"));
            QV_MAKE(btnPobierz, QPushButton, gbJasnosc);
            btnPobierz->setText(QStringLiteral("Pobierz"));
            g->addWidget(cbAuto);
            g->addWidget(seJasnosc);
            g->addWidget(btnUstaw);
            g->addWidget(btnPobierz);
            g->addStretch(1);
        }

        QV_MAKE(GroupBox2, QGroupBox, panel);
        GroupBox2->setTitle(QStringLiteral("Informacja"));
        {
            auto* g = new QVBoxLayout(GroupBox2);
            g->setContentsMargins(10, 12, 10, 8);
            g->setSpacing(8);
            QV_MAKE(lVersion, QLabel, GroupBox2);
            lVersion->setText(QStringLiteral("(...)"));
            lVersion->setFont(TahomaFont(16));
            lVersion->setWordWrap(true);
            QV_MAKE(BitBtn2, QPushButton, GroupBox2);
            BitBtn2->setText(QStringLiteral("Pobierz informacje ze sterownika"));
            g->addWidget(lVersion, 1);
            g->addWidget(BitBtn2, 0, Qt::AlignLeft);
        }

        QV_MAKE(btnClearMemo, QPushButton, panel);
        btnClearMemo->setText(QStringLiteral("Czyść okno z LOGiem"));

        grid->addLayout(portRow, 0, 0);
        grid->addLayout(cmdRow, 1, 0);
        grid->addWidget(gbJasnosc, 2, 0);
        grid->addWidget(GroupBox2, 0, 1, 3, 1);
        grid->addWidget(btnClearMemo, 3, 1, Qt::AlignRight | Qt::AlignBottom);
        grid->setColumnStretch(0, 3);
        grid->setColumnStretch(1, 2);
        grid->setRowStretch(3, 1);
    }
    PageControl->addTab(tabBasic, QStringLiteral("Podstawowe funkcje"));

    // ---- "Teksty" ----
    QV_MAKE(TabText, QWidget, PageControl);
    {
        auto* l = new QVBoxLayout(TabText);
        l->setContentsMargins(4, 4, 4, 4);
        QV_MAKE(PageControlText, QTabWidget, TabText);
        l->addWidget(PageControlText);

        // "Statyczny tekst"
        QV_MAKE(TabStatText, QWidget, PageControlText);
        {
            auto* page = new QGridLayout(TabStatText);
            page->setContentsMargins(8, 6, 8, 6);
            page->setHorizontalSpacing(16);
            page->setVerticalSpacing(6);

            auto* form = new QGridLayout;
            form->setHorizontalSpacing(6);
            form->setVerticalSpacing(4);
            QV_MAKE(cbstt, QComboBox, TabStatText);
            FillColourList(cbstt, 1);
            SetSelectorColour(cbstt, ColourValues()[1]);
            QV_MAKE(cbstb, QComboBox, TabStatText);
            FillColourList(cbstb, 0);
            SetSelectorColour(cbstb, ColourValues()[0]);
            QV_MAKE(cbst, QComboBox, TabStatText);
            cbst->addItems(FontNames());
            cbst->setMaxVisibleItems(16);
            cbst->setCurrentIndex(0);
            QV_MAKE(sestX, TSpinEdit, TabStatText);
            SetupSpin(sestX, -1000, 1000, 0, true, true);
            QV_MAKE(sestY, TSpinEdit, TabStatText);
            SetupSpin(sestY, -1000, 1000, 0, true, true);
            form->addWidget(BuddyLabel(QStringLiteral("Kolor:"), cbstt, TabStatText), 0, 0);
            form->addWidget(cbstt, 0, 1);
            form->addWidget(BuddyLabel(QStringLiteral("Tło:"), cbstb, TabStatText), 1, 0);
            form->addWidget(cbstb, 1, 1);
            form->addWidget(BuddyLabel(QStringLiteral("Czcionka:"), cbst, TabStatText), 2, 0);
            form->addWidget(cbst, 2, 1);
            form->addWidget(BuddyLabel(QStringLiteral("Pos X:"), sestX, TabStatText), 3, 0);
            form->addWidget(sestX, 3, 1, Qt::AlignLeft);
            form->addWidget(BuddyLabel(QStringLiteral("Pos Y:"), sestY, TabStatText), 4, 0);
            form->addWidget(sestY, 4, 1, Qt::AlignLeft);

            QV_MAKE(stImage, QLabel, TabStatText);
            stImage->setFixedSize(384, 96);
            stImage->setScaledContents(true);
            stImage->setAccessibleName(QStringLiteral("stImage"));
            {
                QPixmap blank(128, 32);
                blank.fill(Qt::black);
                stImage->setPixmap(blank);
            }

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

            auto* sendRow = new QHBoxLayout;
            QV_MAKE(est, QLineEdit, TabStatText);
            est->setMaxLength(199);
            est->setAlignment(Qt::AlignCenter);
            est->setFont(big);
            est->setText(QStringLiteral("Przykładowy tekst statyczny"));
            est->setAccessibleName(QStringLiteral("est"));
            QV_MAKE(btnCbstSend, QPushButton, TabStatText);
            btnCbstSend->setText(QStringLiteral("Wyślij"));
            btnCbstSend->setMinimumWidth(90);
            sendRow->addWidget(est, 1);
            sendRow->addWidget(btnCbstSend);

            auto* right = new QVBoxLayout;
            right->setSpacing(6);
            right->addWidget(stImage);
            right->addLayout(animRow);
            right->addStretch(1);

            page->addLayout(form, 0, 0, Qt::AlignTop);
            page->addLayout(right, 0, 1, Qt::AlignTop | Qt::AlignLeft);
            page->addLayout(sendRow, 1, 0, 1, 2);
            page->setColumnStretch(1, 1);
            page->setRowStretch(0, 1);
        }
        PageControlText->addTab(TabStatText, QStringLiteral("Statyczny tekst"));

        // "Tekst dynamiczny określony rozmiarem"
        QV_MAKE(TabSheet2, QWidget, PageControlText);
        {
            auto* page = new QGridLayout(TabSheet2);
            page->setContentsMargins(8, 6, 8, 6);
            page->setHorizontalSpacing(14);
            page->setVerticalSpacing(6);

            auto* left = new QGridLayout;
            left->setHorizontalSpacing(6);
            left->setVerticalSpacing(4);
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
            QV_MAKE(cbsdt, QComboBox, TabSheet2);
            FillColourList(cbsdt, 1);
            SetSelectorColour(cbsdt, ColourValues()[1]);
            QV_MAKE(cbsdb, QComboBox, TabSheet2);
            FillColourList(cbsdb, 0);
            SetSelectorColour(cbsdb, ColourValues()[0]);
            QV_MAKE(cbsd, QComboBox, TabSheet2);
            cbsd->addItems(FontNames());
            cbsd->setMaxVisibleItems(16);
            cbsd->setCurrentIndex(0);
            auto* adRow = new QHBoxLayout;
            adRow->setSpacing(8);
            adRow->addWidget(BuddyLabel(QStringLiteral("Autonomiczna animacja tekstu numer:"), cbad,
                                        TabSheet2));
            adRow->addWidget(cbad);
            adRow->addStretch(1);
            left->addWidget(BuddyLabel(QStringLiteral("Kolor:"), cbsdt, TabSheet2), 0, 0);
            left->addWidget(cbsdt, 0, 1);
            left->addWidget(BuddyLabel(QStringLiteral("Tło:"), cbsdb, TabSheet2), 1, 0);
            left->addWidget(cbsdb, 1, 1);
            left->addWidget(BuddyLabel(QStringLiteral("Czcionka:"), cbsd, TabSheet2), 2, 0);
            left->addWidget(cbsd, 2, 1);
            left->setColumnMinimumWidth(1, 150);
            left->setColumnStretch(1, 1);

            QV_MAKE(gbRamka, QGroupBox, TabSheet2);
            gbRamka->setTitle(QStringLiteral("Rozmiar i położenie okna tekstu"));
            {
                auto* g = new QGridLayout(gbRamka);
                g->setContentsMargins(8, 12, 8, 6);
                g->setHorizontalSpacing(6);
                g->setVerticalSpacing(3);
                QV_MAKE(sedL, TSpinEdit, gbRamka);
                SetupSpin(sedL, -1000, 1000, 0, true, true);
                QV_MAKE(sedT, TSpinEdit, gbRamka);
                SetupSpin(sedT, -1000, 1000, 0, true, true);
                QV_MAKE(sedW, TSpinEdit, gbRamka);
                SetupSpin(sedW, 1, 128, 1, true, true);
                QV_MAKE(sedH, TSpinEdit, gbRamka);
                SetupSpin(sedH, 1, 32, 1, true, true);
                g->addWidget(BuddyLabel(QStringLiteral("Lewy:"), sedL, gbRamka), 0, 0);
                g->addWidget(sedL, 0, 1);
                g->addWidget(BuddyLabel(QStringLiteral("Górny:"), sedT, gbRamka), 1, 0);
                g->addWidget(sedT, 1, 1);
                g->addWidget(BuddyLabel(QStringLiteral("Szerokość:"), sedW, gbRamka), 2, 0);
                g->addWidget(sedW, 2, 1);
                g->addWidget(BuddyLabel(QStringLiteral("Wysokość:"), sedH, gbRamka), 3, 0);
                g->addWidget(sedH, 3, 1);
            }

            gbRamka->setMinimumWidth(gbRamka->fontMetrics().horizontalAdvance(gbRamka->title()) + 30);

            QV_MAKE(gbAnimacja, QGroupBox, TabSheet2);
            gbAnimacja->setTitle(QStringLiteral("Animacja / interwał"));
            {
                auto* g = new QGridLayout(gbAnimacja);
                g->setContentsMargins(8, 12, 8, 6);
                g->setHorizontalSpacing(6);
                g->setVerticalSpacing(3);
                QV_MAKE(sedHoriz, TSpinEdit, gbAnimacja);
                SetupSpin(sedHoriz, -100, 100, 5, true, true);
                sedHoriz->setMinimumWidth(90);
                QV_MAKE(sedVert, TSpinEdit, gbAnimacja);
                SetupSpin(sedVert, -100, 100, 5, true, true);
                sedVert->setMinimumWidth(90);
                g->addWidget(BuddyLabel(QStringLiteral("W poziomie:"), sedHoriz, gbAnimacja), 0, 0);
                g->addWidget(sedHoriz, 0, 1);
                g->addWidget(new QLabel(QStringLiteral("100/x (na [s])"), gbAnimacja), 0, 2);
                g->addWidget(BuddyLabel(QStringLiteral("W pionie:"), sedVert, gbAnimacja), 1, 0);
                g->addWidget(sedVert, 1, 1);
                g->addWidget(new QLabel(QStringLiteral("100/x (na [s])"), gbAnimacja), 1, 2);
                g->setRowStretch(2, 1);
            }

            auto* sendRow = new QHBoxLayout;
            QV_MAKE(esd, QLineEdit, TabSheet2);
            esd->setMaxLength(199);
            esd->setAlignment(Qt::AlignCenter);
            esd->setFont(big);
            esd->setText(QStringLiteral("Przykładowy tekst dynamiczny"));
            esd->setAccessibleName(QStringLiteral("esd"));
            QV_MAKE(btnCbsdSend, QPushButton, TabSheet2);
            btnCbsdSend->setText(QStringLiteral("Wyślij"));
            btnCbsdSend->setMinimumWidth(90);
            sendRow->addWidget(esd, 1);
            sendRow->addWidget(btnCbsdSend);

            // The window selector on top; colours and font below it beside
            // the steps; the window's frame at the right, over both rows.
            page->addLayout(adRow, 0, 0, 1, 2);
            page->addLayout(left, 1, 0, Qt::AlignTop);
            page->addWidget(gbAnimacja, 1, 1, Qt::AlignTop);
            page->addWidget(gbRamka, 0, 2, 2, 1, Qt::AlignTop);
            page->addLayout(sendRow, 2, 0, 1, 3);
            page->setColumnStretch(0, 1);
            page->setRowStretch(1, 1);
        }
        PageControlText->addTab(TabSheet2, QStringLiteral("Tekst dynamiczny określony rozmiarem"));
        PageControlText->setCurrentWidget(TabStatText);
    }
    PageControl->addTab(TabText, QStringLiteral("Teksty"));

    // ---- "Grafika" ----
    QV_MAKE(TabGFX, QWidget, PageControl);
    {
        auto* outer = new QVBoxLayout(TabGFX);
        outer->setContentsMargins(16, 16, 16, 16);
        auto* l = new QHBoxLayout;
        l->setSpacing(10);
        outer->addLayout(l);
        outer->addStretch(1);
        QV_MAKE(seLogo, TSpinEdit, TabGFX);
        SetupSpin(seLogo, 1, 64, 1, true, false);
        seLogo->setMinimumWidth(90);
        QV_MAKE(btnSendLogo, QPushButton, TabGFX);
        btnSendLogo->setText(QStringLiteral("Wyświetl"));
        btnSendLogo->setMinimumWidth(90);
        l->addWidget(BuddyLabel(QStringLiteral("Wybierz grafikę:"), seLogo, TabGFX));
        l->addWidget(seLogo);
        l->addWidget(btnSendLogo);
        l->addStretch(1);
    }
    PageControl->addTab(TabGFX, QStringLiteral("Grafika"));

    // ---- "Aktualizacja" ----
    QV_MAKE(TabUpdate, QWidget, PageControl);
    {
        auto* l = new QVBoxLayout(TabUpdate);
        l->setContentsMargins(8, 10, 8, 6);
        l->setSpacing(8);
        auto* grid = new QGridLayout;
        grid->setHorizontalSpacing(10);
        grid->setVerticalSpacing(8);
        QV_MAKE(btnFlash, QPushButton, TabUpdate);
        btnFlash->setText(QStringLiteral("Upgreade CPU"));
        QV_MAKE(BitBtn1, QPushButton, TabUpdate);
        BitBtn1->setText(QStringLiteral("komenda Upgreade CPU"));
        QV_MAKE(btnAutoRun, QPushButton, TabUpdate);
        btnAutoRun->setText(QStringLiteral("Flashing GFX"));
        QV_MAKE(btnSet9600, QPushButton, TabUpdate);
        btnSet9600->setText(QStringLiteral("Switch from 115200bps to 9600bps"));
        QV_MAKE(btnSetHiSpeed, QPushButton, TabUpdate);
        btnSetHiSpeed->setText(QStringLiteral("Switch from 9600bps to 115200bps"));
        grid->addWidget(btnFlash, 0, 0);
        grid->addWidget(BitBtn1, 1, 0);
        grid->addWidget(btnAutoRun, 2, 0);
        grid->addWidget(btnSet9600, 0, 2);
        grid->addWidget(btnSetHiSpeed, 1, 2);
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
    }
    PageControl->addTab(TabUpdate, QStringLiteral("Aktualizacja"));
    PageControl->setCurrentWidget(TabUpdate);

    // ---- operator log ----
    QV_MAKE(gbLog, QGroupBox, this);
    gbLog->setTitle(QStringLiteral("Dane nadawane/odbierane ze sterownika"));
    {
        auto* l = new QVBoxLayout(gbLog);
        l->setContentsMargins(6, 12, 6, 6);
        QV_MAKE(Memo1, QPlainTextEdit, gbLog);
        Memo1->setReadOnly(true);
        Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
        Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        Memo1->setAccessibleName(QStringLiteral("Memo1"));
        l->addWidget(Memo1);
    }
    root->addWidget(gbLog, 1);

    // ---- status line ----
    auto* status = Named(new QFrame(this), "StatusPanel");
    status->setFixedHeight(cStatusHeight);
    status->setFrameShape(QFrame::NoFrame);
    {
        auto* l = new QHBoxLayout(status);
        l->setContentsMargins(2, 0, 2, 0);
        QV_MAKE(lStat, QLabel, status);
        lStat->setFont(TahomaFont(16));
        lStat->setAlignment(Qt::AlignCenter);
        l->addWidget(lStat);
    }
    root->addWidget(status);
}

void TMainForm::ConnectHandlers()
{
    // Each subsystem wires its own controls, beside its handlers.
    ConnectPortHandlers();
    ConnectDeviceHandlers();
    ConnectContentHandlers();
    ConnectUpdateHandlers();
    Wire(this, btnClearMemo, &QPushButton::clicked, &TMainForm::btnClearMemoClick);
}

void TMainForm::FormCreate()
{
    Receiver.Reset();
    lStat->setText(QStringLiteral("Czekam na Twój ruch...."));
    cbAuto->setChecked(seJasnosc->value() == 0);
    Init_StatycznyText();
    Init_DynamicznyText();
}

void TMainForm::AppendLog(const QString& line)
{
    Memo1->appendPlainText(line);
}

void TMainForm::btnClearMemoClick()
{
    Memo1->clear();
}

void TMainForm::LogLine(const std::string& line)
{
    AppendLog(QString::fromUtf8(line.data(), qsizetype(line.size())));
}

void TMainForm::PauseMs(int ms)
{
    Q_UNUSED(ms);
    QThread::msleep(static_cast<unsigned long>(StartBytePauseMs));
}

void TMainForm::SetSelectorColour(QComboBox* box, const QColor& colour)
{
    // The list draws as a button: its face takes the colour, its text a
    // colour that stays readable on it.
    const QColor text = colour.lightness() < 128 ? QColor(Qt::white) : QColor(Qt::black);
    QPalette p = box->palette();
    for (auto role : {QPalette::Base, QPalette::Button, QPalette::Window})
        p.setColor(role, colour);
    for (auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
        p.setColor(role, text);
    box->setPalette(p);
    // The opened list keeps the window's colours.
    box->view()->setPalette(QApplication::palette(box->view()));
}

QColor TMainForm::SelectorColour(const QComboBox* box)
{
    return box->palette().color(QPalette::Base);
}
