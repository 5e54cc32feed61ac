#include <gtest/gtest.h>

#include <string>

#include "probe.h"
#include "tests/e2e/program.h"
#include "tests/support/sim_client.h"
#include "tests/support/update_server_client.h"
#include "view/control_ids.h"

// Explorer asks the foreground window, before it opens its AutoPlay window for
// a new drive, whether to leave it: the real program, asked from outside as
// Explorer asks, says so only while it updates (the RPI-RP2 drive is then its
// own), and otherwise gives the default answer.

namespace {

LRESULT AskAutoPlay(HWND main) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(main, RegisterWindowMessageW(L"QueryCancelAutoPlay"), 0, 0, SMTO_ABORTIFHUNG, 5000,
                             &answer)) {
        return -1;
    }
    return static_cast<LRESULT>(answer);
}

}  // namespace

TEST(AutoPlayEndToEnd, TheProgramKeepsAutoPlayAwayOnlyWhileItUpdates) {
    ResetUpdateServer();
    ServeImage("/fw/norva1-1.4.0.uf2", "1.4.0", 65536);
    const std::wstring url = UpdateServerUrl("/fw/norva1-1.4.0.uf2");
    ServeManifest("version=1.4.0\nxzdz=" + std::string(url.begin(), url.end()) + "\n");
    SimDevice device("fw=1.0.0");
    ConnectedProgram window(device);
    ASSERT_TRUE(window.ready);
    ASSERT_TRUE(window.Run(IdCheckLatestButton, L"检测到新固件: 1.4.0"));
    EXPECT_EQ(AskAutoPlay(window.main), 0);

    ASSERT_TRUE(ProbePostCommand(window.main, IdUpdateButton));
    // The moment Explorer asks: the boot loader's drive is on its way.
    ASSERT_TRUE(WaitForText(window.main, IdStatusLabel, L"正在等待 RPI-RP2 磁盘出现...", 15000));
    EXPECT_EQ(AskAutoPlay(window.main), TRUE);

    ASSERT_TRUE(WaitForText(window.main, IdStatusLabel, L"固件更新完成，设备已重连。", 60000));
    ASSERT_TRUE(WaitForEnabled(window.main, IdConnectButton, true, 5000));
    EXPECT_EQ(AskAutoPlay(window.main), 0);
}
