#pragma once

#include "app/frm_main.h"
#include "tests/app/frm_main_probe.h"
#include "tests/instrument/fake_quorix.h"
#include "tests/support/preset_message_boxes.h"

#include <QTemporaryDir>

namespace testing {

// The program with a scripted control that knows one instrument of a supported family, and
// its lock and settings files in a temporary folder of its own.
struct FakeProgram {
    static inline const QString Resource = QStringLiteral("TCPIP0::127.0.0.1::5025::SOCKET");

    QTemporaryDir dir;
    FakeQuorix quorix;
    PresetMessageBoxes boxes;
    frmMain window{quorix, boxes};
    frmMainProbe probe{window};

    FakeProgram() {
        window.setInstanceLockPath(dir.filePath("Varnolt.lock"));
        window.setSettingsFilePath(settingsPath());
        quorix.resources = QStringList{Resource};
        quorix.idnOf = {{Resource, "ORVANE,NQX8034,C010442,FV:1"}};
    }
    QString settingsPath() const { return dir.filePath("Varnolt.ini"); }
};

} // namespace testing
