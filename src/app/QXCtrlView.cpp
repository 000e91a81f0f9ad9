#include "QXCtrlView.h"

#include "CommandTable.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "Settings.h"

#include <QFontMetrics>
#include <QLabel>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Printf(const char* format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Readings this small are noise of an open line.
int32_t ZeroBelow11(int32_t millivolts) {
    return millivolts < 11 ? 0 : millivolts;
}

// Arial whose cell (ascent plus descent) is the given height, so that a line of text fills a row of
// that height without being cut.
QFont ArialOfHeight(int height) {
    QFont f(QStringLiteral("Arial"));
    int px = std::max(height, 1);
    f.setPixelSize(px);
    while (px > 1 && QFontMetrics(f).height() > height) f.setPixelSize(--px);
    return f;
}

QRect Box(int x, int y, int w, int h) {
    return QRect(x, y, std::max(w, 0), std::max(h, 0));
}

struct ButtonDef {
    ButtonPicture picture;
    const char* name;
    const char* objectName;
    uint32_t command;
};
constexpr ButtonDef kButtons[3] = {
    {ButtonPicture::Run, "Run", "runButton", cmd::kRun},
    {ButtonPicture::Pause, "Pause", "pauseButton", cmd::kStop},
    {ButtonPicture::Clear, "Clear", "clearButton", cmd::kClear},
};

constexpr const char* kGroupNames[4] = {"VBUS", "CC1", "CC2", "VCONN"};

} // namespace

LiveSnapshot TakeLiveSnapshot(const LiveReadings& live) {
    LiveSnapshot s;
    s.vbusVoltage = live.vbusVoltage.load(std::memory_order_relaxed);
    s.vbusCurrent = live.vbusCurrent.load(std::memory_order_relaxed);
    s.cc1Voltage = live.cc1Voltage.load(std::memory_order_relaxed);
    s.cc1Current = live.cc1Current.load(std::memory_order_relaxed);
    s.cc2Voltage = live.cc2Voltage.load(std::memory_order_relaxed);
    s.cc2Current = live.cc2Current.load(std::memory_order_relaxed);
    return s;
}

CcClass CcClassOf(int32_t mv) {
    if (mv < 250) return CcClass::None;
    if (mv <= 610) return CcClass::VRdUsb;
    if (mv >= 700 && mv <= 1160) return CcClass::VRd1_5;
    if (mv >= 1310 && mv <= 2040) return CcClass::VRd3_0;
    if (mv <= 2180) return CcClass::VRdConnect;
    return CcClass::None;
}

std::string CcClassText(CcClass c, int line) {
    const char* name = nullptr;
    switch (c) {
    case CcClass::None:
        return std::string();
    case CcClass::VRdConnect:
        name = "vRd-Connect";
        break;
    case CcClass::VRdUsb:
        name = "vRd-USB";
        break;
    case CcClass::VRd1_5:
        name = "vRd-1.5";
        break;
    case CcClass::VRd3_0:
        name = "vRd-3.0";
        break;
    }
    return Printf("%s (CC%d)", name, line);
}

VconnLine VconnLineOf(int32_t cc1Voltage, int32_t cc2Voltage) {
    const bool cc1Class = CcClassOf(cc1Voltage) != CcClass::None;
    const bool cc2Class = CcClassOf(cc2Voltage) != CcClass::None;
    if (cc1Class && !cc2Class) return cc2Voltage != 0 ? VconnLine::Cc2 : VconnLine::None;
    if (cc2Class && !cc1Class) return cc1Voltage != 0 ? VconnLine::Cc1 : VconnLine::None;
    return VconnLine::None;
}

CtrlTexts ComputeCtrlTexts(const LiveSnapshot& live) {
    const int32_t v = ZeroBelow11(live.vbusVoltage);
    const int32_t v1 = ZeroBelow11(live.cc1Voltage);
    const int32_t v2 = ZeroBelow11(live.cc2Voltage);
    // The CC currents are shown in the sense of the VBUS current, which itself is shown unsigned.
    const int64_t s = live.vbusCurrent < 0 ? -1 : 1;
    const int64_t i = std::llabs(int64_t(live.vbusCurrent));
    const int64_t i1 = s * live.cc1Current;
    const int64_t i2 = s * live.cc2Current;

    CtrlTexts t;
    t.vbusVoltage = Printf("%2.2f [V]", v / 1000.0);
    t.vbusCurrent = Printf("%1.3f [A]", double(i) / 1000.0);
    t.vbusPower = Printf("%3.2f [W]", double(float(i) * float(v) / 1000.0f / 1000.0f));
    t.cc1Voltage = Printf("%1.2f [V]", v1 / 1000.0);
    t.cc1Current = Printf("%1.3f [A]", double(i1) / 1000.0);
    t.cc2Voltage = Printf("%1.2f [V]", v2 / 1000.0);
    t.cc2Current = Printf("%1.3f [A]", double(i2) / 1000.0);

    if (live.vbusCurrent > 0) {
        t.directionShown = true;
        t.direction = DirectionPicture::PlugToReceptacle;
    } else if (live.vbusCurrent < 0) {
        t.directionShown = true;
        t.direction = DirectionPicture::ReceptacleToPlug;
    } else if (v > 3000) {
        t.directionShown = true;
        t.direction = DirectionPicture::NoCurrent;
    }

    t.ccStatus = CcClassText(CcClassOf(v1), 1) + CcClassText(CcClassOf(v2), 2);

    int64_t lineVoltage = 0, lineCurrent = 0;
    switch (VconnLineOf(v1, v2)) {
    case VconnLine::Cc1:
        lineVoltage = v1;
        lineCurrent = i1;
        break;
    case VconnLine::Cc2:
        lineVoltage = v2;
        lineCurrent = i2;
        break;
    case VconnLine::None:
        break;
    }
    t.vconnVoltage = Printf("%1.2f [V]", double(lineVoltage) / 1000.0);
    t.vconnPower = Printf("%3.2f [W]", double(lineCurrent * lineVoltage) / 1000.0 / 1000.0);
    return t;
}

std::string PeakPowerText(const CaptureExtremes& x) {
    std::string text;
    if (x.maxVbusPower != 0)
        text += Printf("Peak VBUS Power\n  %3.2f [W] (%2.2f [V] %1.3f [A])\n", x.maxVbusPower / 1000.0,
                       x.maxVbusPowerVoltage / 1000.0, x.maxVbusPowerCurrent / 1000.0);
    if (x.minVbusPower != 0)
        text +=
            Printf("Peak VBUS Power (Dir=Rvs)\n  %3.2f [W] (%2.2f [V] %1.3f [A])\n", x.minVbusPower / 1000.0,
                   x.minVbusPowerVoltage / 1000.0, x.minVbusPowerCurrent / 1000.0);
    return text;
}

std::string WidestPeakText() {
    CaptureExtremes x;
    x.maxVbusPower = 240000;
    x.maxVbusPowerVoltage = 48000;
    x.maxVbusPowerCurrent = 5000;
    x.minVbusPower = -240000;
    x.minVbusPowerVoltage = 48000;
    x.minVbusPowerCurrent = -5000;
    return PeakPowerText(x);
}

CtrlLayout ComputeCtrlLayout(int viewHeight, int viewWidth, int readableHeight) {
    CtrlLayout L;
    L.h = std::clamp(viewHeight, 0, 200);
    // Below 21 pixels there is no room for a row; everything collapses to nothing.
    L.u = std::max((L.h - 21) / 3, 0);
    const int h = L.h, u = L.u;
    const int column = 5 * u;
    const int readable = std::max(readableHeight, 1);
    L.valueFontHeight = std::max(u, 1);
    L.statusFontHeight = std::max(u / 2, readable);
    L.peakFontHeight = std::max(int(u * 0.7), readable);

    // Left group, from the bottom up with 7-pixel gaps: the VBUS power level with the last value row,
    // the CC status above it, and the direction picture in what is left above them.
    L.vbusPower = Box(7, 2 * u + 21, column, u);
    const int statusTop = L.vbusPower.y() - 7 - L.statusFontHeight;
    L.ccStatus = Box(7, statusTop, column, L.statusFontHeight);
    L.direction = Box(7, 7, column, statusTop - 14);

    // VBUS, CC1, CC2, VCONN: three rows of u each.
    int x = 7 + column + 14;
    for (auto& group : L.groups) {
        for (int row = 0; row < 3; ++row) group[row] = Box(x, 7 + row * (u + 7), column, u);
        x += column + 7;
    }
    x += 7; // 14 before the buttons

    const int side = h - 7;
    for (int b = 0; b < 3; ++b) L.buttons[b] = Box(x + b * h, 7, side, side);
    const int peakX = x + 2 * h + side + 14;
    L.peak = Box(peakX, 7, std::max(3 * side, viewWidth - 7 - peakX), side);
    return L;
}

// ---------------------------------------------------------------------------------------------
// ---------------------------------------------------------------------------------------------

CQXCtrlView::CQXCtrlView(IViewHost& h, QWidget* parent) : QWidget(parent), host(h) {
    setObjectName(QStringLiteral("ctrlView"));

    static constexpr const char* kFieldNames[size_t(Field::Count)] = {
        "vbusVoltage", "vbusCurrent",  "vbusPower",  "cc1Voltage", "cc1Current", "cc2Voltage",
        "cc2Current",  "vconnVoltage", "vconnPower", "ccStatus",   "peakPower"};
    for (size_t f = 0; f < fields.size(); ++f) {
        QLabel* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(kFieldNames[f]));
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignCenter);
        fields[f] = l;
    }
    for (Field f :
         {Field::VbusVoltage, Field::VbusCurrent, Field::VbusPower, Field::Cc1Voltage, Field::Cc1Current,
          Field::Cc2Voltage, Field::Cc2Current, Field::VconnVoltage, Field::VconnPower}) {
        QLabel* l = fields[size_t(f)];
        l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        l->setAutoFillBackground(true);
        l->setBackgroundRole(QPalette::Base);
    }
    QLabel* peak = fields[size_t(Field::PeakPower)];
    peak->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    peak->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    peak->setAutoFillBackground(true);
    peak->setBackgroundRole(QPalette::Base);
    peak->setMargin(2);
    fields[size_t(Field::CcStatus)]->setText(QString::fromStdString(ccStatusText));

    for (int g = 0; g < 4; ++g) {
        QLabel* l = new QLabel(QString::fromLatin1(kGroupNames[g]), this);
        l->setObjectName(QString::fromLatin1(kGroupNames[g]).toLower() + QStringLiteral("Label"));
        l->setAlignment(Qt::AlignCenter);
        groupLabels[size_t(g)] = l;
    }

    directionLabel = new QLabel(this);
    directionLabel->setObjectName(QStringLiteral("directionPicture"));
    directionLabel->setAlignment(Qt::AlignCenter);
    directionLabel->hide();

    for (size_t b = 0; b < buttons.size(); ++b) {
        const ButtonDef& def = kButtons[b];
        QToolButton* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(def.objectName));
        button->setText(QString::fromLatin1(def.name));
        button->setToolTip(QString::fromLatin1(def.name));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setFocusPolicy(Qt::NoFocus);
        const uint32_t command = def.command;
        connect(button, &QToolButton::clicked, this, [this, command] { host.ExecuteCommand(command); });
        buttons[b] = button;
    }

    // Readings stay readable: the splitter cannot take the view below this, and a stored height is
    // raised to it.
    setMinimumHeight(MinimumHeight());
    OnUpdate(nullptr, 0);
    ApplyLayout();
}

int CQXCtrlView::ReadableHeight() const {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(int(std::ceil(kReadablePoints * logicalDpiY() / 72.0)));
    return QFontMetrics(f).height();
}

int CQXCtrlView::ValueFrame() const {
    return 2 * fields[size_t(Field::VbusVoltage)]->frameWidth();
}

int CQXCtrlView::MinimumHeight() const {
    // The row unit holds a value's line and its box's frame.
    return 3 * (ReadableHeight() + ValueFrame()) + 21;
}

CtrlLayout CQXCtrlView::LayoutFor(int viewHeight, int viewWidth) const {
    return ComputeCtrlLayout(viewHeight, viewWidth, ReadableHeight());
}

bool CQXCtrlView::PeakFits(const CtrlLayout& layout, int viewWidth) const {
    const QRect box = layout.peak;
    if (box.right() + 1 > viewWidth - 7) return false;
    const QLabel* peak = fields[size_t(Field::PeakPower)];
    const int chrome = 2 * (peak->frameWidth() + peak->margin());
    // The closing line break draws nothing.
    const QString text = QString::fromStdString(WidestPeakText()).trimmed();
    const QSize need = QFontMetrics(ArialOfHeight(layout.peakFontHeight))
                           .boundingRect(QRect(0, 0, 4000, 4000), Qt::AlignLeft | Qt::AlignTop, text)
                           .size();
    return need.width() + chrome <= box.width() && need.height() + chrome <= box.height();
}

int CQXCtrlView::DefaultHeight(int windowHeight, int width) const {
    const int lowest = MinimumHeight();
    int h = std::max(std::min(windowHeight / 4, 100), lowest);
    while (h > lowest && !PeakFits(LayoutFor(h, width), width)) --h;
    return h;
}

CQXCtrlView::~CQXCtrlView() {
    host.Settings().ctrlViewHeight = height();
}

void CQXCtrlView::OnInitialUpdate() {
    OnUpdate(nullptr, 0);
}

void CQXCtrlView::OnUpdate(IDocView* /*sender*/, int64_t /*hint*/) {
    const bool live = host.LiveReadingsValid();
    const bool recording = host.RecordingActive();
    buttons[size_t(ButtonPicture::Run)]->setEnabled(live && !recording);
    buttons[size_t(ButtonPicture::Pause)]->setEnabled(live && recording);
    const CQXDoc* doc = host.Document();
    buttons[size_t(ButtonPicture::Clear)]->setEnabled(doc && doc->store.SampleCount() > 0);
}

void CQXCtrlView::Refresh() {
    // Without current readings every value goes blank, the CC status with them, and the picture hides;
    // the peak power belongs to the document and stays.
    const CtrlTexts texts =
        host.LiveReadingsValid() ? ComputeCtrlTexts(TakeLiveSnapshot(host.Live())) : CtrlTexts{};
    const CQXDoc* doc = host.Document();
    peakText = doc ? PeakPowerText(doc->store.extremes) : std::string();
    ShowTexts(texts);
}

void CQXCtrlView::ShowTexts(const CtrlTexts& t) {
    ccStatusText = t.ccStatus;
    const std::pair<Field, const std::string*> shown[] = {
        {Field::VbusVoltage, &t.vbusVoltage}, {Field::VbusCurrent, &t.vbusCurrent},
        {Field::VbusPower, &t.vbusPower},     {Field::Cc1Voltage, &t.cc1Voltage},
        {Field::Cc1Current, &t.cc1Current},   {Field::Cc2Voltage, &t.cc2Voltage},
        {Field::Cc2Current, &t.cc2Current},   {Field::VconnVoltage, &t.vconnVoltage},
        {Field::VconnPower, &t.vconnPower},   {Field::CcStatus, &ccStatusText},
        {Field::PeakPower, &peakText},
    };
    for (const auto& [field, text] : shown) {
        const QString q = QString::fromStdString(*text);
        QLabel* l = fields[size_t(field)];
        if (l->text() != q) l->setText(q);
    }
    ShowDirection(t.directionShown, t.direction);
}

void CQXCtrlView::ShowDirection(bool shown, DirectionPicture which) {
    if (which != direction) {
        direction = which;
        directionLabel->setPixmap(DirectionPixmap(direction, directionLabel->size()));
    }
    directionLabel->setHidden(!shown);
    fields[size_t(Field::CcStatus)]->setHidden(!shown);
}

void CQXCtrlView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ApplyLayout();
}

void CQXCtrlView::ApplyLayout() {
    const CtrlLayout L = LayoutFor(height(), width());
    const QFont labelFont = ArialOfHeight(L.valueFontHeight);
    // A value's line fits inside its box's frame, so that no bracket or digit touches it.
    const QFont valueFont = ArialOfHeight(std::max(L.valueFontHeight - ValueFrame(), 1));

    directionLabel->setGeometry(L.direction);
    directionLabel->setPixmap(DirectionPixmap(direction, L.direction.size()));

    QLabel* status = fields[size_t(Field::CcStatus)];
    status->setGeometry(L.ccStatus);
    status->setFont(ArialOfHeight(L.statusFontHeight));

    QLabel* power = fields[size_t(Field::VbusPower)];
    power->setGeometry(L.vbusPower);
    power->setFont(valueFont);

    const Field values[4][2] = {{Field::VbusVoltage, Field::VbusCurrent},
                                {Field::Cc1Voltage, Field::Cc1Current},
                                {Field::Cc2Voltage, Field::Cc2Current},
                                {Field::VconnVoltage, Field::VconnPower}};
    for (size_t g = 0; g < 4; ++g) {
        groupLabels[g]->setGeometry(L.groups[g][0]);
        groupLabels[g]->setFont(labelFont);
        for (size_t r = 0; r < 2; ++r) {
            QLabel* l = fields[size_t(values[g][r])];
            l->setGeometry(L.groups[g][r + 1]);
            l->setFont(valueFont);
        }
    }

    for (size_t b = 0; b < buttons.size(); ++b) {
        QToolButton* button = buttons[b];
        const QRect r = L.buttons[b];
        button->setGeometry(r);
        // The picture keeps a small border inside the button frame.
        const int side = std::max(r.width() - 8, 1);
        if (button->iconSize() != QSize(side, side) || button->icon().isNull()) {
            button->setIconSize(QSize(side, side));
            button->setIcon(QIcon(ButtonPixmap(kButtons[b].picture, side)));
        }
    }

    QLabel* peak = fields[size_t(Field::PeakPower)];
    peak->setGeometry(L.peak);
    peak->setFont(ArialOfHeight(L.peakFontHeight));
}

QSize CQXCtrlView::sizeHint() const {
    const int h = height() > 0 ? height() : 100;
    return QSize(LayoutFor(h, 0).Right() + 7, h);
}

QString CQXCtrlView::FieldText(Field f) const {
    return fields[size_t(f)]->text();
}

QWidget* CQXCtrlView::FieldWidget(Field f) const {
    return fields[size_t(f)];
}

QLabel* CQXCtrlView::GroupLabel(int group) const {
    return groupLabels[size_t(group)];
}

bool CQXCtrlView::DirectionVisible() const {
    return !directionLabel->isHidden();
}

QWidget* CQXCtrlView::DirectionWidget() const {
    return directionLabel;
}

QAbstractButton* CQXCtrlView::Button(ButtonPicture b) const {
    return buttons[size_t(b)];
}

bool CQXCtrlView::ButtonEnabled(ButtonPicture b) const {
    return buttons[size_t(b)]->isEnabled();
}
