// The document's views and what they need from the main window around them. The window keeps its views
// in creation order; "update all views" calls OnUpdate of each in that order, so a view may rely on the
// views created before it being up to date (the tree before the field table).
#pragma once

#include <cstdint>
#include <string>

class CCCPacket;
class CFindCriteria;
class CPDPacketListView;
class CPDPacketTreeView;
class CQXDoc;
class CQXLogView;
class CSettings;
class QFont;
struct LiveReadings;

class IDocView {
public:
    virtual ~IDocView() = default;
    virtual void OnInitialUpdate() {}
    // sender: the view that caused the update, or null (document, timer).
    virtual void OnUpdate(IDocView* sender, int64_t hint) = 0;
};

// The main window as the views see it. Everything runs on the user-interface thread.
class IViewHost {
public:
    virtual ~IViewHost() = default;

    // The document; null when there is none.
    virtual CQXDoc* Document() = 0;
    virtual CSettings& Settings() = 0;
    virtual void UpdateAllViews(IDocView* sender, int64_t hint) = 0;
    // The status bar's message pane.
    virtual void SetStatusText(const std::string& text) = 0;
    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;

    // Recording state: `capturing`, and the condition "recording active".
    virtual bool IsCapturing() const = 0;
    virtual bool RecordingActive() const = 0;
    // `connected`, the reader runs and no reader exit request is pending: the live readings are current.
    virtual bool LiveReadingsValid() const = 0;
    virtual const LiveReadings& Live() const = 0;

    // The PD message auto-scroll flag (command 32805).
    virtual bool PdMessageAutoScroll() const = 0;
    // The find criteria and the display filter (its displayFilterEnabled is the active flag).
    virtual const CFindCriteria& FindCriteria() const = 0;
    virtual const CFindCriteria& DisplayFilter() const = 0;

    // The packet list's selected packet (`GetSelectedPacket`), null when no row is selected.
    virtual const CCCPacket* SelectedPacket() = 0;
    // The views, found by class; null when the window has none of that class.
    virtual CQXLogView* PacketList() = 0;
    virtual CPDPacketTreeView* PacketTree() = 0;
    virtual CPDPacketListView* FieldTable() = 0;

    // Commands of the main window (menu ids), with their enabling rule; used by the control view's
    // buttons and the packet list's context menu.
    virtual void ExecuteCommand(uint32_t id) = 0;
    virtual bool IsCommandEnabled(uint32_t id) const = 0;

    // The list font the application remembers for the run (left there by a destroyed packet list);
    // null when none is remembered.
    virtual const QFont* RememberedListFont() const = 0;
    virtual void RememberListFont(const QFont& font) = 0;

    // The graph: repaint (bookmarks and markers A/B are drawn there) and centre on a display time.
    // Quiet until the window has a graph pane.
    virtual void RepaintGraph() {}
    virtual void CenterGraphOn(int64_t displayTime) { (void)displayTime; }
};
