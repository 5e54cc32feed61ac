#pragma once

// Control ids of the main window's children (the captions and titles have id 0).
enum ControlId : int {
    IdPortCombo = 1001,
    IdRefreshButton = 1002,
    IdConnectButton = 1003,
    IdReadVersionButton = 1004,
    IdCheckLatestButton = 1005,
    IdUpdateButton = 1006,
    IdConnStateLabel = 1007,
    IdPortLabel = 1008,
    IdCurrentVersionLabel = 1009,
    IdLatestVersionLabel = 1010,
    IdVerdictLabel = 1011,
    IdStatusLabel = 1012,
    IdProgressBar = 1013,
    IdMacroLabel = 1014,
    IdMacroToggle = 1015,
    IdHidLabel = 1016,
    IdHidStateLabel = 1017,
    IdHidToggle = 1018,
};
