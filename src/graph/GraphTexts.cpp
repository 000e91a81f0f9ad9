#include "GraphTexts.h"

#include "CaptureStore.h"
#include "PacketTexts.h"
#include "TimeMath.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Format(const char* format, double a) {
    char text[96];
    std::snprintf(text, sizeof text, format, a);
    return text;
}

const char* MarkerName(GraphMarker m) {
    return m == GraphMarker::X ? "X" : "O";
}

} // namespace

std::string MarkerLabelText(GraphMarker m, const CGraphModel::MarkerPlace& place) {
    const std::string name = std::string(" ") + MarkerName(m) + " ";
    if (place.offLeft) return " <<" + name;
    if (place.offRight) return name + " >>";
    return name;
}

std::vector<GraphText> MarkerPanelTexts(GraphMarker m, const CCaptureStore& store, const CVbusInfo& s,
                                        bool reverseCurrent) {
    const GraphInk own = m == GraphMarker::X ? GraphInk::MarkerX : GraphInk::MarkerO;
    return {
        {std::string(" ") + MarkerName(m) + " " + FormatTimeText(store.DisplayTime(s)) + " ", own},
        {" VBUS Voltage=" + s.VbusVoltageText() + "[V] ", GraphInk::VbusVoltage},
        {" VBUS Current=" + s.VbusCurrentText(reverseCurrent) + "[A] ", GraphInk::VbusCurrent},
        {" VBUS Wattage=" + s.VbusPowerText(reverseCurrent) + "[W] ", GraphInk::VbusPower},
        {" CC1 Voltage=" + s.CcVoltageText(0) + "[V] ", GraphInk::Cc1Voltage},
        {" CC2 Voltage=" + s.CcVoltageText(1) + "[V] ", GraphInk::Cc2Voltage},
    };
}

std::optional<std::string> EnergyText(const CCaptureStore& store, int64_t markerO, int64_t markerX,
                                      bool reverseCurrent) {
    if (store.SampleCount() == 0) return std::nullopt;
    const int64_t t0 = std::min(markerO, markerX), t1 = std::max(markerO, markerX);
    float forward = 0, reverse = 0;
    if (!store.Energy(t0, t1, &forward, &reverse)) {
        // The earlier marker precedes the first sample: the integral starts there, as it stops at the
        // last sample when the later marker lies beyond it.
        const int64_t first = store.DisplayTime(*store.SampleAt(0));
        if (t1 < first || !store.Energy(first, t1, &forward, &reverse)) forward = reverse = 0;
    }
    const float net = forward - reverse;
    float energy = net / 3600.0f;
    float average = markerX == markerO ? 0.0f : net / float(TimeDifference(markerX, markerO)) * 1000.0f;
    if (reverseCurrent && energy != 0.0f) {
        energy = -energy;
        average = -average;
    }
    char text[128];
    if (energy > -1000000.0f && energy < 1000000.0f)
        std::snprintf(text, sizeof text, " (%.2f[mWh] Ave=%.2f[W])", double(energy), double(average));
    else
        std::snprintf(text, sizeof text, " (%.2f[Wh] Ave=%.2f[W]", double(energy / 1000.0f), double(average));
    return std::string(text);
}

std::vector<GraphText> MeasurementTexts(const CGraphModel& model, const CCaptureStore* store) {
    std::vector<GraphText> lines;
    const int64_t o = model.MarkerTime(GraphMarker::O);
    const int64_t x = model.MarkerTime(GraphMarker::X);
    std::string first = "O to X : " + FormatTimeText(TimeDifference(x, o));
    if (store && model.AreaOn(GraphArea::Wattage))
        if (const auto energy = EnergyText(*store, o, x, model.ReverseCurrent())) first += *energy;
    lines.push_back({first, GraphInk::MarkerX});
    if (store && store->markerAPacket)
        lines.push_back({"O to A : " + FormatTimeText(TimeDifference(store->DisplayTime(*store->markerAPacket), o)),
                         GraphInk::MarkerA});
    if (store && store->markerBPacket)
        lines.push_back({"O to B : " + FormatTimeText(TimeDifference(store->DisplayTime(*store->markerBPacket), o)),
                         GraphInk::MarkerB});
    return lines;
}

CursorTexts CursorTextsAt(const CGraphModel& model, int32_t x, int32_t y) {
    CursorTexts c;
    if (!model.InPlot(x, y)) return c;
    if (model.Highlighted() == GraphMarker::None) c.time = FormatTimeText(model.TimeAtX(x));
    auto reading = [&](GraphArea a) {
        const int32_t fromZero = model.ZeroY(a) - y;
        const int32_t signedRows = a != GraphArea::Voltage && model.CurrentFlip() ? -fromZero : fromZero;
        return float(signedRows) / model.Area(a).scale / 1000.0f;
    };
    if (model.InBand(GraphArea::Voltage, y) && model.Area(GraphArea::Voltage).scale > 0)
        c.voltage = Format("V=%2.2f[V]", double(reading(GraphArea::Voltage)));
    if (model.InBand(GraphArea::Current, y) && model.Area(GraphArea::Current).scale > 0)
        c.current = Format("I=%1.3f[A]", double(reading(GraphArea::Current)));
    if (model.InBand(GraphArea::Wattage, y) && model.Area(GraphArea::Wattage).scale > 0)
        c.power = Format("P=%.3f[W]", double(reading(GraphArea::Wattage)));
    return c;
}
