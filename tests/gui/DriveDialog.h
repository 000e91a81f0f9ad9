// A window command whose modal dialog the test drives through its widgets instead of a user.
#pragma once

#include "MainFrame.h"

#include <QTest>

#include <functional>

// Runs the command; its dialog, which must be a Dialog, shows and `drive` works it (ending it with OK
// or Cancel). False when the command opened no such dialog.
template <class Dialog>
bool DriveDialog(CMainFrame& w, uint32_t command, const std::function<void(Dialog&)>& drive) {
    bool opened = false;
    w.execToolDialog = [&](QDialog& d) {
        auto* dialog = qobject_cast<Dialog*>(&d);
        if (!dialog) return int(QDialog::Rejected);
        opened = true;
        d.show();
        if (!QTest::qWaitForWindowExposed(&d)) qWarning("dialog not exposed");
        drive(*dialog);
        return d.result();
    };
    w.ExecuteCommand(command);
    return opened;
}
