// How the toolkit-free core talks to the user: status text, message boxes, wait cursor, view updates.
#pragma once

#include <string>

class IUserNotify {
public:
    virtual ~IUserNotify() = default;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    virtual void UpdateAllViews() = 0;
    // True while a recording fills the document; progress texts are shown only when false.
    virtual bool IsCapturing() const = 0;
};

// Says nothing; used where no user is listening (command-line tool, benchmarks).
class CSilentNotify : public IUserNotify {
public:
    void SetStatusText(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void UpdateAllViews() override {}
    bool IsCapturing() const override { return false; }
};
