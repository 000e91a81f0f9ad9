// Paints the graph with QPainter, in this order: frame and plot background, area backgrounds with the
// vRd bands, time axis, value axes, the vRd bands' names, PD strip, the nine traces, markers O and X,
// and the zoom box or the cursor; the measurement texts below the plot are painted apart, after the
// image is on screen. Every text is written in an ink that reads on its background.
#pragma once

#include "GraphModel.h"
#include "GraphStrip.h"
#include "GraphTraces.h"
#include "Settings.h"

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>

class CCaptureStore;
class CCCPacket;
class QPainter;

// How the traces are made: the walk or the column summary, or whichever is quicker for the window
// (they draw the same picture).
enum class TraceMethod { Auto, Walk, Summary };

struct GraphScene {
    const CGraphModel* model = nullptr;
    const GraphSettings* style = nullptr;
    QFont font;
    const CCaptureStore* store = nullptr;    // null without a document
    const CSampleSummary* summary = nullptr;  // in step with the store, or null
    const CPacketStripIndex* strip = nullptr; // likewise
    const CCCPacket* selected = nullptr;     // the packet list's selected packet
    bool showPdPackets = true;
    bool showMeasuringPoints = false;
    bool vrdBands = true;
    bool cursorOn = false;
    bool pointerSet = false; // the pointer is over the view
    QPoint pointer;
    bool zoomBox = false;
    QPoint boxStart;
    TraceMethod traces = TraceMethod::Auto;
};

QColor GraphColour(uint32_t bgr);

// The part of the view composed off-screen: the plot with the value gutters and the time label strip.
QRect GraphImageRect(const CGraphModel& model);

// Everything inside GraphImageRect, in window coordinates.
void PaintGraph(QPainter& painter, const GraphScene& scene);
// The measurement texts in their region below the plot.
void PaintMeasurements(QPainter& painter, const GraphScene& scene);

// Rows between two lines of text: the font height, or the font's own line height when that is more, so
// that a line's background never covers the one above it.
int GraphLineStep(const QFont& font, int32_t fontHeight);
