// A main window for view tests: a real document and settings, flags the test sets, and a record of what
// the views asked for (status texts, messages, commands).
#pragma once

#include "DocView.h"
#include "FindCriteria.h"
#include "Notify.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "Settings.h"

#include <QFont>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CFakeViewHost : public IViewHost, public IUserNotify, public IDocumentHooks {
public:
    CFakeViewHost() : doc(this, this) {}

    // IViewHost
    CQXDoc* Document() override { return hasDocument ? &doc : nullptr; }
    CSettings& Settings() override { return settings; }
    void UpdateAllViews(IDocView* sender, int64_t hint) override {
        ++updates;
        for (IDocView* v : views) v->OnUpdate(sender, hint);
    }
    void SetStatusText(const std::string& text) override { status = text; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool IsCapturing() const override { return capturing; }
    bool RecordingActive() const override { return recordingActive; }
    bool LiveReadingsValid() const override { return liveValid; }
    const LiveReadings& Live() const override { return live; }
    bool PdMessageAutoScroll() const override { return autoScroll; }
    const CFindCriteria& FindCriteria() const override { return find; }
    const CFindCriteria& DisplayFilter() const override { return filter; }
    const CCCPacket* SelectedPacket() override { return selectedPacket ? selectedPacket() : nullptr; }
    CQXLogView* PacketList() override { return packetList; }
    CPDPacketTreeView* PacketTree() override { return packetTree; }
    CPDPacketListView* FieldTable() override { return fieldTable; }
    void ExecuteCommand(uint32_t id) override { commands.push_back(id); }
    bool IsCommandEnabled(uint32_t id) const override { return enabled.count(id) != 0; }
    const QFont* RememberedListFont() const override { return listFont ? &*listFont : nullptr; }
    void RememberListFont(const QFont& font) override { listFont = font; }
    void RepaintGraph() override { ++graphRepaints; }
    void CenterGraphOn(int64_t t) override { graphCentres.push_back(t); }

    // IUserNotify (the document's)
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void UpdateAllViews() override { UpdateAllViews(nullptr, 0); }

    // IDocumentHooks
    void ForgetPacketRows() override {
        if (forgetRows) forgetRows();
    }

    CQXDoc doc;
    CSettings settings;
    CFindCriteria find{CFindCriteria::kFind};
    CFindCriteria filter{CFindCriteria::kDisplayFilter};
    LiveReadings live;
    bool hasDocument = true;
    bool capturing = false;
    bool recordingActive = false;
    bool liveValid = false;
    bool autoScroll = true;
    std::set<uint32_t> enabled;
    std::vector<IDocView*> views; // in creation order
    CQXLogView* packetList = nullptr;
    CPDPacketTreeView* packetTree = nullptr;
    CPDPacketListView* fieldTable = nullptr;
    std::function<const CCCPacket*()> selectedPacket;
    std::function<void()> forgetRows;
    std::optional<QFont> listFont;

    std::string status;
    std::vector<std::string> messages;
    std::vector<uint32_t> commands;
    std::vector<int64_t> graphCentres;
    int updates = 0;
    int graphRepaints = 0;
};
