// The strip at the top of the main window: live VBUS, CC1, CC2 and VCONN readings, the direction of
// the VBUS current, the Type-C current advertisement on CC1 and CC2, the peak VBUS power of the
// capture, and the Run, Pause and Clear buttons.
#pragma once

#include "CaptureStore.h"
#include "DocView.h"
#include "Pictures.h"

#include <QRect>
#include <QWidget>

#include <array>
#include <cstdint>
#include <string>

class QAbstractButton;
class QLabel;
class QToolButton;
struct LiveReadings;

// One copy of the six live values (mV, mA). The reader thread may be half way through updating them;
// they only feed the display.
struct LiveSnapshot {
    int32_t vbusVoltage = 0;
    int32_t vbusCurrent = 0;
    int32_t cc1Voltage = 0;
    int32_t cc1Current = 0;
    int32_t cc2Voltage = 0;
    int32_t cc2Current = 0;
};
LiveSnapshot TakeLiveSnapshot(const LiveReadings& live);

// The Type-C current advertisement a sink sees as the voltage on a CC line.
enum class CcClass { None, VRdConnect, VRdUsb, VRd1_5, VRd3_0 };
CcClass CcClassOf(int32_t millivolts);
// "vRd-USB (CC1)" and the like; empty for None. line is 1 or 2.
std::string CcClassText(CcClass c, int line);

// The CC line that carries VCONN: the one without a class, next to one with a class, if it has a
// voltage. Voltages as shown (below 11 mV already 0).
enum class VconnLine { None, Cc1, Cc2 };
VconnLine VconnLineOf(int32_t cc1Voltage, int32_t cc2Voltage);

// Everything the live part of the view shows for one set of readings.
struct CtrlTexts {
    std::string vbusVoltage, vbusCurrent, vbusPower;
    std::string cc1Voltage, cc1Current, cc2Voltage, cc2Current;
    std::string vconnVoltage, vconnPower;
    std::string ccStatus;
    // The direction picture and the CC status text are shown together.
    bool directionShown = false;
    DirectionPicture direction = DirectionPicture::NoCurrent;
};
CtrlTexts ComputeCtrlTexts(const LiveSnapshot& live);

// The forward (maxVbusPower) and reverse (minVbusPower) peak blocks; empty when both are 0.
std::string PeakPowerText(const CaptureExtremes& x);
// The widest peak text the box must hold: both blocks, at 240 W either way.
std::string WidestPeakText();

// Where everything goes for a view of the given height and width. readableHeight is the line height of
// the smallest font a reading may have: the CC status and the peak text never go below it, however
// small their share of the row unit. The left group ends with the VBUS power level with the last value
// row, so that nothing stands below the view; the peak text box takes the width the view has to spare.
struct CtrlLayout {
    int h = 0; // the height used: the view's, at most 200
    int u = 0; // the row unit
    QRect direction, ccStatus, vbusPower;
    // VBUS, CC1, CC2, VCONN; each: label, first value, second value.
    std::array<std::array<QRect, 3>, 4> groups;
    std::array<QRect, 3> buttons; // Run, Pause, Clear
    QRect peak;
    // Arial font heights in pixels: the height of a line of text (ascent plus descent).
    int valueFontHeight = 1, statusFontHeight = 1, peakFontHeight = 1;
    int Right() const { return peak.right() + 1; }
};
CtrlLayout ComputeCtrlLayout(int viewHeight, int viewWidth = 0, int readableHeight = 1);

class CQXCtrlView : public QWidget, public IDocView {
    Q_OBJECT
public:
    explicit CQXCtrlView(IViewHost& host, QWidget* parent = nullptr);
    // Leaves the view's height in the settings ("CtrlViewHeight").
    ~CQXCtrlView() override;

    // The timer's refresh: live readings, direction picture, CC status and the peak power text.
    void Refresh();

    void OnInitialUpdate() override;
    // Button states.
    void OnUpdate(IDocView* sender, int64_t hint) override;

    QSize sizeHint() const override;

    // The smallest size a reading may have, in points, and the line height of that Arial on this view.
    static constexpr int kReadablePoints = 9;
    int ReadableHeight() const;
    // The lowest height at which every reading keeps the readable size; the view never gets lower.
    int MinimumHeight() const;
    // What the frame of a value box takes of its height.
    int ValueFrame() const;
    // The height the view takes in a window of the given height when none is stored: a quarter of it,
    // at most 100, and lower still where the peak text would not fit in the given width (never below
    // MinimumHeight).
    int DefaultHeight(int windowHeight, int width) const;

    // What the view shows, for tests and for the window's own checks.
    enum class Field {
        VbusVoltage,
        VbusCurrent,
        VbusPower,
        Cc1Voltage,
        Cc1Current,
        Cc2Voltage,
        Cc2Current,
        VconnVoltage,
        VconnPower,
        CcStatus,
        PeakPower,
        Count
    };
    QString FieldText(Field f) const;
    QWidget* FieldWidget(Field f) const;
    // The "VBUS", "CC1", "CC2" and "VCONN" labels, by group 0..3.
    QLabel* GroupLabel(int group) const;
    bool DirectionVisible() const;
    DirectionPicture Direction() const { return direction; }
    QWidget* DirectionWidget() const;
    QAbstractButton* Button(ButtonPicture b) const;
    bool ButtonEnabled(ButtonPicture b) const;
    const std::string& CcStatusText() const { return ccStatusText; }
    const std::string& PeakText() const { return peakText; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The layout for a size of this view, with the fonts it gets.
    CtrlLayout LayoutFor(int viewHeight, int viewWidth) const;
    // The peak text box of the layout holds the widest peak text, and lies inside the width.
    bool PeakFits(const CtrlLayout& layout, int viewWidth) const;
    void ApplyLayout();
    void ShowTexts(const CtrlTexts& t);
    void ShowDirection(bool shown, DirectionPicture which);

    IViewHost& host;
    std::array<QLabel*, size_t(Field::Count)> fields{};
    std::array<QLabel*, 4> groupLabels{};
    QLabel* directionLabel = nullptr;
    std::array<QToolButton*, 3> buttons{};
    DirectionPicture direction = DirectionPicture::NoCurrent;
    std::string ccStatusText = "CC Status";
    std::string peakText;
};
